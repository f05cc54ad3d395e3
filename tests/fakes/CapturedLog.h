#pragma once
// The lines the code under test logs (base/Log.h), captured in memory. The test thread may read
// them while a server thread still logs, so the buffer has its own lock.

#include <mutex>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "base/Log.h"

// Collects what is logged while it exists.
class CapturedLog {
 public:
  // Each line with its newline.
  std::vector<std::string> Lines() const {
    std::istringstream text(buffer_.Text());
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line + "\n");
    return lines;
  }

 private:
  class LockedBuffer final : public std::streambuf {
   public:
    std::string Text() const {
      std::lock_guard lock(mutex_);
      return text_;
    }

   protected:
    int_type overflow(int_type c) override {
      if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
      std::lock_guard lock(mutex_);
      text_ += traits_type::to_char_type(c);
      return c;
    }
    std::streamsize xsputn(const char* data, std::streamsize count) override {
      std::lock_guard lock(mutex_);
      text_.append(data, static_cast<size_t>(count));
      return count;
    }

   private:
    mutable std::mutex mutex_;
    std::string text_;
  };

  LockedBuffer buffer_;
  std::ostream stream_{&buffer_};
  ScopedLogStream scope_{stream_};
};
