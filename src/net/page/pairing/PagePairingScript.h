#pragma once
// The page's half of pairing's proofs as script, for the page's <script>: CryptoJS's
// HMAC-SHA-256 from Debian's libjs-cryptojs, read at build time; PairingProofs.js, which
// defines `PairingProofs` (hmac, codeProof, deviceKey, keyAnswer; hex in, hex out); and
// PagePairing.js, which defines `PagePairing` (the code, the kept key, answers, refusals).
// Any thread.

#include <string>

std::string PagePairingScript();
