#pragma once
// What the control page's <head> points to besides itself, so a phone can put it on its home
// screen with a proper icon and name, and a browser finds its favicon: the icon in three sizes
// and the web app manifest. Built into the program (cmake/EmbedFiles.cmake). Any thread.

#include <optional>
#include <string>
#include <string_view>

struct PageAsset {
  std::string_view contentType;
  std::string body;
};

// The asset at request path `path` ("/favicon.ico", "/icon-192.png", "/icon-512.png",
// "/apple-touch-icon.png", "/manifest.webmanifest"); empty for any other. The manifest names
// the page after `computerName`, as its title does.
std::optional<PageAsset> FindPageAsset(std::string_view path, std::string_view computerName);

// The <link> elements that point a browser at them, for the page's <head>.
inline constexpr std::string_view kPageAssetLinks =
    "<link rel=\"icon\" type=\"image/png\" sizes=\"32x32\" href=\"/favicon.ico\">\n"
    "<link rel=\"apple-touch-icon\" href=\"/apple-touch-icon.png\">\n"
    "<link rel=\"manifest\" href=\"/manifest.webmanifest\">\n";
