#pragma once
// The control page, built into the program: nothing is fetched from anywhere else. {{NAME}} is
// the computer's name. The script speaks the byte protocol over the WebSocket at /ws: each
// binary message carries protocol bytes (the greeting, state bytes, keep-alives), read as one
// stream.

#include <string_view>

inline constexpr std::string_view kPageTemplate = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="color-scheme" content="light dark">
<title>{{NAME}} volume</title>
<style>
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
input[type=range] { width: 100%; height: 3rem; margin: .75rem 0 1.25rem; accent-color: var(--accent);
  touch-action: none; }
button { width: 100%; font: inherit; font-size: 1.2rem; font-weight: 600; padding: .9rem;
  border-radius: .75rem; border: 2px solid var(--accent); background: transparent;
  color: var(--accent); touch-action: manipulation; }
button[aria-pressed=true] { background: var(--muted); border-color: var(--muted); color: #fff; }
.off output { text-decoration: line-through; color: var(--soft); }
:disabled { opacity: .45; }
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
</main>
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
  let state = { volume: 100, muted: false };  // until the server says otherwise
  let dragging = false;

  function show() {
    if (!dragging) slider.value = state.volume;
    number.value = number.textContent = dragging ? slider.value : state.volume;
    mute.textContent = state.muted ? "Unmute" : "Mute";
    mute.setAttribute("aria-pressed", String(state.muted));
    card.classList.toggle("off", state.muted);
  }
  function setConnected(up, text) {
    slider.disabled = mute.disabled = !up;
    statusLine.textContent = text;
    statusLine.classList.toggle("down", !up);
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
        if (greeted === GREETING.length) { retryMs = 500; setConnected(true, "Connected"); }
      } else if (b !== KEEP_ALIVE && (b & 0x7F) <= 100) {
        // A state that arrives while the finger is down is older than the finger: the server
        // holds changes back while we send, and tells us the newest one once we stop.
        if (dragging) continue;
        state = { volume: b & 0x7F, muted: (b & 0x80) !== 0 };
      }
    }
    show();
  }
  function connect() {
    clearTimeout(retryTimer);
    greeted = 0;
    socket = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/ws");
    socket.binaryType = "arraybuffer";
    socket.onmessage = (e) => receive(new Uint8Array(e.data));
    socket.onclose = () => {
      socket = null;
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
  mute.addEventListener("click", () => {
    state.muted = !state.muted;
    show();
    send();
  });
  document.addEventListener("visibilitychange", () => {
    if (document.hidden) return;
    closeIfSilent();
    if (!socket) connect();  // back from sleep: at once, not after the back-off
  });
  setInterval(closeIfSilent, 5000);
  show();
  connect();
})();
</script>
</body>
</html>
)html";
