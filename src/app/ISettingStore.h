#pragma once
// The per-user setting store (the registry's current-user hive, or a file tree in its place).
// Values are raw bytes under a key path with '\' separators.

#include <cstddef>
#include <cstdint>
#include <string>

class ISettingStore {
 public:
  virtual ~ISettingStore() = default;
  // Main thread. Copies value `name` of `key` into `buffer`, of which `*size` bytes are
  // available, and sets `*size` to the value's length. False, with `buffer` untouched, when the
  // key or the value does not exist, cannot be read, or is longer than `*size`. Never creates
  // anything.
  virtual bool Read(const std::string& key, const std::string& name, uint8_t* buffer,
                    size_t* size) = 0;
  // Main thread. Stores a 32-bit value, little-endian, creating the key when missing. A reader
  // sees either the old or the new value, never part of one. False on failure.
  virtual bool WriteUint32(const std::string& key, const std::string& name, uint32_t value) = 0;
};
