#include "remote/RemoteArgs.h"

#include <charconv>
#include <string_view>

namespace {

// Whole-string decimal parse within [low, high]; rejects signs, blanks and trailing text.
bool ParseNumber(std::string_view text, long low, long high, long* value) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  long parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

bool ParseCommand(std::string_view word, RemoteCommand* command) {
  struct Entry {
    std::string_view word;
    RemoteCommand command;
  };
  static constexpr Entry kCommands[] = {
      {"get", RemoteCommand::Get},       {"set", RemoteCommand::Set},
      {"mute", RemoteCommand::Mute},     {"unmute", RemoteCommand::Unmute},
      {"toggle", RemoteCommand::Toggle}, {"watch", RemoteCommand::Watch}};
  for (const Entry& entry : kCommands) {
    if (entry.word == word) {
      *command = entry.command;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ParseRemoteArgs(int argc, const char* const* argv, RemoteArgs* args, std::string* error) {
  *args = RemoteArgs{};
  std::string_view positional[3];
  int positionals = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      args->command = RemoteCommand::Help;
      return true;
    }
    if (arg == "--port" || arg == "-p" || arg == "--wait" || arg == "--count") {
      if (i + 1 >= argc) {
        *error = std::string(arg) + " needs a value";
        return false;
      }
      const std::string_view value = argv[++i];
      long number = 0;
      if (arg == "--port" || arg == "-p") {
        if (!ParseNumber(value, 1, 65535, &number)) {
          *error = "bad port '" + std::string(value) + "' (1 to 65535)";
          return false;
        }
        args->port = static_cast<uint16_t>(number);
      } else if (arg == "--wait") {
        if (!ParseNumber(value, 0, 60000, &number)) {
          *error = "bad wait '" + std::string(value) + "' (0 to 60000 ms)";
          return false;
        }
        args->waitMs = static_cast<int>(number);
      } else {
        if (!ParseNumber(value, 1, 1000000000, &number)) {
          *error = "bad count '" + std::string(value) + "' (a positive number)";
          return false;
        }
        args->count = number;
      }
      continue;
    }
    if (arg.size() > 1 && arg.front() == '-') {
      *error = "unknown option '" + std::string(arg) + "'";
      return false;
    }
    if (positionals == 3) {
      *error = "too many arguments";
      return false;
    }
    positional[positionals++] = arg;
  }
  if (positionals < 2) {
    *error = positionals == 0 ? "missing HOST and command" : "missing command";
    return false;
  }
  args->host = std::string(positional[0]);
  if (!ParseCommand(positional[1], &args->command)) {
    *error = "unknown command '" + std::string(positional[1]) + "'";
    return false;
  }
  const bool takesVolume = args->command == RemoteCommand::Set;
  if (takesVolume && positionals < 3) {
    *error = "set needs a VOLUME (0 to 100)";
    return false;
  }
  if (!takesVolume && positionals > 2) {
    *error = "unexpected argument '" + std::string(positional[2]) + "'";
    return false;
  }
  if (takesVolume) {
    long volume = 0;
    if (!ParseNumber(positional[2], 0, 100, &volume)) {
      *error = "bad volume '" + std::string(positional[2]) + "' (0 to 100)";
      return false;
    }
    args->volume = static_cast<int32_t>(volume);
  }
  if (args->count != 0 && args->command != RemoteCommand::Watch) {
    *error = "--count applies to watch only";
    return false;
  }
  return true;
}

const char* RemoteUsage() {
  return "usage: quavix-remote [--port N] [--wait MS] HOST COMMAND\n"
         "commands:\n"
         "  get           print the volume and mute state\n"
         "  set VOLUME    set the volume (0 to 100), keeping the mute switch\n"
         "  mute          mute, keeping the volume\n"
         "  unmute        unmute, keeping the volume\n"
         "  toggle        flip the mute switch\n"
         "  watch         print every state the server sends, with a timestamp, until\n"
         "                interrupted (--count N: stop after N states)\n"
         "options:\n"
         "  --port N      server port (default 17495)\n"
         "  --wait MS     how long to wait after the greeting for the first state\n"
         "                before taking \"unmuted, 100\" (default 300)\n"
         "exit codes: 0 done, 2 bad argument, 3 no server, 4 not a volume server,\n"
         "            5 connection closed or failed\n";
}
