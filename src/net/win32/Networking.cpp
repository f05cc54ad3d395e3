#include "net/win32/WinsockStartup.h"

#include "net/Networking.h"

NetStartResult StartNetworkingWith(const WinsockApi& api) {
  WSADATA data{};
  if (api.startup(MAKEWORD(2, 2), &data) != 0) return NetStartResult::Failed;
  // A stack that only offers an older (or newer) version still answers 0; we rely on 2.2.
  if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
    api.cleanup();
    return NetStartResult::WrongVersion;
  }
  return NetStartResult::Ok;
}

const WinsockApi& SystemWinsockApi() {
  static const WinsockApi api{&WSAStartup, &WSACleanup};
  return api;
}

NetStartResult StartNetworking() { return StartNetworkingWith(SystemWinsockApi()); }

void StopNetworking() { SystemWinsockApi().cleanup(); }
