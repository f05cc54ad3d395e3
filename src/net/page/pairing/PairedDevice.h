#pragma once
// A phone that paired with the control page, and where the paired phones are kept.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/page/pairing/Secrets.h"

struct PairedDevice {
  static constexpr size_t kIdBytes = 8;
  static constexpr size_t kKeyBytes = 32;
  static constexpr size_t kLongestName = 64;

  std::string id;        // lower-case hex, kIdBytes random bytes: names the phone in its answers
  Bytes key;             // kKeyBytes: the phone holds the same
  std::string name;      // what the person recognises it by: "Chrome on Android"
  int64_t pairedAt = 0;  // seconds since the Unix epoch

  bool operator==(const PairedDevice&) const = default;
};

// Whether a record read back from storage can be served: an id, a key and a name of the shape
// above.
bool WellFormed(const PairedDevice& device);

// The paired phones kept across restarts, readable by the user alone: a file beside the
// settings on Linux (linux/FilePairedDeviceStore.h), the program's registry key on Windows
// (win32/RegistryPairedDeviceStore.h).
// Called by one thread at a time (PairedDevices holds its lock around every call).
class IPairedDeviceStore {
 public:
  virtual ~IPairedDeviceStore() = default;
  // Where the phones are kept, for messages.
  virtual std::string Location() const = 0;
  // The phones kept; none when nothing is kept yet. Records that are not well-formed are left
  // out and logged. Empty when the place cannot be read (logged).
  virtual std::optional<std::vector<PairedDevice>> Load() = 0;
  // Replaces what is kept with `devices`. False when it could not (logged); each phone kept is
  // then still whole, as it was or as it is now.
  virtual bool Save(const std::vector<PairedDevice>& devices) = 0;
};
