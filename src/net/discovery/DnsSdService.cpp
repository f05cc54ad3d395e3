#include "net/discovery/DnsSdService.h"

#include "base/Texts.h"

std::string ServiceInstanceName(const std::string& hostName) {
  constexpr size_t kLabelBytes = 63;
  std::string name = std::string(kTextAppTitle) + " on " + hostName.substr(0, hostName.find('.'));
  if (name.size() <= kLabelBytes) return name;
  size_t end = kLabelBytes;
  // Back off over continuation bytes to the start of the character that does not fit.
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}
