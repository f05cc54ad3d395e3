// Pairing on the phone's control page: the code a pairing link brought (in its fragment, which
// the browser never sends), the key this browser keeps after pairing (localStorage), the
// command that answers the server's challenge, and a refusal in words. Needs PairingProofs.
const PagePairing = (() => {
  const STORE = "quavix-paired-phone";
  const HINT = "Pair this phone: choose Pair a phone\u2026 in Quavix Server's menu on the computer";
  const AGAIN = " Choose Pair a phone\u2026 in Quavix Server's menu on the computer for a new code.";
  const WORDS = {
    "unpaired": HINT,
    "forgotten": "This phone was forgotten on the computer. " + HINT,
    "wrong-answer": "The computer did not accept this phone's key. " + HINT,
    "code-used": "This pairing code has been used already." + AGAIN,
    "code-lapsed": "This pairing code has lapsed: a code lasts about 10 minutes." + AGAIN,
    "code-wrong": "This pairing code is not one the computer gave out." + AGAIN,
    "too-many-tries": "Too many failed tries from this phone's address. Wait a minute, then reload.",
    "server-error": "The computer could not pair this phone. Try again with a new code.",
  };
  // Reasons after which the key kept here is worth nothing.
  const KEY_LOST = new Set(["unpaired", "forgotten", "wrong-answer"]);
  let code = "", codeNonce = "";
  // The key when storage refuses it (a private window): good for as long as this page is open.
  let unkept = null;

  // The code in the address, taken out of it so it is neither bookmarked nor shown again.
  function takeCode() {
    const found = /^#pair=([0-9a-f]{32})$/.exec(location.hash);
    if (!found) return false;
    code = found[1];
    try {
      history.replaceState(null, "", location.pathname + location.search);
    } catch (e) { /* the address keeps the code; it is used up all the same */ }
    return true;
  }
  function kept() {
    try {
      const phone = JSON.parse(localStorage.getItem(STORE));
      if (phone && /^[0-9a-f]{16}$/.test(phone.device) && /^[0-9a-f]{64}$/.test(phone.key)) {
        return phone;
      }
    } catch (e) { /* no storage, or not ours: as if nothing were kept */ }
    return unkept;
  }
  takeCode();
  return {
    hint: HINT,
    // Whether a new pairing link was opened in this page (the camera may reuse a tab).
    takeCode,
    // Whether the next answer pairs with a code.
    pairing() { return code !== ""; },
    // The command that answers a challenge, or "" when this browser has neither code nor key.
    answer(nonce) {
      if (code) {
        codeNonce = nonce;
        return "pair " + PairingProofs.codeProof(code, nonce);
      }
      const phone = kept();
      return phone ? "answer " + phone.device + " " + PairingProofs.keyAnswer(phone.key, nonce) : "";
    },
    // The server paired this phone under `device`: keep the key both sides derived.
    paired(device) {
      const key = PairingProofs.deviceKey(code, codeNonce);
      code = "";
      try {
        localStorage.setItem(STORE, JSON.stringify({ device, key }));
      } catch (e) {
        unkept = { device, key };
      }
    },
    // A refusal: its words, and whether to connect again at once, which is worth it only when
    // a code was refused from a phone paired before (its kept key lets it in).
    refused(reason) {
      if (KEY_LOST.has(reason)) {
        unkept = null;
        try { localStorage.removeItem(STORE); } catch (e) { /* nothing was kept */ }
      }
      const retry = reason.startsWith("code-") && code !== "" && kept() !== null;
      if (reason.startsWith("code-")) code = "";
      return { words: WORDS[reason] || "The computer refused this phone. " + HINT, retry };
    },
  };
})();
