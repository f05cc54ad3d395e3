#pragma once
// The output devices on Core Audio: the active render endpoints with their friendly names, the
// default one for the console role, and making another one the default through IPolicyConfig
// (for every role, as the system's sound settings do). Where the system has no such object the
// list is shown without a choice.
//
// Threads: a worker of ours does every Core Audio call, in the multithreaded apartment: it
// reads the list at start, again whenever the enumerator reports a device change, and makes
// the default that MakeDefault asked for. The enumerator's notifications only wake it. The
// outputs callback runs on the worker. List and MakeDefault take the list mutex (a leaf) and
// may come from any thread; MakeDefault only hands the id to the worker.

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "audio/IOutputDevices.h"
#include "audio/win32/ComPtr.h"
#include "audio/win32/EndpointVolumeCallback.h"
#include "audio/win32/PolicyConfig.h"
#include "audio/win32/Win32EndpointDevice.h"
#include "base/CallbackSlot.h"

// Creates the policy object (CoCreateInstance in the program; a test double in tests).
using PolicyConfigFactory = HRESULT (*)(IPolicyConfig** policy);
HRESULT CreateSystemPolicyConfig(IPolicyConfig** policy);

class EndpointOutputs final : public IOutputDevices {
 public:
  // Starts the worker; the first list follows through the callback.
  explicit EndpointOutputs(EnumeratorFactory enumerators = &CreateSystemEnumerator,
                           PolicyConfigFactory policies = &CreateSystemPolicyConfig);
  // Stops and joins the worker; no callback runs afterwards.
  ~EndpointOutputs() override;
  EndpointOutputs(const EndpointOutputs&) = delete;
  EndpointOutputs& operator=(const EndpointOutputs&) = delete;

  OutputList List() override;
  bool MakeDefault(const std::string& id) override;
  void SetOutputsCallback(OutputsChangedCallback callback) override;

 private:
  void Work();
  void Serve(IMMDeviceEnumerator* enumerator, IPolicyConfig* policy);
  void Refresh(IMMDeviceEnumerator* enumerator, bool canChoose);
  bool Read(IMMDeviceEnumerator* enumerator, OutputList* list);
  void ApplyDefault(IPolicyConfig* policy, const std::string& id);

  EnumeratorFactory enumerators_;
  PolicyConfigFactory policies_;
  // Created before the worker, released after it: its event wakes the worker for a device
  // change, a request, or the stop.
  DeviceListWatcher* watcher_;
  std::atomic<bool> stopping_{false};

  std::mutex listMutex_;
  OutputList list_;        // guarded by listMutex_
  std::string requested_;  // guarded by listMutex_: the id MakeDefault asked for, if any
  CallbackSlot<OutputList> callback_;
  std::thread worker_;
};
