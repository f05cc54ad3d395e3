#include "net/Networking.h"

// Linux sockets need no start-up.
NetStartResult StartNetworking() {
  return NetStartResult::Ok;
}
void StopNetworking() {}
