#include "net/page/pairing/QrCode.h"

#include <qrcodegen.hpp>
#include <stdexcept>

#include "base/Log.h"
#include "net/page/HtmlText.h"

std::optional<QrMatrix> EncodeQr(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) {
    LogError("a QR code cannot hold a NUL character");
    return std::nullopt;
  }
  const std::string copy(text);
  try {
    const qrcodegen::QrCode code =
        qrcodegen::QrCode::encodeText(copy.c_str(), qrcodegen::QrCode::Ecc::MEDIUM);
    QrMatrix matrix;
    matrix.size = code.getSize();
    matrix.dark.reserve(static_cast<size_t>(matrix.size * matrix.size));
    for (int y = 0; y < matrix.size; ++y) {
      for (int x = 0; x < matrix.size; ++x) matrix.dark.push_back(code.getModule(x, y));
    }
    return matrix;
  } catch (const std::exception& error) {
    // The library throws when the text is too long for the largest code.
    LogError(std::string("could not draw a QR code: ") + error.what());
    return std::nullopt;
  }
}

std::string QrSvg(const QrMatrix& matrix, std::string_view label) {
  const int side = matrix.size + 2 * kQuietZone;
  std::string path;
  for (int y = 0; y < matrix.size; ++y) {
    for (int x = 0; x < matrix.size;) {
      if (!matrix.Dark(x, y)) {
        ++x;
        continue;
      }
      int run = 1;
      while (matrix.Dark(x + run, y)) ++run;
      path.append("M")
          .append(std::to_string(x + kQuietZone))
          .append(",")
          .append(std::to_string(y + kQuietZone))
          .append("h")
          .append(std::to_string(run))
          .append("v1h-")
          .append(std::to_string(run))
          .append("z");
      x += run;
    }
  }
  const std::string sideText = std::to_string(side);
  // crispEdges keeps the browser from blurring module borders when it scales the picture.
  // Built with append: GCC 12 warns falsely (-Wrestrict) on "literal" + a temporary string.
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 ";
  svg.append(sideText)
      .append(" ")
      .append(sideText)
      .append("\" shape-rendering=\"crispEdges\" role=\"img\" aria-label=\"")
      .append(HtmlEscaped(label))
      .append("\"><rect width=\"100%\" height=\"100%\" fill=\"#fff\"/><path fill=\"#000\" d=\"")
      .append(path)
      .append("\"/></svg>");
  return svg;
}

std::string QrTerminal(const QrMatrix& matrix) {
  const int first = -kQuietZone;
  const int end = matrix.size + kQuietZone;
  std::string text;
  for (int y = first; y < end; y += 2) {
    for (int x = first; x < end; ++x) {
      const bool upperLight = !matrix.Dark(x, y);
      // Past the last row: the quiet zone's light is not drawn below an odd count of rows.
      const bool lowerLight = y + 1 < end && !matrix.Dark(x, y + 1);
      if (upperLight && lowerLight) {
        text += "\u2588";
      } else if (upperLight) {
        text += "\u2580";
      } else if (lowerLight) {
        text += "\u2584";
      } else {
        text += ' ';
      }
    }
    text += '\n';
  }
  return text;
}
