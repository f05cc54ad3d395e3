#pragma once
// What a second start of the program (its command line) asks of the running one, and how the
// running one answers. The platform carries both beside the instance guard (IRequestChannel.h).
// A request is one line: a word, then, when it has one, a space and its argument. The reply is
// one line: "ok" or "error", a space, and a text for the person who asked.
//
// Adding a request: a word and its handler in the shell's table (Shell.h, the constructor),
// and on the asking side a command-line option that sends RequestLine(word, argument) through
// IRunningServer::Ask and shows the reply (CommandLine.cpp).

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// The longest request or reply a channel carries, newline excluded; longer ones are refused.
constexpr size_t kLongestRequestLine = 4096;

struct Reply {
  bool ok = false;
  std::string text;  // one line, for the person who asked
};

// "WORD" or "WORD ARGUMENT".
std::string RequestLine(std::string_view word, std::string_view argument = {});
// "ok TEXT" or "error TEXT", control characters in TEXT shown escaped so it stays one line.
std::string ReplyLine(const Reply& reply);
// Empty when `line` is neither.
std::optional<Reply> ParseReply(std::string_view line);

// The running server's requests by word. Main thread only.
class RequestTable {
 public:
  // `handler` gets the argument (empty when none) and runs on the main thread.
  using Handler = std::function<Reply(const std::string& argument)>;
  void Add(std::string word, Handler handler);
  // The reply line (without a newline) to `line`; an unknown word is an error naming it.
  std::string Answer(std::string_view line) const;

 private:
  std::map<std::string, Handler, std::less<>> handlers_;
};
