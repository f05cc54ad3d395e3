#pragma once
// IServiceAnnouncer over Windows' own DNS-SD responder: DnsServiceRegister and
// DnsServiceDeRegister of dnsapi.dll (Windows 10 1809 and later). They are looked up at run
// time, so that older Windows still runs the program, unannounced, after saying so once.

#include <windows.h>
// windns.h needs windows.h first.
#include <windns.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/discovery/IServiceAnnouncer.h"

// What DnsServiceRegister returns when it took the request (DNS_REQUEST_PENDING of the Windows
// SDK, which mingw-w64's headers lack).
constexpr DWORD kDnsRequestPending = 9506;

// The dnsapi.dll calls we use; tests put fakes in.
struct DnsSdCalls {
  decltype(&DnsServiceConstructInstance) constructInstance;
  decltype(&DnsServiceFreeInstance) freeInstance;
  decltype(&DnsServiceRegister) registerService;
  decltype(&DnsServiceDeRegister) deregisterService;
};

// The calls of this system's dnsapi.dll; empty where it lacks any of them.
std::optional<DnsSdCalls> LoadDnsSdCalls();

class DnsSdServiceAnnouncer final : public IServiceAnnouncer {
 public:
  // `calls` empty: says once that the system cannot announce, then does nothing. `hostName`:
  // this computer's DNS host name.
  DnsSdServiceAnnouncer(std::optional<DnsSdCalls> calls, const std::string& hostName);
  ~DnsSdServiceAnnouncer() override;
  DnsSdServiceAnnouncer(const DnsSdServiceAnnouncer&) = delete;
  DnsSdServiceAnnouncer& operator=(const DnsSdServiceAnnouncer&) = delete;

  void Announce(uint16_t port) override;
  void Withdraw() override;
  // The system's calls return at once: nothing is left to wait for.
  bool Stop(int) override { return true; }

 private:
  // One registration; the system reads the request until it is deregistered, so it stays
  // here, at a fixed address, until then.
  struct Registration {
    DNS_SERVICE_REGISTER_REQUEST request{};
    PDNS_SERVICE_INSTANCE instance = nullptr;
    uint16_t port = 0;
  };

  std::optional<DnsSdCalls> calls_;
  std::wstring instanceName_;  // "<name>._quavix._tcp.local"
  std::wstring hostName_;      // "<host>.local"
  std::unique_ptr<Registration> current_;
  std::vector<std::unique_ptr<Registration>> retired_;  // deregistered; freed at the end
  bool toldFailure_ = false;
};
