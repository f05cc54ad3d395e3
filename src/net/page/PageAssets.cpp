#include "net/page/PageAssets.h"

#include "net/page/EmbeddedFile.h"
#include "net/page/JsonText.h"

// Generated from res/icons (cmake/EmbedFiles.cmake).
std::span<const EmbeddedFile> PageIconFiles();

namespace {

struct IconRoute {
  std::string_view path;
  std::string_view file;
};

constexpr IconRoute kIconRoutes[] = {
    {"/favicon.ico", "quavix-32.png"},  // a PNG: every browser that asks for it reads one
    {"/icon-192.png", "quavix-192.png"},
    {"/icon-512.png", "quavix-512.png"},
    {"/apple-touch-icon.png", "quavix-192.png"},
};

std::string Icon(std::string_view path, std::string_view sizes) {
  return JsonObject().Add("src", path).Add("sizes", sizes).Add("type", "image/png").Text();
}

std::string Manifest(std::string_view computerName) {
  const std::string name = std::string(computerName.empty() ? "Quavix" : computerName);
  // Built with append: GCC 12 warns falsely (-Wrestrict) on "literal" + a temporary string.
  std::string icons = "[";
  icons.append(Icon("/icon-192.png", "192x192"))
      .append(",")
      .append(Icon("/icon-512.png", "512x512"))
      .append("]");
  return JsonObject()
      .Add("name", name + " volume")
      .Add("short_name", "Volume")
      .Add("start_url", "/")
      .Add("scope", "/")
      .Add("display", "standalone")
      .Add("background_color", "#f6f6f8")
      .Add("theme_color", "#2f6fdb")
      .AddRaw("icons", icons)
      .Text();
}

}  // namespace

std::optional<PageAsset> FindPageAsset(std::string_view path, std::string_view computerName) {
  if (path == "/manifest.webmanifest") {
    return PageAsset{"application/manifest+json", Manifest(computerName)};
  }
  for (const IconRoute& route : kIconRoutes) {
    if (path == route.path) {
      return PageAsset{"image/png", std::string(FindEmbedded(PageIconFiles(), route.file))};
    }
  }
  return std::nullopt;
}
