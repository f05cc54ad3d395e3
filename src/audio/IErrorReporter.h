#pragma once
// A modal error report without an owner window, with the error icon and one OK button.
// Returns once the user closed it (at once where there is nobody to show it to).

#include <string>

class IErrorReporter {
 public:
  virtual ~IErrorReporter() = default;
  // Main thread. UTF-8 texts.
  virtual void ShowError(const std::string& text, const std::string& title) = 0;
};
