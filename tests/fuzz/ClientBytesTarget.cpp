// Fuzz target: one client of the real in-process server sends arbitrary bytes.
//
// Input: the first byte picks how the client behaves (the device state it finds, whether it
// sends byte by byte, whether it leaves with a reset, whether it talks to the control page's
// port, there after a valid WebSocket handshake or not); the rest is what it sends. Checked on
// every input: the server sends exactly the greeting and the initial state; every state byte
// up to the first invalid one reaches the volume control, in order, and nothing after it;
// the connection is ended and retired; the server keeps serving. On the page's port the HTTP
// and WebSocket parsers take the bytes: the connection must end within its bounds and be
// retired, whatever was sent; from loopback pairing's paths are served too, and the page's
// remote control takes its commands (a scriptable player and device list). With bit 64 the
// rest goes to the page's text parsers instead, on their own: as a socket's answer to its
// challenge, as the target of a pairing request from another computer, as a remote control's
// request, and as a JSON string (in the remote's messages too).

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include "fakes/FakeMediaControl.h"
#include "fakes/FakeOutputDevices.h"
#include "fakes/FakePairedDeviceStore.h"
#include "fakes/FakeRetryTimer.h"
#include "fakes/FakeVolumeControl.h"
#include "net/IClock.h"
#include "net/Protocol.h"
#include "net/VolumeRelay.h"
#include "net/VolumeServer.h"
#include "net/page/JsonText.h"
#include "net/page/PageCommand.h"
#include "net/page/RemoteMessages.h"
#include "net/page/pairing/PageAdmission.h"
#include "net/page/pairing/PairingSite.h"
#include "net/server/NetworkServer.h"
#include "support/TestClient.h"

namespace {

#define FUZZ_CHECK(condition, message)                                           \
  do {                                                                           \
    if (!(condition)) {                                                          \
      std::fprintf(stderr, "fuzz check failed: %s (%s)\n", message, #condition); \
      std::abort();                                                              \
    }                                                                            \
  } while (0)

// The relay, as the server's external listener, behind a counter of ended connections: a
// connection has ended for good (its requests all made) once its reader reported the end.
class CountingListener final : public IClientListener {
 public:
  explicit CountingListener(IClientListener& inner) : inner_(inner) {}
  void OnVolumeReceived(ClientConnection* connection, const VolumeState* state) override {
    inner_.OnVolumeReceived(connection, state);
  }
  void OnClientDisconnected(ClientConnection* connection) override {
    inner_.OnClientDisconnected(connection);
    ended_.fetch_add(1);
  }
  uint64_t Ended() const { return ended_.load(); }

 private:
  IClientListener& inner_;
  std::atomic<uint64_t> ended_{0};
};

struct Harness {
  Harness() {
    volume.echoSetState = true;  // each request reported back as applied
    outputs.Report({{{"speakers", "Speakers"}, {"quavix_other", "Other"}}, "speakers", true});
    volume.outputs = &outputs;
    media.Report({true, "Title", "Artist", true});
    wired.ConnectMedia(&media);
    wired.Server().SetExternalListener(&counting);
    port = wired.Serve(&volume, 0, &site);
    FUZZ_CHECK(port != 0, "server starts");
    pagePort = wired.Page().Port();
  }
  // Before `counting` goes: readers may still call it until the server has stopped.
  ~Harness() {
    wired.UnregisterChangeCallback();
    wired.Server().Stop();
  }

  FakeVolumeControl volume;
  FakeOutputDevices outputs;
  FakeMediaControl media;
  FakeRetryTimer retryTimer;
  VolumeServer wired{SystemClock(), retryTimer};
  NetworkServer& server = wired.Server();
  CountingListener counting{wired.Relay()};
  FakePairedDeviceStore phones;
  Pairing pairing{SystemClock(), phones};
  PairingSite pairingSite{pairing, "fuzz"};
  // A short request time, so a partial request ends soon.
  const PageSite site{"fuzz", {"localhost"}, std::chrono::milliseconds(200), &pairingSite};
  uint16_t port = 0;
  uint16_t pagePort = 0;
  uint64_t connections = 0;  // fuzzing thread only
};

Harness& TheHarness() {
  static Harness harness;
  return harness;
}

using Clock = std::chrono::steady_clock;
// How long the server may take to end a connection whose client has finished.
constexpr std::chrono::seconds kEndBound(10);

// True once every connection made so far has ended and left the client list.
bool AllEnded(Harness& harness) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (harness.counting.Ended() < harness.connections || harness.server.ClientCount() != 0) {
    if (Clock::now() >= deadline) return false;
    usleep(100);
  }
  return true;
}

constexpr VolumeState kStartStates[4] = {{0, 100}, {1, 30}, {0, 0}, {1, 100}};

// Whether `text` is UTF-8 with nothing below U+0020 left unescaped (what a browser's WebSocket
// and JSON.parse accept).
bool CleanJson(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (byte < 0x20) return false;
    if (byte < 0x80) continue;
    const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length - 1;
  }
  return true;
}

void FuzzPageTexts(Harness& harness, const std::vector<uint8_t>& bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (const std::optional<PageCommand> command = ParsePageCommand(text)) {
    FUZZ_CHECK(text.size() <= kLongestPageCommand, "a command is short");
    for (const char c : text) FUZZ_CHECK(c >= ' ' && c <= '~', "a command is printable");
    FUZZ_CHECK(!command->word.empty(), "a command has its word");
    // The remote takes only what its buttons and its list send.
    if (const std::optional<RemoteRequest> request = ParseRemoteRequest(*command)) {
      if (const auto* choice = std::get_if<OutputChoice>(&*request)) {
        FUZZ_CHECK(IsOutputDeviceId(choice->id), "a chosen output is an id");
        FUZZ_CHECK(text == "output " + choice->id, "an output request is its word and its id");
      } else {
        FUZZ_CHECK(text == "media previous" || text == "media playpause" || text == "media next",
                   "a media request is one of the buttons'");
      }
    }
  }
  const std::string name(text);
  FUZZ_CHECK(CleanJson(MediaMessage({true, name, name, true})), "media news is clean UTF-8");
  FUZZ_CHECK(CleanJson(OutputsMessage({{{"id", name}}, "id", true})), "outputs are clean UTF-8");
  // No text a guesser makes up lets a page in; nothing at all leaves before the challenge.
  PageAdmission admission(harness.pairing, *ParseIpAddress("192.168.1.9"), "fuzz");
  const PageAdmission::Step step = admission.Take(text);
  FUZZ_CHECK(step.verdict != PageAdmission::Verdict::kAdmitted, "made-up answers are refused");
  FUZZ_CHECK(admission.Take(text).verdict == PageAdmission::Verdict::kProtocolError, "one try");
  // Pairing's paths exist for the computer itself only.
  for (const char* method : {"GET", "POST"}) {
    const std::optional<PairingReply> reply =
        harness.pairingSite.Answer({method, text, false, true});
    FUZZ_CHECK(!reply || reply->status == 404, "no pairing path for another computer");
  }
  FUZZ_CHECK(CleanJson(JsonString(text)), "JSON strings are clean UTF-8");
  FUZZ_CHECK(harness.phones.kept.empty(), "nothing paired");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Harness& harness = TheHarness();
  const uint8_t how = data[0];
  const VolumeState start = kStartStates[how & 3];
  const bool byteByByte = (how & 4) != 0;
  const bool reset = (how & 8) != 0;
  const bool page = (how & 16) != 0;
  std::vector<uint8_t> sent(data + 1, data + size);
  if ((how & 64) != 0) {
    FuzzPageTexts(harness, sent);
    return 0;
  }
  if (page && (how & 32) != 0) {
    constexpr std::string_view kHandshake =
        "GET /ws HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    sent.insert(sent.begin(), kHandshake.begin(), kHandshake.end());
  }
  harness.volume.SetDeviceState(start);
  harness.volume.ClearRequests();

  TestClient client;
  FUZZ_CHECK(client.Connect(page ? harness.pagePort : harness.port), "connect");
  ++harness.connections;

  // Stops early only when the server has closed (after an invalid byte).
  const size_t chunk = byteByByte ? 1 : sent.size();
  for (size_t offset = 0; offset < sent.size(); offset += chunk) {
    const size_t end = std::min(offset + chunk, sent.size());
    if (!client.Send(std::vector<uint8_t>(sent.begin() + offset, sent.begin() + end))) break;
  }

  if (page) {
    if (reset) {
      client.Reset();
    } else {
      client.ShutdownSend();
      client.ReadToEnd(kEndBound);
      FUZZ_CHECK(client.Ended(), "the page's connection ends after the client");
    }
    client.Close();
    FUZZ_CHECK(AllEnded(harness), "the page's connection is retired");
    return 0;
  }

  // What the server must have taken: every request up to the first invalid byte.
  std::vector<VolumeState> expected;
  bool endsItself = false;
  for (uint8_t byte : sent) {
    VolumeState request;
    const ClientByteKind kind = DecodeClientByte(byte, &request);
    if (kind == ClientByteKind::Invalid) {
      endsItself = true;
      break;
    }
    if (kind == ClientByteKind::StateRequest) expected.push_back(request);
  }

  if (reset) {
    // Gone at once: the server may lose any part of what was sent, but never invent any.
    client.Reset();
    FUZZ_CHECK(AllEnded(harness), "a reset client is retired");
    const std::vector<VolumeState> got = harness.volume.Requests();
    FUZZ_CHECK(got.size() <= expected.size(), "no request beyond those sent");
    for (size_t i = 0; i < got.size(); ++i) FUZZ_CHECK(got[i] == expected[i], "request order");
    return 0;
  }

  client.ShutdownSend();
  const std::vector<uint8_t> received = client.ReadToEnd(kEndBound);
  FUZZ_CHECK(client.Ended(), "the server ends the connection after the client");
  client.Close();
  std::vector<uint8_t> greeting(kGreeting.begin(), kGreeting.end());
  if (start != VolumeState{}) greeting.push_back(EncodeStateByte(start));
  // A server that closes on an invalid byte with unread bytes behind it resets the connection,
  // which may cut what is still in flight to us; otherwise the stream is exact.
  if (endsItself) {
    FUZZ_CHECK(received.size() <= greeting.size(), "nothing beyond greeting and initial state");
    for (size_t i = 0; i < received.size(); ++i) FUZZ_CHECK(received[i] == greeting[i], "bytes");
  } else {
    FUZZ_CHECK(received == greeting, "exactly the greeting and the initial state, no echo");
  }
  FUZZ_CHECK(harness.volume.Requests() == expected, "every request, in order, nothing more");
  FUZZ_CHECK(AllEnded(harness), "the ended client is retired");
  return 0;
}
