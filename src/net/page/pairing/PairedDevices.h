#pragma once
// The phones that may open the control page without a code: each with its own key, the name
// the person knows it by, and when it paired. Kept through an IPairedDeviceStore. Forgetting
// a phone tells the watchers at once, so its open socket is closed, not just its next one.
//
// Any thread. The store is called under this object's lock; watchers are called under the
// watchers' lock, on the thread that forgot the phone, after the store has been written.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Subscribers.h"
#include "net/page/pairing/PairedDevice.h"

class PairedDevices {
 public:
  static constexpr size_t kMostDevices = 64;

  // Reads the store; a store that cannot be read leaves none paired (logged by the store).
  explicit PairedDevices(IPairedDeviceStore& store);
  PairedDevices(const PairedDevices&) = delete;
  PairedDevices& operator=(const PairedDevices&) = delete;

  // Keeps a new phone with `key` under a fresh random id. Empty when the id cannot be drawn,
  // kMostDevices are paired, or the store cannot keep it (logged).
  std::optional<PairedDevice> Pair(std::span<const uint8_t> key, std::string name,
                                   int64_t pairedAt);
  // Whether `answer` is the key answer (Proofs.h) of phone `id` to `nonce`.
  bool Verify(std::string_view id, std::span<const uint8_t> nonce,
              std::span<const uint8_t> answer) const;
  bool Known(std::string_view id) const;
  // The paired phones, oldest first, without their keys.
  std::vector<PairedDevice> List() const;

  // A phone forgotten leaves memory even when the store cannot be written (then false, and
  // logged), so it is refused from now on.
  bool Forget(std::string_view id);
  bool ForgetAll();

  // While a Watch lives, its callback hears the id of every phone forgotten. The callback must
  // neither destroy a Watch nor wait for a thread that may be destroying one (that thread waits
  // for the callback): closing a socket, which its reader thread then notices, is the use.
  using Watchers = Subscribers<const std::string&>;
  using Watch = Watchers::Subscription;
  // The Watch must not outlive this object.
  Watch OnForget(std::function<void(const std::string& id)> forgotten);

 private:
  void Tell(const std::vector<std::string>& ids);

  IPairedDeviceStore& store_;
  mutable std::mutex mutex_;
  std::vector<PairedDevice> devices_;
  std::mutex watchersMutex_;
  Watchers watchers_{watchersMutex_};
};
