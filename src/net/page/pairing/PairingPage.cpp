#include "net/page/pairing/PairingPage.h"

#include "net/page/HtmlText.h"
#include "net/page/JsonText.h"
#include "net/page/PageAssets.h"
#include "net/page/pairing/PairingCodes.h"
#include "net/page/pairing/QrCode.h"

namespace {

constexpr std::string_view kTemplate = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="color-scheme" content="light dark">
<title>Pair a phone with {{NAME}}</title>
{{LINKS}}<style>
:root { --fg: #1b1b1f; --bg: #f6f6f8; --card: #ffffff; --accent: #2f6fdb; --line: #d4d4dc;
        --soft: #5c5c66; }
@media (prefers-color-scheme: dark) {
  :root { --fg: #ececf1; --bg: #121216; --card: #1e1e24; --accent: #6ea0ff; --line: #3a3a44;
          --soft: #a6a6b2; }
}
* { box-sizing: border-box; }
html, body { margin: 0; background: var(--bg); color: var(--fg);
  font: 16px/1.4 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; }
main { max-width: 40rem; margin: 0 auto; padding: 1.5rem 1.25rem; }
h1 { font-size: 1.5rem; margin: 0 0 1rem; overflow-wrap: anywhere; }
h2 { font-size: 1.2rem; margin: 0 0 .75rem; }
.card { background: var(--card); border: 1px solid var(--line); border-radius: 1rem;
  padding: 1.25rem; margin-bottom: 1.25rem; }
.qr { width: min(100%, 22rem); margin: 0 auto 1rem; }
.qr svg { display: block; width: 100%; height: auto; border-radius: .5rem; }
.link { font-family: ui-monospace, monospace; overflow-wrap: anywhere; user-select: all; }
.soft { color: var(--soft); }
ul { list-style: none; margin: 0 0 1rem; padding: 0; }
li { display: flex; align-items: center; gap: .75rem; padding: .5rem 0;
  border-bottom: 1px solid var(--line); }
li span { flex: 1; }
button { min-height: 44px; min-width: 44px; font: inherit; font-weight: 600; padding: .5rem 1rem;
  border-radius: .75rem; border: 2px solid var(--accent); background: transparent;
  color: var(--accent); }
</style>
</head>
<body>
<main>
<h1>Pair a phone with {{NAME}}</h1>
<section class="card" aria-labelledby="scan">
{{CODE}}
</section>
<section class="card" aria-labelledby="paired">
<h2 id="paired">Paired phones</h2>
<ul id="phones"></ul>
<p id="none" class="soft" hidden>No phone is paired yet.</p>
<button id="forget-all" type="button">Forget all</button>
<p id="result" role="status"></p>
</section>
</main>
<script id="phones-data" type="application/json">{{PHONES}}</script>
<script>
"use strict";
(() => {
  const list = document.getElementById("phones");
  const none = document.getElementById("none");
  const all = document.getElementById("forget-all");
  const result = document.getElementById("result");
  function show(phones) {
    list.replaceChildren(...phones.map((phone) => {
      const item = document.createElement("li");
      const text = document.createElement("span");
      const when = new Date(phone.pairedAt * 1000).toLocaleString();
      text.textContent = phone.name + ", paired " + when;
      const forget = document.createElement("button");
      forget.type = "button";
      forget.textContent = "Forget";
      forget.setAttribute("aria-label", "Forget " + phone.name + ", paired " + when);
      forget.addEventListener("click", () => send("/pair/forget/" + phone.id, phone.name));
      item.append(text, forget);
      return item;
    }));
    none.hidden = phones.length > 0;
    all.hidden = phones.length === 0;
  }
  async function refresh() {
    try {
      const answer = await fetch("/pair/phones", { cache: "no-store" });
      if (answer.ok) show(await answer.json());
    } catch (e) { /* the server stopped; the list stays as it was */ }
  }
  async function send(path, what) {
    try {
      const answer = await fetch(path, { method: "POST" });
      result.textContent = answer.ok ? "Forgot " + what + "." : "Could not forget " + what + ".";
    } catch (e) {
      result.textContent = "Could not reach Quavix Server.";
    }
    refresh();
  }
  all.addEventListener("click", () => send("/pair/forget-all", "every phone"));
  show(JSON.parse(document.getElementById("phones-data").textContent));
  setInterval(() => { if (!document.hidden) refresh(); }, 3000);
})();
</script>
</body>
</html>
)html";

std::string CodeSection(const PairingPageView& view) {
  if (view.link.empty()) {
    return "<h2 id=\"scan\">No phone can reach this computer</h2>\n"
           "<p>This computer has no network address a phone could open the page on. Connect "
           "it to the phone's network, then open this page again.</p>";
  }
  const int minutes = PairingCodes::kLifetimeMs / 60000;
  return "<h2 id=\"scan\">Scan this with your phone's camera</h2>\n<div class=\"qr\">" +
         view.qrSvg + "</div>\n<p class=\"link\">" + HtmlEscaped(view.link) +
         "</p>\n<p class=\"soft\">The code pairs one phone and stays valid for about " +
         std::to_string(minutes) + " minutes.</p>";
}

}  // namespace

std::string PhonesJson(const std::vector<PairedDevice>& phones) {
  std::string json = "[";
  for (const PairedDevice& phone : phones) {
    if (json.size() > 1) json += ",";
    json += JsonObject()
                .Add("id", phone.id)
                .Add("name", phone.name)
                .Add("pairedAt", phone.pairedAt)
                .Text();
  }
  return json + "]";
}

std::optional<std::string> PairingTerminalText(std::string_view link) {
  const std::optional<QrMatrix> matrix = EncodeQr(link);
  if (!matrix) return std::nullopt;
  const int minutes = PairingCodes::kLifetimeMs / 60000;
  return "Scan this with your phone's camera, or open the link on the phone:\n" +
         std::string(link) + "\n" + QrTerminal(*matrix) +
         "The code pairs one phone and stays valid for about " + std::to_string(minutes) +
         " minutes.\n";
}

std::string PairingLink(std::string_view pageAddress, std::string_view code) {
  return "http://" + std::string(pageAddress) + "/#pair=" + std::string(code);
}

std::string PairingPageHtml(const PairingPageView& view) {
  const std::string name = HtmlEscaped(view.computerName.empty() ? "Quavix" : view.computerName);
  const PageSlot slots[] = {
      {"{{NAME}}", name},
      {"{{LINKS}}", std::string(kPageAssetLinks)},
      {"{{CODE}}", CodeSection(view)},
      // JSON escapes '<', so the list cannot end its script element.
      {"{{PHONES}}", PhonesJson(view.phones)},
  };
  return FillSlots(kTemplate, slots);
}
