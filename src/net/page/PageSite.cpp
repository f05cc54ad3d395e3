#include "net/page/PageSite.h"

#include <cctype>

#include "net/HostName.h"

PageSite LocalPageSite() {
  PageSite site;
  std::string name = HostName();
  site.computerName = name;
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!name.empty()) {
    site.hostNames.push_back(name);
    site.hostNames.push_back(name + ".local");
  }
  site.hostNames.push_back("localhost");
  return site;
}
