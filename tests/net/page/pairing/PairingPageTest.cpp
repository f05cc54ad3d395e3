// What the pairing page shows and serves: the link's QR code, read back from each drawing (the
// SVG's path and the terminal's half blocks must put every module where the encoder put it,
// quiet zone and all), the page itself, its icons and manifest, and the phone page's script.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "fakes/FakeClock.h"
#include "fakes/FakePairedDeviceStore.h"
#include "net/page/PageAssets.h"
#include "net/page/PageCommand.h"
#include "net/page/pairing/PageAdmission.h"
#include "net/page/pairing/PagePairingScript.h"
#include "net/page/pairing/PairingPage.h"
#include "net/page/pairing/PairingSite.h"
#include "net/page/pairing/Proofs.h"
#include "net/page/pairing/QrCode.h"

namespace {

const char* const kLink = "http://192.168.1.20:17496/#pair=00112233445566778899aabbccddeeff";

// The modules an SVG's path marks dark, as the matrix holds them (quiet zone removed). The path
// is a list of runs, "M<x>,<y>h<length>v1h-<length>z".
QrMatrix FromSvg(const std::string& svg, int size) {
  QrMatrix matrix{size, std::vector<bool>(static_cast<size_t>(size * size))};
  const size_t start = svg.find(" d=\"");
  EXPECT_NE(start, std::string::npos);
  std::istringstream path(svg.substr(start + 4, svg.find('"', start + 4) - start - 4));
  int x = 0, y = 0, length = 0, back = 0;
  char m, comma, h, v, one, h2, z;
  while (path >> m >> x >> comma >> y >> h >> length >> v >> one >> h2 >> back >> z) {
    EXPECT_TRUE(m == 'M' && comma == ',' && h == 'h' && v == 'v' && one == '1' && h2 == 'h' &&
                back == -length && z == 'z');
    x -= kQuietZone;
    y -= kQuietZone;
    for (int i = 0; i < length; ++i) {
      EXPECT_TRUE(x + i >= 0 && x + i < size && y >= 0 && y < size) << x << "," << y;
      if (x + i >= 0 && x + i < size && y >= 0 && y < size) {
        matrix.dark[static_cast<size_t>(y * size + x + i)] = true;
      }
    }
  }
  EXPECT_TRUE(path.eof()) << "the whole path read";
  return matrix;
}

// The modules a terminal drawing shows dark, quiet zone included, and whether every line has
// the same width.
std::vector<std::vector<bool>> FromTerminal(const std::string& text) {
  std::vector<std::vector<bool>> rows;
  size_t at = 0;
  while (at < text.size()) {
    std::vector<bool> upper, lower;
    while (text[at] != '\n') {
      const std::string_view rest = std::string_view(text).substr(at);
      bool upperLight = false, lowerLight = false;
      if (rest.starts_with(" ")) {
        at += 1;
      } else if (rest.starts_with("\u2588")) {
        upperLight = lowerLight = true;
        at += 3;
      } else if (rest.starts_with("\u2580")) {
        upperLight = true;
        at += 3;
      } else if (rest.starts_with("\u2584")) {
        lowerLight = true;
        at += 3;
      } else {
        ADD_FAILURE() << "unexpected character at " << at;
        return rows;
      }
      upper.push_back(!upperLight);
      lower.push_back(!lowerLight);
    }
    ++at;
    rows.push_back(upper);
    rows.push_back(lower);
  }
  return rows;
}

TEST(QrCode, EachDrawingShowsTheEncodedModulesInsideTheirQuietZone) {
  const std::optional<QrMatrix> matrix = EncodeQr(kLink);
  ASSERT_TRUE(matrix);
  ASSERT_GE(matrix->size, 21);
  ASSERT_EQ((matrix->size - 17) % 4, 0) << "a QR code's side is 17 + 4 * version";
  // The finder pattern's dark ring and light ring, in three corners, as a camera looks for.
  for (const auto& [cx, cy] : {std::pair{0, 0}, {matrix->size - 7, 0}, {0, matrix->size - 7}}) {
    EXPECT_TRUE(matrix->Dark(cx, cy) && matrix->Dark(cx + 6, cy + 6) &&
                matrix->Dark(cx + 3, cy + 3));
    EXPECT_FALSE(matrix->Dark(cx + 1, cy + 1) || matrix->Dark(cx + 5, cy + 5));
  }

  const std::string svg = QrSvg(*matrix, "Pairing link \"for\" <phones>");
  const std::string side = std::to_string(matrix->size + 2 * kQuietZone);
  EXPECT_NE(svg.find("viewBox=\"0 0 " + side + " " + side + "\""), std::string::npos);
  EXPECT_NE(svg.find("aria-label=\"Pairing link &quot;for&quot; &lt;phones&gt;\""),
            std::string::npos);
  EXPECT_EQ(FromSvg(svg, matrix->size).dark, matrix->dark);

  const std::vector<std::vector<bool>> shown = FromTerminal(QrTerminal(*matrix));
  const int full = matrix->size + 2 * kQuietZone;
  ASSERT_EQ(shown.size(), static_cast<size_t>(full + 1)) << "an odd count of rows, one spare";
  for (int y = 0; y < full + 1; ++y) {
    ASSERT_EQ(shown[y].size(), static_cast<size_t>(full)) << y;
    for (int x = 0; x < full; ++x) {
      // The spare row below the last is left blank, never drawn light.
      const bool dark = y == full || matrix->Dark(x - kQuietZone, y - kQuietZone);
      EXPECT_EQ(shown[y][x], dark) << x << "," << y;
    }
  }
}

TEST(QrCode, TextsThatCannotBeEncodedAreRefused) {
  EXPECT_FALSE(EncodeQr(std::string(8000, 'a')));
  EXPECT_FALSE(EncodeQr(std::string_view("a\0b", 3)));
}

TEST(PageAssets, IconsAndManifestAreServedAndNothingElse) {
  struct Case {
    const char* path;
    const char* type;
    uint32_t side;  // of a PNG; 0 for the manifest
  };
  for (const Case& c :
       {Case{"/favicon.ico", "image/png", 32}, Case{"/icon-192.png", "image/png", 192},
        Case{"/icon-512.png", "image/png", 512}, Case{"/apple-touch-icon.png", "image/png", 192},
        Case{"/manifest.webmanifest", "application/manifest+json", 0}}) {
    const std::optional<PageAsset> asset = FindPageAsset(c.path, "den");
    ASSERT_TRUE(asset) << c.path;
    EXPECT_EQ(asset->contentType, c.type);
    if (c.side == 0) continue;
    ASSERT_GT(asset->body.size(), 24u) << c.path;
    EXPECT_EQ(asset->body.substr(0, 8), "\x89PNG\r\n\x1a\n") << c.path;
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(asset->body[i]); };
    EXPECT_EQ(uint32_t(byte(16)) << 24 | byte(17) << 16 | byte(18) << 8 | byte(19), c.side)
        << c.path << "'s width";
  }
  for (const char* other : {"/", "/icon-32.png", "/favicon.ico/", "/manifest.json", ""}) {
    EXPECT_FALSE(FindPageAsset(other, "den")) << other;
  }
  const std::string manifest = FindPageAsset("/manifest.webmanifest", "Jo's \"den\"")->body;
  EXPECT_NE(manifest.find(R"("name":"Jo's \"den\" volume")"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find(R"("src":"/icon-512.png","sizes":"512x512")"), std::string::npos);
}

TEST(PairingPage, ShowsTheCodeAndThePhonesWithEveryTextEscaped) {
  const std::string link = PairingLink("[fd00::5]:17496", std::string(32, 'c'));
  EXPECT_EQ(link, "http://[fd00::5]:17496/#pair=" + std::string(32, 'c'));
  const PairedDevice phone{std::string(16, '1'), {}, "Chrome </script> on \"Android\"", 1718000000};
  const std::string page =
      PairingPageHtml({"Jo's <den> {{PHONES}}", link, "<svg>QR</svg>", {phone}});
  for (
      const std::string& shown : std::vector<std::string>{
          std::string("<title>Pair a phone with Jo&#39;s &lt;den&gt; {{PHONES}}</title>"),
          std::string("Scan this with your phone's camera"), "<div class=\"qr\"><svg>QR</svg>",
          "<p class=\"link\">" + link + "</p>", std::string("about 10 minutes"),
          std::string(
              R"([{"id":"1111111111111111","name":"Chrome \u003c/script\u003e on \"Android\"","pairedAt":1718000000}])"),
          std::string(">Forget all</button>"), std::string("<link rel=\"manifest\"")}) {
    EXPECT_NE(page.find(shown), std::string::npos) << shown;
  }
  EXPECT_EQ(page.find("</script> on"), std::string::npos);

  const std::string nowhere = PairingPageHtml({"den", "", "", {}});
  EXPECT_NE(nowhere.find("No phone can reach this computer"), std::string::npos);
  EXPECT_EQ(nowhere.find("<svg"), std::string::npos);
  EXPECT_NE(nowhere.find(">[]</script>"), std::string::npos);
}

// The code in the pairing link found in `text`; empty when there is none.
std::string CodeIn(const std::string& text) {
  const std::string link = "http://192.168.1.20:17496/#pair=";
  const size_t at = text.find(link);
  if (at == std::string::npos) return "";
  const std::string code = text.substr(at + link.size(), 32);
  return IsLowerHex(code, 32) ? code : "";
}

// Whether a phone pairs with `code` (a page's socket, as PairingTest does it in full).
bool Pairs(Pairing& pairing, const std::string& code) {
  PageAdmission socket(pairing, *ParseIpAddress("192.168.1.30"), "");
  const std::string& challenge = socket.Challenge();
  const std::string nonce = challenge.substr(challenge.find("\"nonce\":\"") + 9, kNonceBytes * 2);
  if (!ParseHex(nonce) || !ParseHex(code)) return false;
  const std::string proof = HexText(*CodeProof(*ParseHex(code), *ParseHex(nonce)));
  return socket.Take("pair " + proof).verdict == PageAdmission::Verdict::kAdmitted;
}

TEST(PairingSite, OnlyTheComputerItselfSeesThePairingPathsAndOnlyOurPageForgets) {
  FakeClock clock;
  FakePairedDeviceStore store;
  store.kept = {{std::string(16, '1'), Bytes(32, 1), "Chrome on Android", 1718000000}};
  Pairing pairing(clock, store);
  PairingSite site(pairing, "den");
  site.SetPageAddress("192.168.1.20:17496");
  struct Case {
    const char* method;
    std::string target;
    bool loopback;
    bool ourPage;
    int status;  // 0: not pairing's path
  };
  const std::string other(16, '2');
  const Case cases[] = {
      {"GET", "/", true, true, 0},
      {"GET", "/pairing", true, true, 0},
      {"GET", "/pair", false, true, 404},
      {"GET", "/pair/phones", false, true, 404},
      {"POST", "/pair/forget-all", false, true, 404},
      {"GET", "/pair", true, true, 200},
      {"HEAD", "/pair?again", true, true, 200},
      {"POST", "/pair", true, true, 405},
      {"GET", "/pair/phones", true, true, 200},
      {"GET", "/pair/forget-all", true, true, 405},
      {"POST", "/pair/forget-all", true, false, 403},
      {"POST", "/pair/forget/" + other, true, true, 404},
      {"POST", "/pair/forget/nothex", true, true, 404},
      {"POST", "/pair/forget/" + std::string(16, '1'), true, false, 403},
      {"POST", "/pair/forget/" + std::string(16, '1'), true, true, 204},
      {"POST", "/pair/forget-all", true, true, 204},
  };
  for (const Case& c : cases) {
    const std::optional<PairingReply> reply =
        site.Answer({c.method, c.target, c.loopback, c.ourPage});
    EXPECT_EQ(reply ? reply->status : 0, c.status) << c.method << " " << c.target;
  }
  EXPECT_TRUE(store.kept.empty()) << "forgotten by the page's own requests only";

  // Every load of the page shows a fresh code that pairs one phone.
  const std::string first = CodeIn(site.Answer({"GET", "/pair", true, true})->body);
  const std::string second = CodeIn(site.Answer({"GET", "/pair", true, true})->body);
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  EXPECT_TRUE(Pairs(pairing, second));
  EXPECT_TRUE(Pairs(pairing, first));
  const std::string phones = site.Answer({"GET", "/pair/phones", true, true})->body;
  EXPECT_NE(phones.find(R"("name":"A browser")"), std::string::npos) << phones;

  // A link for the terminal (`--pair`) carries a live code too.
  const std::optional<std::string> link = site.NewLink();
  ASSERT_TRUE(link);
  EXPECT_TRUE(Pairs(pairing, CodeIn(*link)));
  const std::optional<std::string> terminal = PairingTerminalText(*link);
  ASSERT_TRUE(terminal);
  EXPECT_NE(terminal->find(*link + "\n"), std::string::npos);
  EXPECT_NE(terminal->find("\u2588"), std::string::npos);
}

TEST(PairingSite, NoAddressAPhoneCouldReachMeansNoCode) {
  FakeClock clock;
  FakePairedDeviceStore store;
  Pairing pairing(clock, store);
  PairingSite site(pairing, "den");
  const std::string page = site.Answer({"GET", "/pair", true, true})->body;
  EXPECT_NE(page.find("No phone can reach this computer"), std::string::npos);
  EXPECT_EQ(page.find("#pair="), std::string::npos);
  EXPECT_FALSE(site.NewLink());
}

TEST(PagePairingScript, HoldsTheLibraryAndTheProofsAndCannotEndThePageScript) {
  const std::string script = PagePairingScript();
  EXPECT_NE(script.find("CryptoJS"), std::string::npos);
  EXPECT_NE(script.find("const PairingProofs"), std::string::npos);
  // Inside the page's <script>, this would end it early.
  std::string lower = script;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(lower.find("</script"), std::string::npos);
}

}  // namespace
