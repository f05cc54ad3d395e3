#include "net/discovery/win32/DnsSdServiceAnnouncer.h"

#include <atomic>

#include "base/Log.h"
#include "base/win32/SystemErrorText.h"
#include "base/win32/WideText.h"
#include "net/HostName.h"
#include "net/discovery/DnsSdService.h"

namespace {

// A thread-pool thread, with what the system made of the request; the instance it hands over
// is ours to free. Touches nothing of the announcer, which may be gone by then.
DnsSdCalls gCallbackCalls{};
std::atomic<bool> gToldRefusal{false};

VOID WINAPI OnRegisterComplete(DWORD status, PVOID, PDNS_SERVICE_INSTANCE instance) {
  if (instance != nullptr && gCallbackCalls.freeInstance != nullptr) {
    gCallbackCalls.freeInstance(instance);
  }
  if (status != ERROR_SUCCESS && !gToldRefusal.exchange(true)) {
    LogError("the network did not take the server's announcement: " + WindowsErrorText(status));
  }
}

}  // namespace

std::optional<DnsSdCalls> LoadDnsSdCalls() {
  // Stays loaded for the life of the process, as the registrations need it to.
  HMODULE dnsapi = LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (dnsapi == nullptr) return std::nullopt;
  DnsSdCalls calls{reinterpret_cast<decltype(&DnsServiceConstructInstance)>(reinterpret_cast<void*>(
                       GetProcAddress(dnsapi, "DnsServiceConstructInstance"))),
                   reinterpret_cast<decltype(&DnsServiceFreeInstance)>(
                       reinterpret_cast<void*>(GetProcAddress(dnsapi, "DnsServiceFreeInstance"))),
                   reinterpret_cast<decltype(&DnsServiceRegister)>(
                       reinterpret_cast<void*>(GetProcAddress(dnsapi, "DnsServiceRegister"))),
                   reinterpret_cast<decltype(&DnsServiceDeRegister)>(
                       reinterpret_cast<void*>(GetProcAddress(dnsapi, "DnsServiceDeRegister")))};
  if (calls.constructInstance == nullptr || calls.freeInstance == nullptr ||
      calls.registerService == nullptr || calls.deregisterService == nullptr) {
    return std::nullopt;
  }
  return calls;
}

DnsSdServiceAnnouncer::DnsSdServiceAnnouncer(std::optional<DnsSdCalls> calls,
                                             const std::string& hostName)
    : calls_(calls),
      instanceName_(Widen(ServiceInstanceName(hostName) + "." + kServiceType + ".local")),
      hostName_(Widen(hostName.substr(0, hostName.find('.')) + ".local")) {
  if (!calls_) {
    LogError(
        "this Windows cannot announce the server on the network (DNS-SD needs Windows 10 "
        "1809 or later); clients must be given its address");
    return;
  }
  gCallbackCalls = *calls_;
}

DnsSdServiceAnnouncer::~DnsSdServiceAnnouncer() {
  Withdraw();
  for (const std::unique_ptr<Registration>& old : retired_) calls_->freeInstance(old->instance);
}

void DnsSdServiceAnnouncer::Announce(uint16_t port) {
  if (!calls_ || (current_ && current_->port == port)) return;
  Withdraw();
  auto registration = std::make_unique<Registration>();
  // The system takes the TXT entry's key and value apart.
  const std::string txt = kServiceTxt;
  const size_t equals = txt.find('=');
  const std::wstring key = Widen(txt.substr(0, equals)), value = Widen(txt.substr(equals + 1));
  PCWSTR keys[] = {key.c_str()};
  PCWSTR values[] = {value.c_str()};
  registration->instance = calls_->constructInstance(instanceName_.c_str(), hostName_.c_str(),
                                                     nullptr, nullptr, port, 0, 0, 1, keys, values);
  if (registration->instance == nullptr) {
    if (!toldFailure_) LogError("cannot announce the server on the network: out of memory");
    toldFailure_ = true;
    return;
  }
  registration->port = port;
  registration->request.Version = DNS_QUERY_REQUEST_VERSION1;
  registration->request.InterfaceIndex = 0;  // every interface
  registration->request.pServiceInstance = registration->instance;
  registration->request.pRegisterCompletionCallback = &OnRegisterComplete;
  const DWORD status = calls_->registerService(&registration->request, nullptr);
  if (status != kDnsRequestPending) {
    if (!toldFailure_) {
      LogError("cannot announce the server on the network: " + WindowsErrorText(status));
    }
    toldFailure_ = true;
    calls_->freeInstance(registration->instance);
    return;
  }
  current_ = std::move(registration);
}

void DnsSdServiceAnnouncer::Withdraw() {
  if (!calls_ || !current_) return;
  // Its completion arrives through OnRegisterComplete like the registration's. The request
  // may be read until then, so it is kept to the end.
  calls_->deregisterService(&current_->request, nullptr);
  retired_.push_back(std::move(current_));
}

std::unique_ptr<IServiceAnnouncer> CreateServiceAnnouncer() {
  return std::make_unique<DnsSdServiceAnnouncer>(LoadDnsSdCalls(), HostName());
}
