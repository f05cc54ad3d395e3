#pragma once
// Records each modal error report instead of showing it.

#include <string>
#include <vector>

#include "audio/IErrorReporter.h"

class FakeErrorReporter final : public IErrorReporter {
 public:
  struct Report {
    std::string text;
    std::string title;
  };
  void ShowError(const std::string& text, const std::string& title) override {
    reports.push_back({text, title});
  }
  std::vector<Report> reports;
};
