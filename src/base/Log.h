#pragma once
// The one way diagnostics leave the program: "PROGRAM: text" lines on one stream.
// Errors are for the user and always shown; notes only with --verbose. Native failures are
// logged once, by the adapter that turns them into our result, with the library's own reason.
// Any thread; each line is written whole.

#include <cstdio>
#include <string>

// Main thread, before any other thread logs. "quavix-server" unless set.
void SetLogProgramName(const std::string& name);
// Where lines go (stderr unless set); tests inject a stream. Null restores stderr.
void SetLogStream(std::FILE* stream);
// Whether notes are shown (off unless set).
void SetLogVerbose(bool verbose);
bool LogVerbose();

void LogError(const std::string& text);
void LogNote(const std::string& text);
// "WHAT: strerror(error)" as an error, for a failed system call.
void LogSystemError(const std::string& what, int error);
