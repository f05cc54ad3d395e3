#pragma once
// Text from outside (a settings file, a name announced on the network, a request) as it may be
// shown on a terminal or in a log line: it can neither forge a line or a field nor drive the
// terminal, and a huge value cannot flood the log. Any thread.

#include <cstddef>
#include <string>
#include <string_view>

// `text` with every control character (C0, DEL and C1), every byte that is no part of valid
// UTF-8 and every backslash escaped (\t, \n, \r, \\, \xNN; a C1 character as \u0080 to
// \u009F). When the result would be longer than `longest` bytes, it is cut before the escape or
// character that does not fit and ends in "...".
std::string ShownText(std::string_view text, size_t longest = 200);
