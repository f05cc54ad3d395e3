#pragma once
// Windows Sockets start-up, with the two library calls passed in so the version check can be
// tested against a stack that grants something other than 2.2.

#include <winsock2.h>

#include "net/Networking.h"

struct WinsockApi {
  int(WSAAPI* startup)(WORD version, LPWSADATA data);
  int(WSAAPI* cleanup)();
};

// Main thread. Asks for 2.2; a stack granting anything else is cleaned up again (WrongVersion).
NetStartResult StartNetworkingWith(const WinsockApi& api);
const WinsockApi& SystemWinsockApi();
