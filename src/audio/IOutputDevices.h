#pragma once
// The playback devices a volume control knows: which there are, which is the default, and
// making another one the default. The master volume always follows the default device, so
// choosing one moves both the sound and the slider.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct OutputDevice {
  std::string id;           // the system's own name for it; always passes IsOutputDeviceId
  std::string description;  // UTF-8, for people
  friend bool operator==(const OutputDevice&, const OutputDevice&) = default;
};

struct OutputList {
  std::vector<OutputDevice> devices;  // in the system's order
  std::string defaultId;              // empty when no device is the default
  bool canChoose = false;             // MakeDefault can work at all on this system
  friend bool operator==(const OutputList&, const OutputList&) = default;
};

// What a device id may hold, so it travels as one word of a command: 1 to 128 characters, each
// a letter, a digit or one of "._-:{}". A device whose native name does not fit is not listed.
constexpr size_t kMaxOutputDeviceId = 128;
bool IsOutputDeviceId(std::string_view id);

// Called with the new list after the devices, their names or the default changed.
using OutputsChangedCallback = std::function<void(const OutputList& outputs)>;

class IOutputDevices {
 public:
  virtual ~IOutputDevices() = default;

  // Any thread. The list as last read; never touches the system.
  virtual OutputList List() = 0;

  // Any thread, holding no lock of ours. Asks the system to make `id` the default and returns
  // without waiting for it; the new default then comes back through the callback. False: the
  // id is not listed, this system offers no choice, or the request could not be made (logged).
  virtual bool MakeDefault(const std::string& id) = 0;

  // Main thread. The callback runs on a thread of the backend (named by each), never with a
  // lock held that MakeDefault or Outputs takes; once null was set the old one is never called
  // again (a call running on another thread is waited for).
  virtual void SetOutputsCallback(OutputsChangedCallback callback) = 0;
};
