#pragma once
// Sizes of the load tests. CI runs them scaled down; the benchmark command sets
// QUAVIX_LOAD_FULL=1 to run the full sizes. Sanitizer builds run smaller still, since every
// thread and syscall costs several times more there.

#include <cstdlib>
#include <cstring>

inline bool FullLoadSizes() {
  const char* full = std::getenv("QUAVIX_LOAD_FULL");
  return full != nullptr && std::strcmp(full, "1") == 0;
}

constexpr bool kSanitizedBuild =
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

// `full` under QUAVIX_LOAD_FULL=1, else `ci` (a quarter of it in sanitizer builds, at least 1).
inline long LoadSize(long ci, long full) {
  if (FullLoadSizes()) return full;
  if (kSanitizedBuild) return ci / 4 > 0 ? ci / 4 : 1;
  return ci;
}
