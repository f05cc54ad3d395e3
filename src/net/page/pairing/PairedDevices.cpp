#include "net/page/pairing/PairedDevices.h"

#include <algorithm>
#include <utility>

#include "base/Log.h"
#include "net/page/PageCommand.h"
#include "net/page/pairing/Proofs.h"

bool WellFormed(const PairedDevice& device) {
  if (!IsLowerHex(device.id, PairedDevice::kIdBytes * 2)) return false;
  if (device.key.size() != PairedDevice::kKeyBytes) return false;
  if (device.name.empty() || device.name.size() > PairedDevice::kLongestName) return false;
  return std::all_of(device.name.begin(), device.name.end(),
                     [](char c) { return c >= ' ' && c <= '~'; });
}

PairedDevices::PairedDevices(IPairedDeviceStore& store) : store_(store) {
  devices_ = store_.Load().value_or(std::vector<PairedDevice>{});
}

std::optional<PairedDevice> PairedDevices::Pair(std::span<const uint8_t> key, std::string name,
                                                int64_t pairedAt) {
  const Bytes id = RandomBytes(PairedDevice::kIdBytes);
  if (id.empty()) return std::nullopt;
  PairedDevice device{HexText(id), Bytes(key.begin(), key.end()), std::move(name), pairedAt};
  if (!WellFormed(device)) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (devices_.size() >= kMostDevices) {
    LogError("a phone was not paired: " + std::to_string(kMostDevices) +
             " are paired already; forget some on the pairing page");
    return std::nullopt;
  }
  std::vector<PairedDevice> devices = devices_;
  devices.push_back(device);
  if (!store_.Save(devices)) return std::nullopt;
  devices_ = std::move(devices);
  return device;
}

bool PairedDevices::Verify(std::string_view id, std::span<const uint8_t> nonce,
                           std::span<const uint8_t> answer) const {
  std::lock_guard lock(mutex_);
  for (const PairedDevice& device : devices_) {
    if (device.id != id) continue;
    const std::optional<Sha256Digest> expected = KeyAnswer(device.key, nonce);
    return expected && SameSecret(*expected, answer);
  }
  return false;
}

bool PairedDevices::Known(std::string_view id) const {
  std::lock_guard lock(mutex_);
  return std::any_of(devices_.begin(), devices_.end(),
                     [id](const PairedDevice& device) { return device.id == id; });
}

std::vector<PairedDevice> PairedDevices::List() const {
  std::lock_guard lock(mutex_);
  std::vector<PairedDevice> list = devices_;
  for (PairedDevice& device : list) device.key.clear();
  return list;
}

bool PairedDevices::Forget(std::string_view id) {
  bool saved = true;
  {
    std::lock_guard lock(mutex_);
    const auto removed =
        std::remove_if(devices_.begin(), devices_.end(),
                       [id](const PairedDevice& device) { return device.id == id; });
    if (removed == devices_.end()) return true;
    devices_.erase(removed, devices_.end());
    saved = store_.Save(devices_);
  }
  Tell({std::string(id)});
  return saved;
}

bool PairedDevices::ForgetAll() {
  std::vector<std::string> ids;
  bool saved = true;
  {
    std::lock_guard lock(mutex_);
    for (const PairedDevice& device : devices_) ids.push_back(device.id);
    devices_.clear();
    saved = store_.Save(devices_);
  }
  Tell(ids);
  return saved;
}

void PairedDevices::Tell(const std::vector<std::string>& ids) {
  std::lock_guard lock(watchersMutex_);
  for (const std::string& id : ids) watchers_.CallLocked(id);
}

PairedDevices::Watch PairedDevices::OnForget(std::function<void(const std::string&)> forgotten) {
  std::lock_guard lock(watchersMutex_);
  return watchers_.AddLocked(std::move(forgotten));
}

