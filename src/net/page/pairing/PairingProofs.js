// The three proofs of pairing, computed as the server computes them (net/page/pairing/Proofs.h),
// with CryptoJS's HMAC-SHA-256, which comes before this in the page's script: on plain http on
// a LAN address the browser offers no crypto.subtle. Hex in, hex out.
const PairingProofs = (() => {
  const hex = CryptoJS.enc.Hex;
  const hmac = (keyHex, messageHex) =>
    CryptoJS.HmacSHA256(hex.parse(messageHex), hex.parse(keyHex)).toString(hex);
  const deviceKeyLabel = hex.stringify(CryptoJS.enc.Utf8.parse("device key"));
  return {
    hmac,
    codeProof: (codeHex, nonceHex) => hmac(codeHex, nonceHex),
    deviceKey: (codeHex, nonceHex) => hmac(codeHex, nonceHex + deviceKeyLabel),
    keyAnswer: (keyHex, nonceHex) => hmac(keyHex, nonceHex),
  };
})();
