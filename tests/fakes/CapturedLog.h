#pragma once
// The lines the code under test logs (base/Log.h), captured in a temporary file.

#include <cstdio>
#include <string>
#include <vector>

#include "base/Log.h"

// Collects what is logged while it exists.
class CapturedLog {
 public:
  CapturedLog() : stream_(std::tmpfile()) { SetLogStream(stream_); }
  ~CapturedLog() {
    SetLogStream(nullptr);
    std::fclose(stream_);
  }
  std::vector<std::string> Lines() {
    std::fflush(stream_);
    std::rewind(stream_);
    std::vector<std::string> lines;
    char line[512];
    while (std::fgets(line, sizeof line, stream_) != nullptr) lines.emplace_back(line);
    return lines;
  }

 private:
  std::FILE* stream_;
};
