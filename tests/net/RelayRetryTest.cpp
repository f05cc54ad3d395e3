// When the retry runs: at the end of the earliest hold-off, and for a request that failed.

#include "ServerFixture.h"

namespace {

using RelayRetryTest = ServerFixture;

std::optional<uint8_t> Byte(uint8_t value) {
  return value;
}

TEST_F(RelayRetryTest, TheRetryIsDueWhenTheEarliestHoldOffEnds) {
  volume.SetDeviceState({0, 40});
  auto early = Connect();
  auto late = Connect();
  EXPECT_EQ(early->ReadByte(), Byte(40));
  EXPECT_EQ(late->ReadByte(), Byte(40));
  Request(*early, 29);
  clock.Advance(100);
  Request(*late, 31);
  clock.Advance(50);
  volume.Report({0, 28});  // neither asked for it, both are held off
  ASSERT_EQ(retry.Arms(), 1);
  EXPECT_EQ(retry.LastDelayMs(), 351u) << "the early client's 500 ms end 350 ms from now, +1";

  clock.Advance(351);
  relay.OnVolumeChanged();  // the tick
  EXPECT_EQ(early->ReadByte(), Byte(28));
  EXPECT_EQ(retry.Arms(), 2) << "the late client is still held off";
  EXPECT_EQ(retry.LastDelayMs(), 100u);
  clock.Advance(100);
  relay.OnVolumeChanged();
  EXPECT_EQ(late->ReadByte(), Byte(28));
  EXPECT_EQ(retry.Arms(), 2) << "nobody is held off any more: no tick is armed";
}

TEST_F(RelayRetryTest, AFailedRequestIsCorrectedOnceItsHoldOffEnds) {
  volume.SetDeviceState({1, 48});
  auto asker = Connect();
  auto other = Connect();
  EXPECT_EQ(asker->ReadByte(), Byte(0xB0));
  EXPECT_EQ(other->ReadByte(), Byte(0xB0));
  volume.failSetState = true;
  Request(*asker, 0x11);  // unmuted 17, refused
  // Armed on the reader thread, right after the refusal.
  ASSERT_TRUE(Eventually([&] { return retry.Arms() == 1; })) << "nothing else tells the asker";
  EXPECT_EQ(retry.LastDelayMs(), 501u);
  clock.Advance(501);
  relay.OnVolumeChanged();
  EXPECT_EQ(asker->ReadByte(), Byte(0xB0)) << "the true state: muted 48";
  ExpectNothingPending(*other);
}

}  // namespace
