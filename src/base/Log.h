#pragma once
// The one way diagnostics leave the program: "PROGRAM: text" lines on one stream.
// Errors are for the user and always shown; notes only with --verbose. Native failures are
// logged once, by the adapter that turns them into our result, with the library's own reason
// (each platform's adapters format their own codes).
// Any thread; each line is written whole.

#include <ostream>
#include <string>

// Main thread, before any other thread logs. "quavix-server" unless set.
void SetLogProgramName(const std::string& name);
// Where lines go (std::cerr unless set); tests, and a program with no console, collect them
// in a string stream. Null restores std::cerr. The stream must outlive its use. Returns the one
// that was set.
std::ostream* SetLogStream(std::ostream* stream);
// Whether notes are shown (off unless set).
void SetLogVerbose(bool verbose);
bool LogVerbose();

void LogError(const std::string& text);
void LogNote(const std::string& text);
// "WHAT: strerror(error)" as an error, for a failed system call.
void LogSystemError(const std::string& what, int error);

// Sends the lines to `stream` while it lives, then back to where they went before.
class ScopedLogStream {
 public:
  explicit ScopedLogStream(std::ostream& stream) : previous_(SetLogStream(&stream)) {}
  ~ScopedLogStream() { SetLogStream(previous_); }
  ScopedLogStream(const ScopedLogStream&) = delete;
  ScopedLogStream& operator=(const ScopedLogStream&) = delete;

 private:
  std::ostream* previous_;
};
