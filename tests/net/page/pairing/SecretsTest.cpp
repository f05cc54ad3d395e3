// The system's HMAC-SHA-256 against the standard's vectors, hex both ways, the comparison that
// takes no shortcut, and the CSPRNG.
#include <gtest/gtest.h>

#include <sstream>

#include "net/page/EmbeddedFile.h"
#include "net/page/pairing/Secrets.h"

std::span<const EmbeddedFile> HmacVectorFiles();

namespace {

Bytes Hex(std::string_view text) {
  const std::optional<Bytes> bytes = ParseHex(text);
  EXPECT_TRUE(bytes) << text;
  return bytes.value_or(Bytes{});
}

TEST(Secrets, HmacSha256MatchesTheStandardVectors) {
  std::istringstream vectors(
      std::string(FindEmbedded(HmacVectorFiles(), "hmac-sha256-vectors.txt")));
  int checked = 0;
  for (std::string line; std::getline(vectors, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string key, data, expected;
    fields >> key >> data >> expected;
    const std::optional<Sha256Digest> mac = HmacSha256(Hex(key), Hex(data));
    ASSERT_TRUE(mac) << line;
    EXPECT_EQ(HexText(*mac).substr(0, expected.size()), expected) << "key " << key;
    ++checked;
  }
  EXPECT_EQ(checked, 7);
  // An empty key and message are valid inputs, not a failure.
  EXPECT_EQ(HexText(*HmacSha256({}, {})),
            "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

TEST(Secrets, HexIsLowerCaseAndEvenAndNothingElse) {
  const Bytes bytes{0x00, 0x9f, 0xa0, 0xff};
  EXPECT_EQ(HexText(bytes), "009fa0ff");
  EXPECT_EQ(ParseHex("009fa0ff"), bytes);
  EXPECT_EQ(ParseHex(""), Bytes{});
  for (const char* bad : {"0", "009FA0FF", "0g", " 00", "00 ", "0x00", "+1", "-1"}) {
    EXPECT_FALSE(ParseHex(bad)) << bad;
  }
}

TEST(Secrets, SameSecretComparesEveryByteAndTheLength) {
  const Bytes a{1, 2, 3, 4};
  struct Case {
    Bytes other;
    bool same;
  };
  for (const Case& c :
       {Case{{1, 2, 3, 4}, true}, Case{{1, 2, 3, 5}, false}, Case{{0, 2, 3, 4}, false},
        Case{{1, 2, 3}, false}, Case{{1, 2, 3, 4, 0}, false}, Case{{}, false}}) {
    EXPECT_EQ(SameSecret(a, c.other), c.same) << HexText(c.other);
  }
  EXPECT_TRUE(SameSecret(Bytes{}, Bytes{}));
}

TEST(Secrets, RandomBytesDifferEachTime) {
  const Bytes first = RandomBytes(16);
  const Bytes second = RandomBytes(16);
  ASSERT_EQ(first.size(), 16u);
  ASSERT_EQ(second.size(), 16u);
  EXPECT_NE(first, second);
  EXPECT_NE(first, Bytes(16, 0));
  // More than one call's worth of the system's source at once.
  EXPECT_EQ(RandomBytes(1 << 21).size(), 1u << 21);
}

}  // namespace
