#include "audio/OutputDevices.h"

#include <algorithm>

bool IsOutputDeviceId(std::string_view id) {
  if (id.empty() || id.size() > kMaxOutputDeviceId) return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-' || c == ':' || c == '{' || c == '}';
  });
}

bool IsListed(const OutputList& outputs, std::string_view id) {
  return std::any_of(outputs.devices.begin(), outputs.devices.end(),
                     [&](const OutputDevice& device) { return device.id == id; });
}

SingleOutput::SingleOutput(std::string description)
    : list_{{{kSingleOutputId, std::move(description)}}, kSingleOutputId, false} {}
