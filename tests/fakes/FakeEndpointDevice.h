#pragma once
// A scriptable endpoint device: each step can be made to fail, every call is logged, writes
// are counted, and the test delivers notifications to the registered target by hand.

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "audio/IEndpointDevice.h"

class FakeEndpointDevice final : public IEndpointDevice {
 public:
  struct Script {
    bool enumerator = true;
    bool endpoint = true;
    bool activate = true;
    bool getMute = true;
    bool getScalar = true;
    bool setScalar = true;
    bool setMute = true;
    bool registerNotify = true;
    bool unregisterNotify = true;
    bool releaseVolume = true;
  };

  // The fake is owned by the backend; the test keeps a pointer to this shared record.
  struct Record {
    Script script;
    std::mutex mutex;  // guards everything below
    std::vector<std::string> calls;
    bool muted = false;
    float scalar = 1.0f;
    std::vector<float> scalarWrites;
    std::vector<bool> muteWrites;
    IEndpointNotifyTarget* target = nullptr;
    bool destroyed = false;

    std::vector<std::string> Calls() {
      std::lock_guard lock(mutex);
      return calls;
    }
    // Delivers a notification as the audio system would (on the caller's thread).
    int32_t Notify(int32_t mutedFlag, float masterVolume) {
      IEndpointNotifyTarget* t = nullptr;
      {
        std::lock_guard lock(mutex);
        t = target;
      }
      EndpointNotification n;
      n.muted = mutedFlag;
      n.masterVolume = masterVolume;
      return t != nullptr ? t->OnNotify(&n) : -1;
    }
  };

  explicit FakeEndpointDevice(Record& record) : r_(record) {}
  ~FakeEndpointDevice() override {
    std::lock_guard lock(r_.mutex);
    r_.destroyed = true;
  }

  bool CreateEnumerator() override { return Log("CreateEnumerator", r_.script.enumerator); }
  bool GetDefaultRenderEndpoint() override {
    return Log("GetDefaultRenderEndpoint", r_.script.endpoint);
  }
  bool ActivateEndpointVolume() override {
    return Log("ActivateEndpointVolume", r_.script.activate);
  }
  void ReleaseDevice() override { Log("ReleaseDevice", true); }
  void ReleaseEnumerator() override { Log("ReleaseEnumerator", true); }
  bool GetMute(bool* muted) override {
    std::lock_guard lock(r_.mutex);
    r_.calls.push_back("GetMute");
    if (r_.script.getMute) *muted = r_.muted;
    return r_.script.getMute;
  }
  bool GetMasterScalar(float* scalar) override {
    std::lock_guard lock(r_.mutex);
    r_.calls.push_back("GetMasterScalar");
    if (r_.script.getScalar) *scalar = r_.scalar;
    return r_.script.getScalar;
  }
  bool SetMasterScalar(float scalar) override {
    std::lock_guard lock(r_.mutex);
    r_.scalarWrites.push_back(scalar);
    if (r_.script.setScalar) r_.scalar = scalar;
    return r_.script.setScalar;
  }
  bool SetMute(bool muted) override {
    std::lock_guard lock(r_.mutex);
    r_.muteWrites.push_back(muted);
    if (r_.script.setMute) r_.muted = muted;
    return r_.script.setMute;
  }
  bool RegisterNotify(IEndpointNotifyTarget* target) override {
    std::lock_guard lock(r_.mutex);
    r_.calls.push_back("RegisterNotify");
    if (r_.script.registerNotify) r_.target = target;
    return r_.script.registerNotify;
  }
  bool UnregisterNotify(IEndpointNotifyTarget*) override {
    std::lock_guard lock(r_.mutex);
    r_.calls.push_back("UnregisterNotify");
    r_.target = nullptr;
    return r_.script.unregisterNotify;
  }
  bool ReleaseEndpointVolume() override {
    return Log("ReleaseEndpointVolume", r_.script.releaseVolume);
  }

 private:
  bool Log(const char* call, bool result) {
    std::lock_guard lock(r_.mutex);
    r_.calls.push_back(call);
    return result;
  }
  Record& r_;
};
