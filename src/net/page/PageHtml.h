#pragma once
// The control page, built into the program: nothing is fetched from anywhere else. {{NAME}} is
// the computer's name, {{LINKS}} points at its icons and manifest, {{PAIRING}} is pairing's
// script (net/page/pairing/PagePairingScript.h). The script speaks the byte protocol over the
// WebSocket at /ws: each binary message carries protocol bytes (the greeting, state bytes,
// keep-alives), read as one stream. Before that a page that must prove its phone's key is sent
// a challenge as a text message, and answers it (net/page/pairing/PageAdmission.h). Once greeted,
// text messages carry the remote control: the server says what plays and which outputs there
// are, the page sends its buttons' commands (net/page/RemoteMessages.h).

#include <string_view>

inline constexpr std::string_view kPageTemplate = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="color-scheme" content="light dark">
<meta name="theme-color" content="#2f6fdb">
<title>{{NAME}} volume</title>
{{LINKS}}<style>
:root { --fg: #1b1b1f; --bg: #f6f6f8; --card: #ffffff; --accent: #2f6fdb; --muted: #c0392b;
        --line: #d4d4dc; --soft: #5c5c66; }
@media (prefers-color-scheme: dark) {
  :root { --fg: #ececf1; --bg: #121216; --card: #1e1e24; --accent: #6ea0ff; --muted: #ff6b5b;
          --line: #3a3a44; --soft: #a6a6b2; }
}
* { box-sizing: border-box; }
html, body { margin: 0; background: var(--bg); color: var(--fg);
  font: 16px/1.4 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; }
main { max-width: 34rem; margin: 0 auto; padding: 1.5rem 1.25rem; }
h1 { font-size: 1.5rem; margin: 0 0 .25rem; overflow-wrap: anywhere; }
#status { margin: 0 0 1.25rem; color: var(--soft); min-height: 1.4em; }
#status.down { color: var(--muted); font-weight: 600; }
.card { background: var(--card); border: 1px solid var(--line); border-radius: 1rem;
  padding: 1.25rem; }
.row { display: flex; align-items: baseline; justify-content: space-between; }
label { font-size: 1.1rem; }
output { font-size: 3rem; font-weight: 700; font-variant-numeric: tabular-nums; }
/* A thumb a finger can hold: 44 px, the smallest touch target phones recommend. */
input[type=range] { -webkit-appearance: none; appearance: none; width: 100%; height: 3rem;
  margin: .75rem 0 1.25rem; background: transparent; touch-action: none; }
input[type=range]::-webkit-slider-runnable-track { height: .5rem; border-radius: .25rem;
  background: var(--line); }
input[type=range]::-moz-range-track { height: .5rem; border-radius: .25rem; background: var(--line); }
input[type=range]::-webkit-slider-thumb { -webkit-appearance: none; width: 44px; height: 44px;
  margin-top: calc(.25rem - 22px); border-radius: 50%; border: 0; background: var(--accent); }
input[type=range]::-moz-range-thumb { width: 44px; height: 44px; border-radius: 50%; border: 0;
  background: var(--accent); }
button { width: 100%; min-height: 44px; font: inherit; font-size: 1.2rem; font-weight: 600; padding: .9rem;
  border-radius: .75rem; border: 2px solid var(--accent); background: transparent;
  color: var(--accent); touch-action: manipulation; }
button[aria-pressed=true] { background: var(--muted); border-color: var(--muted); color: #fff; }
.off output { text-decoration: line-through; color: var(--soft); }
:disabled { opacity: .45; }
.remote { margin-top: 1rem; }
.keys { display: flex; gap: .75rem; margin: .75rem 0 1rem; }
/* Drawn, not taken from a font: a phone without a symbol font shows them all the same. */
.keys svg { width: 1.75rem; height: 1.75rem; fill: currentColor; vertical-align: middle; }
#playing { margin: 0; min-height: 1.4em; overflow-wrap: anywhere; }
select { width: 100%; min-height: 44px; font: inherit; padding: .5rem; border-radius: .75rem;
  border: 2px solid var(--line); background: var(--card); color: var(--fg); margin-top: .25rem; }
</style>
</head>
<body>
<main>
<h1 id="name">{{NAME}}</h1>
<p id="status" role="status">Connecting&#8230;</p>
<div class="card" id="card">
  <div class="row"><label for="volume">Volume</label><output id="number" for="volume">100</output></div>
  <input type="range" id="volume" min="0" max="100" step="1" value="100" disabled>
  <button id="mute" type="button" aria-pressed="false" disabled>Mute</button>
</div>
<div class="card remote" id="remote">
  <p id="playing">Nothing is playing</p>
  <div class="keys">
    <button id="previous" type="button" aria-label="Previous track" disabled><svg viewBox="0 0 24 24" aria-hidden="true"><path d="M5 5h2v14H5zM20 5v14L8 12z"/></svg></button>
    <button id="playpause" type="button" aria-label="Play or pause" disabled><svg viewBox="0 0 24 24" aria-hidden="true"><path d="M3 5v14l10-7zM15 5h2.5v14H15zM19.5 5H22v14h-2.5z"/></svg></button>
    <button id="next" type="button" aria-label="Next track" disabled><svg viewBox="0 0 24 24" aria-hidden="true"><path d="M17 5h2v14h-2zM4 5v14l12-7z"/></svg></button>
  </div>
  <div id="outputs" hidden>
    <label for="output">Output</label>
    <select id="output" disabled></select>
  </div>
</div>
</main>
<script>
{{PAIRING}}
</script>
<script>
"use strict";
(() => {
  const GREETING = [0x19, 0xC8, 0xDE, 0x00];
  const KEEP_ALIVE = 0xFF;
  // The server sends a keep-alive every 20 s; silence for longer means the link is gone even
  // when the socket has not noticed (a phone that slept).
  const SILENCE_MS = 45000;
  const slider = document.getElementById("volume");
  const number = document.getElementById("number");
  const mute = document.getElementById("mute");
  const statusLine = document.getElementById("status");
  const card = document.getElementById("card");
  let socket = null, greeted = 0, lastHeard = 0, retryMs = 500, retryTimer = 0;
  // Why the computer will not let this page in, shown until a new pairing link is opened; and
  // the reason the current socket was refused for.
  let stopped = "", refusal = "";
  let state = { volume: 100, muted: false };  // as each greeting leaves it
  let dragging = false;
  // The remote control: what the server last said of the player and the output devices. A
  // server that offers neither sends nothing, and the buttons stay disabled.
  const playing = document.getElementById("playing");
  const keys = ["previous", "playpause", "next"].map((id) => document.getElementById(id));
  const outputBox = document.getElementById("outputs");
  const output = document.getElementById("output");
  let media = { controllable: false, title: "", artist: "" };
  let outputs = { canChoose: false, default: "", devices: [] };

  function show() {
    if (!dragging) slider.value = state.volume;
    number.value = number.textContent = dragging ? slider.value : state.volume;
    mute.textContent = state.muted ? "Unmute" : "Mute";
    mute.setAttribute("aria-pressed", String(state.muted));
    card.classList.toggle("off", state.muted);
  }
  function showRemote() {
    const up = greeted === GREETING.length;
    const what = [media.title, media.artist].filter((t) => t).join(" \u2014 ");
    playing.textContent = media.controllable ? what : "Nothing is playing";
    for (const key of keys) key.disabled = !up || !media.controllable;
    // Only the devices the server listed last: one that is gone is gone from the list too.
    output.replaceChildren(...outputs.devices.map(
        (d) => new Option(String(d.name), String(d.id), d.id === outputs.default,
                          d.id === outputs.default)));
    outputBox.hidden = outputs.devices.length === 0;
    output.disabled = !up || !outputs.canChoose || outputs.devices.length < 2;
  }
  function setConnected(up, text) {
    slider.disabled = mute.disabled = !up;
    statusLine.textContent = text;
    statusLine.classList.toggle("down", !up);
    showRemote();
  }
  // A command of the remote's, once the server has greeted this page.
  function sendText(text) {
    if (socket && socket.readyState === WebSocket.OPEN && greeted === GREETING.length) {
      socket.send(text);
    }
  }
  function send() {
    if (socket && socket.readyState === WebSocket.OPEN && greeted === GREETING.length) {
      socket.send(new Uint8Array([(state.muted ? 0x80 : 0) | state.volume]));
    }
  }
  function receive(bytes) {
    lastHeard = Date.now();
    for (const b of bytes) {
      if (greeted < GREETING.length) {
        if (b !== GREETING[greeted++]) { socket.close(); return; }
        if (greeted === GREETING.length) {
          // A new connection starts from nothing known, as a byte client's does: the server
          // sends no state byte for unmuted 100, so whatever a lost connection left would stay.
          state = { volume: 100, muted: false };
          retryMs = 500;
          setConnected(true, "Connected");
        }
      } else if (b !== KEEP_ALIVE && (b & 0x7F) <= 100) {
        // A state that arrives while the finger is down is older than the finger: the server
        // holds changes back while we send, and tells us the newest one once we stop.
        if (dragging) continue;
        state = { volume: b & 0x7F, muted: (b & 0x80) !== 0 };
      }
    }
    show();
  }
  // A text message: pairing's challenge, or what became of the answer.
  function receiveText(text) {
    let message;
    try { message = JSON.parse(text); } catch (e) { return; }
    if (message.type === "challenge") {
      const answer = PagePairing.answer(String(message.nonce));
      if (!answer) {
        // Neither a code nor a key: nothing to try until a pairing link is opened.
        stopped = PagePairing.hint;
        socket.close();
        return;
      }
      socket.send(answer);
    } else if (message.type === "paired") {
      PagePairing.paired(String(message.device));
    } else if (message.type === "refused") {
      refusal = String(message.reason);
    } else if (message.type === "media") {
      media = message;
      showRemote();
    } else if (message.type === "outputs") {
      outputs = message;
      showRemote();
    }
  }
  function connect() {
    clearTimeout(retryTimer);
    greeted = 0;
    refusal = "";
    setConnected(false, PagePairing.pairing() ? "Pairing this phone\u2026" : "Connecting\u2026");
    socket = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/ws");
    socket.binaryType = "arraybuffer";
    socket.onmessage = (e) => {
      if (typeof e.data === "string") receiveText(e.data);
      else receive(new Uint8Array(e.data));
    };
    socket.onclose = (e) => {
      socket = null;
      // A refusal says why; a phone forgotten while connected hears it in the close frame.
      const reason = refusal || (e.code === 1008 && e.reason !== "refused" ? e.reason : "");
      if (reason) {
        const refused = PagePairing.refused(reason);
        if (refused.retry) return connect();
        stopped = refused.words;
      }
      if (stopped) return setConnected(false, stopped);
      setConnected(false, "Connection lost. Reconnecting\u2026");
      retryTimer = setTimeout(connect, retryMs);
      retryMs = Math.min(retryMs * 2, 5000);
    };
    lastHeard = Date.now();
  }
  function closeIfSilent() {
    if (socket && Date.now() - lastHeard > SILENCE_MS) socket.close();
  }

  slider.addEventListener("pointerdown", () => { dragging = true; });
  for (const end of ["pointerup", "pointercancel", "lostpointercapture"]) {
    slider.addEventListener(end, () => { dragging = false; show(); });
  }
  slider.addEventListener("input", () => {
    state.volume = Number(slider.value);
    show();
    send();
  });
  slider.addEventListener("change", () => { dragging = false; show(); });
  for (const key of keys) key.addEventListener("click", () => sendText("media " + key.id));
  output.addEventListener("change", () => sendText("output " + output.value));
  mute.addEventListener("click", () => {
    state.muted = !state.muted;
    show();
    send();
  });
  document.addEventListener("visibilitychange", () => {
    if (document.hidden) return;
    closeIfSilent();
    if (!socket && !stopped) connect();  // back from sleep: at once, not after the back-off
  });
  // The camera may open a new pairing link in this same page.
  window.addEventListener("hashchange", () => {
    if (!PagePairing.takeCode()) return;
    stopped = "";
    if (socket) socket.close(); else connect();
  });
  setInterval(closeIfSilent, 5000);
  show();
  connect();
})();
</script>
</body>
</html>
)html";
