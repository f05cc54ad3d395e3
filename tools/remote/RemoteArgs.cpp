#include "remote/RemoteArgs.h"

#include <optional>
#include <string_view>

#include "base/Port.h"

namespace {

// "40", "40%": a level; "+5", "-5", "+5%": a step. Each 0 to 100.
bool ParseVolume(std::string_view text, VolumeChange* change, int32_t* volume) {
  *change = VolumeChange::To;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    *change = text.front() == '+' ? VolumeChange::Up : VolumeChange::Down;
    text.remove_prefix(1);
  }
  if (!text.empty() && text.back() == '%') text.remove_suffix(1);
  const std::optional<long> number = ParseDecimal(text, 0, 100);
  if (number) *volume = static_cast<int32_t>(*number);
  return number.has_value();
}

// "HOST", "HOST:PORT", "[IPV6]", "[IPV6]:PORT", or a bare IPv6 literal (two colons or more).
bool ParseAddress(std::string_view text, std::string* host, std::optional<uint16_t>* port,
                  std::string* error) {
  std::string_view portText;
  bool hasPort = false;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    const std::string_view rest = close == std::string_view::npos ? "" : text.substr(close + 1);
    if (close == std::string_view::npos || close == 1 || (!rest.empty() && rest.front() != ':')) {
      *error =
          "bad address '" + std::string(text) + "' (an IPv6 address goes in brackets: [::1]:17495)";
      return false;
    }
    *host = std::string(text.substr(1, close - 1));
    hasPort = !rest.empty();
    portText = hasPort ? rest.substr(1) : "";
  } else if (const size_t colon = text.find(':');
             colon != std::string_view::npos &&
             text.find(':', colon + 1) == std::string_view::npos) {
    *host = std::string(text.substr(0, colon));
    hasPort = true;
    portText = text.substr(colon + 1);
  } else {
    *host = std::string(text);
  }
  if (host->empty()) {
    *error = "bad address '" + std::string(text) + "' (no host)";
    return false;
  }
  *port = hasPort ? ParsePort(portText) : std::nullopt;
  if (hasPort && !*port) {
    *error = "bad port in '" + std::string(text) + "' (1 to 65535)";
    return false;
  }
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
      {"toggle", RemoteCommand::Toggle}, {"watch", RemoteCommand::Watch},
      {"list", RemoteCommand::List}};
  for (const Entry& entry : kCommands) {
    if (entry.word == word) {
      *command = entry.command;
      return true;
    }
  }
  return false;
}

// "-5" is a step down for set, never an option.
bool IsOption(std::string_view arg) {
  return arg.size() > 1 && arg.front() == '-' && !(arg[1] >= '0' && arg[1] <= '9');
}

}  // namespace

bool ParseRemoteArgs(int argc, const char* const* argv, const char* envHost, RemoteArgs* args,
                     std::string* error) {
  *args = RemoteArgs{};
  std::string_view positional[4];
  int positionals = 0;
  std::optional<uint16_t> optionPort;
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
      if (arg == "--port" || arg == "-p") {
        optionPort = ParsePort(value);
        if (!optionPort) {
          *error = "bad port '" + std::string(value) + "' (1 to 65535)";
          return false;
        }
      } else if (arg == "--wait") {
        const std::optional<long> wait = ParseDecimal(value, 0, 60000);
        if (!wait) {
          *error = "bad wait '" + std::string(value) + "' (0 to 60000 ms)";
          return false;
        }
        args->waitMs = static_cast<int>(*wait);
      } else {
        const std::optional<long> count = ParseDecimal(value, 1, 1000000000);
        if (!count) {
          *error = "bad count '" + std::string(value) + "' (a positive number)";
          return false;
        }
        args->count = *count;
      }
      continue;
    }
    if (IsOption(arg)) {
      *error = "unknown option '" + std::string(arg) + "'";
      return false;
    }
    if (positionals == 4) {
      *error = "too many arguments";
      return false;
    }
    positional[positionals++] = arg;
  }

  // The address is optional: a first word that is no command is one.
  int next = 0;
  std::string_view address = envHost != nullptr ? envHost : "";
  const bool addressGiven = positionals > 0 && !ParseCommand(positional[0], &args->command);
  if (addressGiven) address = positional[next++];
  if (next == positionals) {
    *error = "missing command (get, set, mute, unmute, toggle, watch or list)";
    return false;
  }
  if (!ParseCommand(positional[next], &args->command)) {
    *error = "unknown command '" + std::string(positional[next]) + "'";
    return false;
  }
  ++next;
  if (args->command == RemoteCommand::List && (addressGiven || optionPort)) {
    *error = "list finds servers itself: it takes no HOST or --port";
    return false;
  }
  std::optional<uint16_t> addressPort;
  if (!address.empty() && !ParseAddress(address, &args->host, &addressPort, error)) {
    if (!addressGiven) *error = "QUAVIX_HOST: " + *error;
    return false;
  }
  if (addressGiven && addressPort && optionPort) {
    *error = "the port is given twice ('" + std::string(address) + "' and --port)";
    return false;
  }
  // The command line's own port wins over the environment's.
  args->port = addressGiven && addressPort ? *addressPort
               : optionPort                ? *optionPort
                                           : addressPort.value_or(kDefaultPort);

  const bool takesVolume = args->command == RemoteCommand::Set;
  if (takesVolume && next == positionals) {
    *error = "set needs a VOLUME (0 to 100, N%, +N or -N)";
    return false;
  }
  if (positionals > next + (takesVolume ? 1 : 0)) {
    *error = "unexpected argument '" + std::string(positional[next + (takesVolume ? 1 : 0)]) + "'";
    return false;
  }
  if (takesVolume && !ParseVolume(positional[next], &args->change, &args->volume)) {
    *error = "bad volume '" + std::string(positional[next]) + "' (0 to 100, N%, +N or -N)";
    return false;
  }
  if (args->count != 0 && args->command != RemoteCommand::Watch) {
    *error = "--count applies to watch only";
    return false;
  }
  return true;
}

std::string RemoteUsage() {
  const std::string port = std::to_string(kDefaultPort);
  return std::string(
             "usage: quavix-remote [--port N] [--wait MS] [--count N] [HOST[:PORT]] COMMAND\n"
             "       quavix-remote list\n"
             "commands:\n"
             "  get           print the volume and mute state\n"
             "  set VOLUME    set the volume, keeping the mute switch: a level from 0 to 100\n"
             "                (40 or 40%; 007 is 7), or a step from the current volume\n"
             "                (+5 or -5), kept within 0 to 100\n"
             "  mute          mute, keeping the volume\n"
             "  unmute        unmute, keeping the volume\n"
             "  toggle        flip the mute switch\n"
             "  watch         print every state the server sends, with a timestamp, until\n"
             "                interrupted (--count N: stop after N states)\n"
             "  list          look for servers on the local network for 2 s (DNS-SD, through\n"
             "                avahi-daemon) and print one line for each: its name, host name\n"
             "                and address:port, one IPv4 and one IPv6 for each network\n"
             "                interface it was seen on, separated by tabs (control characters\n"
             "                in names escaped); exit 1 when none or the daemon does not answer\n"
             "set, mute, unmute and toggle print the state once the server reports it.\n"
             "Every command but watch ends within 5 s; Ctrl+C ends any at once.\n"
             "HOST is a name or an address, an IPv6 address in brackets ([::1]:") +
         port + "); without\none, $QUAVIX_HOST, else " + kDefaultRemoteHost + ". The port is " +
         port +
         " unless given.\n"
         "options:\n"
         "  --port N      server port (also HOST:PORT)\n"
         "  --wait MS     how long to wait after the greeting for the first state\n"
         "                before taking \"unmuted, 100\" (default " +
         std::to_string(RemoteArgs{}.waitMs) +
         ")\n"
         "  --count N     watch only: stop after N states\n"
         "exit codes: 0 done, 1 the server did not confirm the change within " +
         std::to_string(kConfirmTimeoutMs / 1000) +
         " s\n"
         "            (list: no server found),\n"
         "            2 bad argument, 3 no server, 4 not a volume server,\n"
         "            5 connection closed, failed or timed out, 130 interrupted\n";
}
