// The in-process server alone in a process of its own, under a descriptor limit given on the
// command line, for the connection-flood test:
//   flood_server NOFILE
// Prints "port N" once listening. Each "count" line on stdin is answered with "clients N";
// the end of stdin stops the server, which then prints "stopped" and exits 0.

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/RelayedServer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: flood_server NOFILE\n");
    return 2;
  }
  const rlim_t nofile = std::strtoul(argv[1], nullptr, 10);
  const rlimit limit{nofile, nofile};
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
    std::perror("setrlimit");
    return 1;
  }
  RelayedServer wired;
  wired.volume.echoSetState = true;
  wired.volume.SetDeviceState({1, 30});
  const uint16_t port = wired.Listen();
  if (port == 0) {
    std::fprintf(stderr, "flood_server: cannot listen\n");
    return 1;
  }
  std::printf("port %u\n", port);
  std::fflush(stdout);
  char line[64];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    if (std::strncmp(line, "count", 5) == 0) {
      std::printf("clients %zu\n", wired.server.ClientCount());
      std::fflush(stdout);
    }
  }
  wired.server.Stop();
  std::printf("stopped\n");
  std::fflush(stdout);
  return 0;
}
