#include "net/HostName.h"

#include <windows.h>

#include "base/win32/WideText.h"

std::string HostName() {
  wchar_t host[256] = {};
  DWORD size = 256;
  if (!GetComputerNameExW(ComputerNameDnsHostname, host, &size)) return {};
  return Narrow(host);
}
