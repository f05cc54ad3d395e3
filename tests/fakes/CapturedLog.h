#pragma once
// The lines the code under test logs (base/Log.h), captured in memory.

#include <sstream>
#include <string>
#include <vector>

#include "base/Log.h"

// Collects what is logged while it exists.
class CapturedLog {
 public:
  // Each line with its newline.
  std::vector<std::string> Lines() const {
    std::istringstream text(stream_.str());
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line + "\n");
    return lines;
  }

 private:
  std::ostringstream stream_;
  ScopedLogStream scope_{stream_};
};
