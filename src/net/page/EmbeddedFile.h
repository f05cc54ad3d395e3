#pragma once
// A file built into the program at build time (cmake/EmbedFiles.cmake).

#include <span>
#include <string_view>

struct EmbeddedFile {
  std::string_view name;   // the file's name, without its folder
  std::string_view bytes;  // its whole content
};

// The bytes of the file called `name`; empty when there is none.
inline std::string_view FindEmbedded(std::span<const EmbeddedFile> files, std::string_view name) {
  for (const EmbeddedFile& file : files) {
    if (file.name == name) return file.bytes;
  }
  return {};
}
