// The mixer device fails to read for a while under the polled backend, with clients connected:
// they keep their last state, nothing is broadcast meanwhile, polling goes on, and the first
// good reading afterwards reaches every client.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "ClientFleet.h"
#include "audio/WaveOutVolumeControl.h"
#include "fakes/FakeMixerDevice.h"
#include "fakes/FakePollTimer.h"
#include "fakes/FakeRetryTimer.h"
#include "net/NetworkServer.h"
#include "net/Protocol.h"
#include "net/VolumeRelay.h"

namespace {

using namespace std::chrono_literals;
constexpr uint32_t kVolumeId = 10;
constexpr uint32_t kMuteId = 11;

}  // namespace

TEST(MixerFault, ClientsKeepTheirStateUntilTheFirstGoodReading) {
  FakeMixerDevice::Record mixer;
  mixer.AddControl(kVolumeId, kMixerControlTypeVolume, 0, 65535);
  mixer.AddControl(kMuteId, kMixerControlTypeMute);
  mixer.SetValues(kVolumeId, 32768, 32768);
  FakePollTimer pollTimer;
  WaveOutVolumeControl volume(std::make_unique<FakeMixerDevice>(mixer), pollTimer);
  ASSERT_EQ(volume.Initialize(), InitResult::Ok);

  FakeRetryTimer retryTimer;
  NetworkServer server(SystemClock());
  MyClientListener relay(server, retryTimer);
  server.SetStateSource(&volume);
  server.SetExternalListener(&relay);
  SetVolumeChangedRelay(&relay);
  volume.SetChangeCallback(&OnVolumeChanged, 0);
  ASSERT_TRUE(server.BindAndListen(0));
  ASSERT_TRUE(server.Start());

  VolumeState first;
  volume.GetState(&first);
  ClientFleet clients;
  ASSERT_EQ(clients.Connect(server.ListeningPort(), 20, 10s), 20u);
  ASSERT_TRUE(clients.PumpUntil(
      [&] { return clients.CountWithState(EncodeStateByte(first)) == clients.Size(); }, 5s));
  ASSERT_TRUE(clients.PumpUntil([&] { return server.ClientCount() == clients.Size(); }, 5s));
  uint64_t bytesBefore = 0;
  for (size_t i = 0; i < clients.Size(); ++i) bytesBefore += clients[i].stateBytes;

  // The device goes away: its values change but cannot be read. The poll runs the broadcast
  // synchronously, so anything it sent is already on the clients' sockets when Tick returns.
  mixer.readsFail = true;
  mixer.SetValues(kVolumeId, 0, 0);
  mixer.SetValues(kMuteId, 1, 1);
  const size_t periodsBefore = pollTimer.periods.size();
  for (int tick = 0; tick < 10; ++tick) pollTimer.Tick();
  clients.PumpUntil([] { return false; }, 100ms);
  uint64_t bytesDuring = 0;
  for (size_t i = 0; i < clients.Size(); ++i) bytesDuring += clients[i].stateBytes;
  EXPECT_EQ(bytesDuring, bytesBefore) << "something was broadcast while the device failed";
  EXPECT_EQ(clients.CountWithState(EncodeStateByte(first)), clients.Size());
  EXPECT_TRUE(pollTimer.running) << "polling stopped";
  EXPECT_GT(pollTimer.periods.size(), periodsBefore) << "the poll timer was not re-armed";
  VolumeState cached;
  volume.GetState(&cached);
  EXPECT_EQ(cached, first) << "a failed reading reached the cache";

  // The device is back: the first good reading is broadcast to every client.
  mixer.readsFail = false;
  pollTimer.Tick();
  VolumeState recovered;
  volume.GetState(&recovered);
  EXPECT_EQ(recovered.muted, 1);
  EXPECT_TRUE(clients.PumpUntil(
      [&] { return clients.CountWithState(EncodeStateByte(recovered)) == clients.Size(); }, 5s));
  EXPECT_EQ(clients.CountEnded(), 0u);

  volume.SetChangeCallback(nullptr, 0);
  server.Stop();
  SetVolumeChangedRelay(nullptr);
  EXPECT_TRUE(volume.Shutdown());
}
