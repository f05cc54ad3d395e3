#pragma once
// Shows every error in the platform's box and also logs it, so a headless or service run tells
// why it failed. Main thread only.

#include <cstdint>
#include <optional>
#include <string>

#include "audio/IErrorReporter.h"
#include "base/Log.h"

class LoggedBoxes final : public IErrorReporter {
 public:
  // `messageBox` shows the boxes; it logs nothing itself.
  explicit LoggedBoxes(IErrorReporter& messageBox) : messageBox_(messageBox) {}
  void ShowError(const std::string& text, const std::string& title) override {
    Report(text, title, std::nullopt);
  }
  // The log line carries the port after the text; the box does not.
  void Report(const std::string& text, const std::string& title, std::optional<uint16_t> port) {
    LogError(port ? text + " " + std::to_string(*port) : text);
    messageBox_.ShowError(text, title);
  }

 private:
  IErrorReporter& messageBox_;
};
