#pragma once
// The pairing link as a QR code, encoded by the qrcodegen library, drawn two ways: as SVG for
// the pairing page and in Unicode half blocks for a terminal. Both draw the quiet zone the
// standard asks for (four modules), so a camera finds the code against any background.
// Any thread; no state.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct QrMatrix {
  int size = 0;            // modules a side, quiet zone not included
  std::vector<bool> dark;  // size * size, row by row

  bool Dark(int x, int y) const {
    return x >= 0 && y >= 0 && x < size && y < size && dark[static_cast<size_t>(y * size + x)];
  }
};

inline constexpr int kQuietZone = 4;

// With medium error correction (a phone's camera at arm's length on a screen). Empty when the
// text does not fit a QR code or holds a NUL (logged).
std::optional<QrMatrix> EncodeQr(std::string_view text);

// A square SVG, one path of dark modules on a light square, `label` its accessible name.
std::string QrSvg(const QrMatrix& matrix, std::string_view label);

// Lines of text, two rows of modules per line. Light modules are drawn (full, upper and lower
// half blocks) and dark ones left blank, so the code reads right on a terminal's dark
// background.
std::string QrTerminal(const QrMatrix& matrix);
