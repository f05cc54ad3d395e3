#pragma once
// Conversions between device readings and the percent of VolumeState. Every reading result is
// clamped to 0..100; the writing conversions are exact inverses where the device allows it.

#include <cstdint>

// Endpoint master scalar (0.0..1.0) to percent: scalar * 100 + 0.5, truncated, clamped.
// A NaN or out-of-range scalar clamps instead of overflowing the integer conversion.
int32_t ScalarToPercent(float scalar);
// Percent to endpoint master scalar, in single precision.
float PercentToScalar(int32_t percent);

// Mixer raw value for `percent` on a control with bounds [minimum, maximum] (rounded).
uint32_t PercentToRaw(int32_t percent, int32_t minimum, int32_t maximum);
// Percent from two channel values of a control (average truncated, then scaled and truncated).
// A control whose maximum equals its minimum cannot attenuate: it reads as 100.
int32_t RawToPercent(uint32_t first, uint32_t second, int32_t minimum, int32_t maximum);
