// Pairing as a phone's page meets it: codes that pair one phone within ten minutes, the
// challenge each socket answers, phones forgotten at once, and failed tries counted per
// address. The page's side of each proof is computed with the same functions the page's script
// mirrors (checked against the script in the browser tests).
#include <gtest/gtest.h>

#include <algorithm>

#include "fakes/CapturedLog.h"
#include "fakes/FakeClock.h"
#include "fakes/FakePairedDeviceStore.h"
#include "net/page/pairing/DeviceName.h"
#include "net/page/pairing/PageAdmission.h"
#include "net/page/pairing/Proofs.h"

namespace {

constexpr int64_t kPairedAt = 1718000000;
const char* const kPhone =
    "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/126.0.0.0 Mobile Safari/537.36";

IpAddress Ip(const char* text) {
  return ParseIpAddress(text).value_or(IpAddress{});
}

// The nonce inside a challenge message.
std::string NonceOf(const std::string& challenge) {
  const std::string head = R"({"type":"challenge","nonce":")";
  EXPECT_EQ(challenge.rfind(head, 0), 0u) << challenge;
  EXPECT_EQ(challenge.size(), head.size() + kNonceBytes * 2 + 2) << challenge;
  return challenge.substr(head.size(), kNonceBytes * 2);
}

std::string Hex(const std::optional<Sha256Digest>& digest) {
  EXPECT_TRUE(digest);
  return digest ? HexText(*digest) : "";
}

// What the page's script does with a code it read and the nonce it was sent.
struct Page {
  std::string device;
  std::string key;

  std::string PairCommand(const std::string& code, const std::string& nonce) const {
    return "pair " + Hex(CodeProof(*ParseHex(code), *ParseHex(nonce)));
  }
  std::string AnswerCommand(const std::string& nonce) const {
    return "answer " + device + " " + Hex(KeyAnswer(*ParseHex(key), *ParseHex(nonce)));
  }
};

class PairingTest : public ::testing::Test {
 protected:
  PageAdmission Socket(const char* peer = "192.168.1.20") {
    return PageAdmission(pairing, Ip(peer), kPhone);
  }
  // Pairs a phone through a socket, as the page does after the camera opened the link.
  Page PairPhone() {
    const std::string code = pairing.codes.Issue();
    PageAdmission socket = Socket();
    const std::string nonce = NonceOf(socket.Challenge());
    Page page;
    const PageAdmission::Step step = socket.Take(page.PairCommand(code, nonce));
    EXPECT_EQ(step.verdict, PageAdmission::Verdict::kAdmitted) << step.message;
    page.device = step.deviceId;
    page.key = Hex(DeviceKey(*ParseHex(code), *ParseHex(nonce)));
    EXPECT_EQ(step.message, R"({"type":"paired","device":")" + page.device + R"("})");
    return page;
  }

  FakeClock clock;
  FakePairedDeviceStore store;
  Pairing pairing{clock, store, [] { return kPairedAt; }};
};

TEST_F(PairingTest, APairedPhoneIsLetInByItsKeyAndKeptWithItsNameAndTime) {
  const Page page = PairPhone();
  ASSERT_EQ(store.kept.size(), 1u);
  EXPECT_EQ(store.kept[0].id, page.device);
  EXPECT_EQ(HexText(store.kept[0].key), page.key) << "both sides derived the same key";
  EXPECT_EQ(store.kept[0].name, "Chrome on Android");
  EXPECT_EQ(store.kept[0].pairedAt, kPairedAt);

  PageAdmission later = Socket();
  const PageAdmission::Step step = later.Take(page.AnswerCommand(NonceOf(later.Challenge())));
  EXPECT_EQ(step.verdict, PageAdmission::Verdict::kAdmitted);
  EXPECT_EQ(step.deviceId, page.device);
  EXPECT_TRUE(step.message.empty()) << "the greeting follows, nothing else";

  // After a restart the phone is still known, by the same key.
  Pairing restarted{clock, store, [] { return kPairedAt; }};
  PageAdmission again(restarted, Ip("192.168.1.20"), kPhone);
  EXPECT_EQ(again.Take(page.AnswerCommand(NonceOf(again.Challenge()))).verdict,
            PageAdmission::Verdict::kAdmitted);
}

TEST_F(PairingTest, EverySocketHasItsOwnNonceSoARecordedAnswerIsRefused) {
  const Page page = PairPhone();
  PageAdmission first = Socket();
  PageAdmission second = Socket();
  const std::string firstNonce = NonceOf(first.Challenge());
  ASSERT_NE(firstNonce, NonceOf(second.Challenge()));
  const std::string recorded = page.AnswerCommand(firstNonce);
  EXPECT_EQ(first.Take(recorded).verdict, PageAdmission::Verdict::kAdmitted);
  const PageAdmission::Step replayed = second.Take(recorded);
  EXPECT_EQ(replayed.verdict, PageAdmission::Verdict::kRefused);
  EXPECT_EQ(replayed.message, R"({"type":"refused","reason":"wrong-answer"})");
  // A recorded pairing is worth no more: the code is used, and a new nonce needs a new proof.
}

TEST_F(PairingTest, ACodePairsOnePhoneWithinTenMinutes) {
  struct Case {
    const char* what;
    uint32_t waitMs;
    bool useTwice;
    std::string_view reason;  // of the refusal; empty when it pairs
  };
  const Case cases[] = {
      {"fresh", 0, false, ""},
      {"a moment before it lapses", PairingCodes::kLifetimeMs - 1, false, ""},
      {"as it lapses", PairingCodes::kLifetimeMs, false, "code-lapsed"},
      {"used already", 0, true, "code-used"},
  };
  for (const Case& c : cases) {
    const std::string code = pairing.codes.Issue();
    ASSERT_EQ(code.size(), PairingCodes::kCodeBytes * 2) << "128 bits";
    Page page;
    if (c.useTwice) {
      PageAdmission first = Socket();
      ASSERT_EQ(first.Take(page.PairCommand(code, NonceOf(first.Challenge()))).verdict,
                PageAdmission::Verdict::kAdmitted);
    }
    clock.Advance(c.waitMs);
    PageAdmission socket = Socket();
    const PageAdmission::Step step =
        socket.Take(page.PairCommand(code, NonceOf(socket.Challenge())));
    if (c.reason.empty()) {
      EXPECT_EQ(step.verdict, PageAdmission::Verdict::kAdmitted) << c.what;
    } else {
      EXPECT_EQ(step.verdict, PageAdmission::Verdict::kRefused) << c.what;
      EXPECT_NE(step.message.find(c.reason), std::string::npos) << c.what << ": " << step.message;
    }
  }
  PageAdmission socket = Socket();
  const std::string made_up(PairingCodes::kCodeBytes * 2, 'a');
  EXPECT_NE(socket.Take(Page{}.PairCommand(made_up, NonceOf(socket.Challenge())))
                .message.find("code-wrong"),
            std::string::npos);
  EXPECT_NE(pairing.codes.Issue(), pairing.codes.Issue());
}

TEST_F(PairingTest, AForgottenPhoneIsClosedAtOnceAndRefusedAfter) {
  const Page kept = PairPhone();
  const Page forgotten = PairPhone();
  const Page third = PairPhone();
  std::vector<std::string> closed;
  PairedDevices::Watch watch =
      pairing.devices.OnForget([&](const std::string& id) { closed.push_back(id); });

  EXPECT_TRUE(pairing.devices.Forget(forgotten.device));
  EXPECT_EQ(closed, std::vector<std::string>{forgotten.device});
  ASSERT_EQ(store.kept.size(), 2u) << "kept without it";
  PageAdmission socket = Socket();
  EXPECT_EQ(socket.Take(forgotten.AnswerCommand(NonceOf(socket.Challenge()))).message,
            R"({"type":"refused","reason":"unpaired"})");

  EXPECT_TRUE(pairing.devices.ForgetAll());
  EXPECT_EQ(closed, (std::vector<std::string>{forgotten.device, kept.device, third.device}));
  EXPECT_TRUE(store.kept.empty());

  // A page that is gone hears nothing more.
  watch.Reset();
  PairPhone();
  pairing.devices.ForgetAll();
  EXPECT_EQ(closed.size(), 3u);
}

TEST_F(PairingTest, AStoreThatCannotBeWrittenPairsNobodyButStillForgets) {
  const Page page = PairPhone();
  store.failSaving = true;
  CapturedLog log;
  const std::string code = pairing.codes.Issue();
  PageAdmission socket = Socket();
  EXPECT_EQ(socket.Take(Page{}.PairCommand(code, NonceOf(socket.Challenge()))).message,
            R"({"type":"refused","reason":"server-error"})");
  EXPECT_EQ(pairing.devices.List().size(), 1u);
  EXPECT_FALSE(pairing.devices.Forget(page.device)) << "the failure is reported";
  PageAdmission after = Socket();
  EXPECT_EQ(after.Take(page.AnswerCommand(NonceOf(after.Challenge()))).verdict,
            PageAdmission::Verdict::kRefused)
      << "forgotten all the same";
}

TEST_F(PairingTest, ListedPhonesCarryNoKeys) {
  PairPhone();
  PairPhone();
  const std::vector<PairedDevice> listed = pairing.devices.List();
  ASSERT_EQ(listed.size(), 2u);
  for (const PairedDevice& device : listed) EXPECT_TRUE(device.key.empty());
}

TEST_F(PairingTest, AnythingButOneWellFormedCommandIsAProtocolError) {
  const std::string id(16, 'a');
  const std::string mac(64, 'b');
  for (const std::string& text : std::vector<std::string>{
           "", "answer", "answer " + id, "answer " + id + " " + mac + " x",
           "answer " + id + " " + mac.substr(1), "answer " + id.substr(1) + " " + mac,
           "answer " + std::string(16, 'A') + " " + mac, "pair", "pair " + mac.substr(2),
           "pair " + mac + " " + mac, "Pair " + mac, "media next", "answer  " + id + " " + mac}) {
    PageAdmission socket = Socket();
    EXPECT_EQ(socket.Take(text).verdict, PageAdmission::Verdict::kProtocolError) << text;
  }
  // One try a socket: whatever follows the first command is an error too.
  const Page page = PairPhone();
  PageAdmission socket = Socket();
  const std::string answer = page.AnswerCommand(NonceOf(socket.Challenge()));
  EXPECT_EQ(socket.Take(answer).verdict, PageAdmission::Verdict::kAdmitted);
  EXPECT_EQ(socket.Take(answer).verdict, PageAdmission::Verdict::kProtocolError);
}

TEST_F(PairingTest, TenFailuresAMinuteShutAnAddressOutAndAreLoggedOnceAMinute) {
  const Page page = PairPhone();
  CapturedLog log;
  const std::string wrong = "answer " + page.device + " " + std::string(64, '0');
  for (int i = 0; i < 10; ++i) {
    PageAdmission socket = Socket();
    ASSERT_EQ(socket.Take(wrong).message, R"({"type":"refused","reason":"wrong-answer"})") << i;
    clock.Advance(1000);
  }
  const auto tryRightly = [&](const char* peer) {
    PageAdmission socket = Socket(peer);
    return socket.Take(page.AnswerCommand(NonceOf(socket.Challenge())));
  };
  EXPECT_EQ(tryRightly("192.168.1.20").message, R"({"type":"refused","reason":"too-many-tries"})")
      << "even the right answer, for now";
  EXPECT_EQ(tryRightly("192.168.1.21").verdict, PageAdmission::Verdict::kAdmitted)
      << "another address is not shut out";
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("refused a page from 192.168.1.20: a wrong answer"), std::string::npos)
      << lines[0];

  // A minute later the address may try again, and its next failure is logged again.
  clock.Advance(60000);
  PageAdmission socket = Socket();
  EXPECT_EQ(socket.Take(wrong).verdict, PageAdmission::Verdict::kRefused);
  EXPECT_EQ(log.Lines().size(), 2u);
  EXPECT_EQ(tryRightly("192.168.1.20").verdict, PageAdmission::Verdict::kAdmitted);
}

TEST(DeviceName, TheBrowserAndSystemAPersonKnows) {
  struct Case {
    const char* userAgent;
    const char* name;
  };
  const Case cases[] = {
      {kPhone, "Chrome on Android"},
      {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
       "Gecko) Version/17.5 Mobile/15E148 Safari/604.1",
       "Safari on iPhone"},
      {"Mozilla/5.0 (iPad; CPU OS 16_0 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
       "CriOS/126.0 Mobile/15E148 Safari/604.1",
       "Chrome on iPad"},
      {"Mozilla/5.0 (Android 14; Mobile; rv:127.0) Gecko/127.0 Firefox/127.0",
       "Firefox on Android"},
      {"Mozilla/5.0 (Linux; Android 14; SM-S918B) AppleWebKit/537.36 (KHTML, like Gecko) "
       "SamsungBrowser/25.0 Chrome/121.0.0.0 Mobile Safari/537.36",
       "Samsung Internet on Android"},
      {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/126.0.0.0 Safari/537.36 Edg/126.0.0.0",
       "Edge on Windows"},
      {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
       "Version/17.5 Safari/605.1.15",
       "Safari on Mac"},
      {"Mozilla/5.0 (X11; Linux x86_64; rv:127.0) Gecko/20100101 Firefox/127.0",
       "Firefox on Linux"},
      {"curl/8.0", "A browser"},
      {"", "A browser"},
      {"Something (Linux) \x01\xff", "A browser on Linux"},
  };
  for (const Case& c : cases) {
    const std::string name = DeviceName(c.userAgent);
    EXPECT_EQ(name, c.name) << c.userAgent;
    EXPECT_TRUE(WellFormed({std::string(16, '0'), Bytes(32), name, 0})) << name;
  }
}

}  // namespace
