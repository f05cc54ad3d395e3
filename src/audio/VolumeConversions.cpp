#include "audio/VolumeConversions.h"

#include <cmath>

namespace {
int32_t ClampPercent(int64_t percent) {
  if (percent > 100) return 100;
  if (percent < 0) return 0;
  return static_cast<int32_t>(percent);
}
}  // namespace

int32_t ScalarToPercent(float scalar) {
  const double percent = static_cast<double>(scalar) * 100.0 + 0.5;
  // Compare before truncating: converting NaN or a huge value to an integer is undefined.
  if (!(percent >= 0.0)) return 0;
  if (percent >= 101.0) return 100;
  return ClampPercent(static_cast<int64_t>(percent));
}

float PercentToScalar(int32_t percent) {
  return static_cast<float>(percent / 100.0);
}

uint32_t PercentToRaw(int32_t percent, int32_t minimum, int32_t maximum) {
  const float fraction = static_cast<float>(percent / 100.0);
  const double span = static_cast<double>(maximum) - static_cast<double>(minimum);
  const double raw = static_cast<double>(fraction) * span + minimum + 0.5;
  // Truncation toward zero, as the device value is an integer; a signed control (negative
  // bounds) keeps its two's-complement bits in the 32-bit value.
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int64_t>(raw)));
}

int32_t RawToPercent(uint32_t first, uint32_t second, int32_t minimum, int32_t maximum) {
  if (maximum == minimum) return 100;
  // Channel values are signed like the bounds. 64-bit intermediates: wide bounds would
  // overflow 32-bit arithmetic, while every result within 32 bits stays the same.
  const int64_t average =
      (static_cast<int64_t>(static_cast<int32_t>(first)) + static_cast<int32_t>(second)) / 2;
  const int64_t percent = (average - minimum) * 100 / (static_cast<int64_t>(maximum) - minimum);
  return ClampPercent(percent);
}
