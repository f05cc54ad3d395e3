#pragma once
// A temporary folder of the test's own, removed with everything in it.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

class TempTree {
 public:
  TempTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quavix-test.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempTree() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};
