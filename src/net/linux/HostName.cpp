#include "net/HostName.h"

#include <unistd.h>

std::string HostName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return {};
  return host;
}
