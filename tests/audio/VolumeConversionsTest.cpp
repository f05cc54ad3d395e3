#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "audio/VolumeConversions.h"

TEST(VolumeConversions, ScalarReadsRoundHalfUp) {
  EXPECT_EQ(ScalarToPercent(0.125f), 13);
  EXPECT_EQ(ScalarToPercent(0.375f), 38);
  EXPECT_EQ(ScalarToPercent(0.5f), 50);
  EXPECT_EQ(ScalarToPercent(1.0f), 100);
  EXPECT_EQ(ScalarToPercent(0.0f), 0);
}

TEST(VolumeConversions, ScalarReadsClampWithoutOverflow) {
  EXPECT_EQ(ScalarToPercent(1.5f), 100);
  EXPECT_EQ(ScalarToPercent(-0.2f), 0);
  EXPECT_EQ(ScalarToPercent(1e30f), 100);
  EXPECT_EQ(ScalarToPercent(-1e30f), 0);
  EXPECT_EQ(ScalarToPercent(std::numeric_limits<float>::infinity()), 100);
  EXPECT_EQ(ScalarToPercent(std::nanf("")), 0);
}

TEST(VolumeConversions, EveryPercentSurvivesTheScalarRoundTrip) {
  for (int32_t percent = 0; percent <= 100; ++percent) {
    EXPECT_EQ(ScalarToPercent(PercentToScalar(percent)), percent) << percent;
  }
  EXPECT_EQ(PercentToScalar(1), 0.01f);
}

TEST(VolumeConversions, RawWritesRoundOnTheControlRange) {
  EXPECT_EQ(PercentToRaw(50, 0, 65535), 32768u);
  EXPECT_EQ(PercentToRaw(100, 0, 65535), 65535u);
  EXPECT_EQ(PercentToRaw(1, 0, 65535), 655u);
  EXPECT_EQ(PercentToRaw(0, 0, 65535), 0u);
  EXPECT_EQ(PercentToRaw(0, 10, 20), 10u);
  EXPECT_EQ(PercentToRaw(100, 10, 20), 20u);
}

TEST(VolumeConversions, RawReadsAverageTwoChannelsAndTruncate) {
  EXPECT_EQ(RawToPercent(32768, 32768, 0, 65535), 50);
  EXPECT_EQ(RawToPercent(65535, 65535, 0, 65535), 100);
  EXPECT_EQ(RawToPercent(655, 655, 0, 65535), 0);
  EXPECT_EQ(RawToPercent(65535, 0, 0, 65535), 49);
  EXPECT_EQ(RawToPercent(15, 15, 10, 20), 50);
}

TEST(VolumeConversions, RawReadsClampOutsideTheBounds) {
  EXPECT_EQ(RawToPercent(5, 5, 10, 20), 0);
  EXPECT_EQ(RawToPercent(30, 30, 10, 20), 100);
}

TEST(VolumeConversions, SignedAndWideBoundsNeitherOverflowNorLoseTheSign) {
  // A control counting in signed units, e.g. -100..0 (writing truncates toward zero).
  EXPECT_EQ(PercentToRaw(50, -100, 0), static_cast<uint32_t>(-49));
  EXPECT_EQ(PercentToRaw(0, -100, 0), static_cast<uint32_t>(-99));
  EXPECT_EQ(RawToPercent(static_cast<uint32_t>(-50), static_cast<uint32_t>(-50), -100, 0), 50);
  EXPECT_EQ(RawToPercent(static_cast<uint32_t>(-100), static_cast<uint32_t>(-80), -100, 0), 10);
  // The whole 32-bit range: (max - min) * 100 does not fit in 32 bits.
  const int32_t lo = std::numeric_limits<int32_t>::min();
  const int32_t hi = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(RawToPercent(static_cast<uint32_t>(hi), static_cast<uint32_t>(hi), lo, hi), 100);
  EXPECT_EQ(RawToPercent(static_cast<uint32_t>(lo), static_cast<uint32_t>(lo), lo, hi), 0);
  EXPECT_EQ(RawToPercent(0, 0, lo, hi), 50);
  EXPECT_EQ(PercentToRaw(100, lo, hi), static_cast<uint32_t>(hi));
}

TEST(VolumeConversions, ControlWithoutRangeReadsFullAndWritesItsOnlyValue) {
  EXPECT_EQ(RawToPercent(7, 7, 7, 7), 100);
  EXPECT_EQ(RawToPercent(0, 0, 7, 7), 100);
  EXPECT_EQ(PercentToRaw(30, 7, 7), 7u);
}
