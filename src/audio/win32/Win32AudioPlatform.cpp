#include "audio/win32/Win32AudioPlatform.h"

#include "audio/win32/EndpointOutputs.h"
#include "audio/win32/Win32EndpointDevice.h"
#include "audio/win32/Win32MixerDevice.h"

VersionQuery SystemVersionQuery() {
  // Deprecated, and capped at 6.2 for programs without a compatibility manifest; both sides of
  // the only question asked (6 or more?) are still answered right.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return &GetVersionExW;
#pragma GCC diagnostic pop
}

int Win32AudioPlatform::OsMajorVersion() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  query_(&info);  // the result is not needed: failure leaves the zeroed record
  return static_cast<int>(info.dwMajorVersion);
}

std::unique_ptr<IEndpointDevice> Win32AudioPlatform::CreateEndpointDevice() {
  return std::make_unique<Win32EndpointDevice>();
}

std::unique_ptr<IMixerDevice> Win32AudioPlatform::CreateMixerDevice() {
  return std::make_unique<Win32MixerDevice>();
}

std::unique_ptr<IOutputDevices> Win32AudioPlatform::CreateOutputDevices() {
  return std::make_unique<EndpointOutputs>();
}
