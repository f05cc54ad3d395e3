#include "net/page/pairing/PagePairingScript.h"

#include "net/page/EmbeddedFile.h"

// Generated (cmake/EmbedFiles.cmake).
std::span<const EmbeddedFile> PagePairingFiles();

std::string PagePairingScript() {
  const std::span<const EmbeddedFile> files = PagePairingFiles();
  return std::string(FindEmbedded(files, "hmac-sha256.js")) + "\n" +
         std::string(FindEmbedded(files, "PairingProofs.js")) + "\n" +
         std::string(FindEmbedded(files, "PagePairing.js"));
}
