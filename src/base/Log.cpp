#include "base/Log.h"

#include <atomic>
#include <cstring>
#include <iostream>
#include <mutex>
#include <utility>

namespace {

std::mutex logMutex;
std::string programName = "quavix-server";
std::ostream* logStream = nullptr;  // null: std::cerr
std::atomic<bool> verbose{false};

void WriteLine(const std::string& text) {
  std::lock_guard lock(logMutex);
  std::ostream& out = logStream ? *logStream : std::cerr;
  out << programName << ": " << text << "\n";
  out.flush();
}

}  // namespace

void SetLogProgramName(const std::string& name) {
  std::lock_guard lock(logMutex);
  programName = name;
}

std::ostream* SetLogStream(std::ostream* stream) {
  std::lock_guard lock(logMutex);
  return std::exchange(logStream, stream);
}

void SetLogVerbose(bool on) {
  verbose = on;
}
bool LogVerbose() {
  return verbose;
}

void LogError(const std::string& text) {
  WriteLine(text);
}

void LogNote(const std::string& text) {
  if (verbose) WriteLine(text);
}

void LogSystemError(const std::string& what, int error) {
  WriteLine(what + ": " + std::strerror(error));
}
