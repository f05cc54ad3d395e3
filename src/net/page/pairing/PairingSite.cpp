#include "net/page/pairing/PairingSite.h"

#include "net/page/PageCommand.h"
#include "net/page/pairing/PairingPage.h"
#include "net/page/pairing/QrCode.h"

namespace {

constexpr std::string_view kPagePath = "/pair";
constexpr std::string_view kPhonesPath = "/pair/phones";
constexpr std::string_view kForgetPrefix = "/pair/forget/";
constexpr std::string_view kForgetAllPath = "/pair/forget-all";

PairingReply NotFound() {
  return {404, "text/plain; charset=utf-8", "Not found.\n", {}};
}

PairingReply MethodNotAllowed(std::string_view allow) {
  return {405, "text/plain; charset=utf-8", "Method not allowed.\n", allow};
}

bool Reading(std::string_view method) {
  return method == "GET" || method == "HEAD";
}

}  // namespace

void PairingSite::SetPageAddress(std::string hostAndPort) {
  std::lock_guard lock(mutex_);
  pageAddress_ = std::move(hostAndPort);
}

std::string PairingSite::PageAddress() {
  std::lock_guard lock(mutex_);
  return pageAddress_;
}

std::optional<PairingReply> PairingSite::Answer(const PairingRequest& request) {
  const std::string_view path = request.target.substr(0, request.target.find('?'));
  const bool ours = path == kPagePath || path == kPhonesPath || path == kForgetAllPath ||
                    path.starts_with(kForgetPrefix);
  if (!ours) return std::nullopt;
  if (!request.fromLoopback) return NotFound();
  if (path == kPagePath || path == kPhonesPath) {
    if (!Reading(request.method)) return MethodNotAllowed("GET, HEAD");
    if (path == kPagePath) return Page();
    return PairingReply{200, "application/json", PhonesJson(pairing_.devices.List()), {}};
  }
  if (request.method != "POST") return MethodNotAllowed("POST");
  if (!request.fromOurPage)
    return PairingReply{
        403, "text/plain; charset=utf-8", "Only the pairing page may forget phones.\n", {}};
  if (path == kForgetAllPath) return ForgetAll();
  const std::string_view id = path.substr(kForgetPrefix.size());
  if (!IsLowerHex(id, PairedDevice::kIdBytes * 2)) return NotFound();
  return Forget(id);
}

PairingReply PairingSite::Page() {
  PairingPageView view{computerName_, "", "", pairing_.devices.List()};
  const std::string address = PageAddress();
  const std::string code = address.empty() ? "" : pairing_.codes.Issue();
  if (!code.empty()) {
    const std::string link = PairingLink(address, code);
    if (const std::optional<QrMatrix> matrix = EncodeQr(link)) {
      view.link = link;
      view.qrSvg = QrSvg(*matrix, "QR code of the pairing link");
    }
  }
  return {200, "text/html; charset=utf-8", PairingPageHtml(view), {}};
}

PairingReply PairingSite::Forget(std::string_view id) {
  if (!pairing_.devices.Known(id)) return NotFound();
  if (!pairing_.devices.Forget(id)) {
    return {500,
            "text/plain; charset=utf-8",
            "Forgotten until the server restarts: it could not be saved.\n",
            {}};
  }
  return {204, "text/plain; charset=utf-8", "", {}};
}

PairingReply PairingSite::ForgetAll() {
  if (!pairing_.devices.ForgetAll()) {
    return {500,
            "text/plain; charset=utf-8",
            "Forgotten until the server restarts: it could not be saved.\n",
            {}};
  }
  return {204, "text/plain; charset=utf-8", "", {}};
}

std::optional<std::string> PairingSite::NewLink() {
  const std::string address = PageAddress();
  if (address.empty()) return std::nullopt;
  const std::string code = pairing_.codes.Issue();
  if (code.empty()) return std::nullopt;
  return PairingLink(address, code);
}
