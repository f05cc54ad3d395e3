#include "app/CommandLine.h"

#include <charconv>

#include "app/ServerSettings.h"

namespace {

// Plain decimal digits, 1 to 65535; leading zeros read as decimal. No sign, blank or base
// prefix: a port typed into a script must mean exactly what it says.
std::optional<uint16_t> ParsePlainPort(const std::string& text) {
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  unsigned long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

std::string UsageLine(const std::string& program) {
  return "usage: " + program + " [--set-port N | --help | --version]";
}

void PrintHelp(const std::string& program, std::ostream& out) {
  out << UsageLine(program) << "\n"
      << "Lets clients on the network watch and change this computer's master volume and mute\n"
         "switch (TCP port 17495 unless set otherwise).\n"
         "\n"
         "  (no arguments)  start the server in the notification area\n"
         "  --set-port N    store N (1 to 65535) as the server's port; a running server\n"
         "                  moves there at once, otherwise the next start uses it\n"
         "  --help          print this text\n"
         "  --version       print the version\n"
         "\n"
         "exit codes: 0 done, 1 the port was not stored or the running server was not told,\n"
         "            2 bad arguments\n";
}

int SetPort(const std::string& value, CommandLineServices& services, std::ostream& out,
            std::ostream& err) {
  const std::string& program = services.programName;
  const std::optional<uint16_t> port = ParsePlainPort(value);
  if (!port) {
    err << program << ": bad port '" << value << "' (a whole number from 1 to 65535)\n";
    return kCommandLineUsage;
  }
  const std::string number = std::to_string(*port);
  if (!StorePort(services.store, *port)) {
    err << program << ": could not store port " << number << " in " << services.portLocation
        << "\n";
    return kCommandLineFailed;
  }
  out << "Stored port " << number << " in " << services.portLocation << ".\n";
  std::string reason;
  switch (services.runningServer.TellPortChanged(&reason)) {
    case TellResult::Told:
      out << "Told the running server to move to port " << number << ".\n";
      return kCommandLineOk;
    case TellResult::NoneRunning:
      out << "No server is running; the next start uses port " << number << ".\n";
      return kCommandLineOk;
    case TellResult::Failed:
      break;
  }
  err << program << ": could not tell the running server to move (" << reason
      << "); it keeps its port until it starts again\n";
  return kCommandLineFailed;
}

}  // namespace

std::optional<int> RunCommandLine(const std::vector<std::string>& args,
                                  CommandLineServices& services, std::ostream& out,
                                  std::ostream& err) {
  const std::string& program = services.programName;
  if (args.empty()) return std::nullopt;
  if (args.size() == 1 && args[0] == "--help") {
    PrintHelp(program, out);
    return kCommandLineOk;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << program << " " << QUAVIX_VERSION << "\n";
    return kCommandLineOk;
  }
  if (args[0] == "--set-port") {
    if (args.size() == 2) return SetPort(args[1], services, out, err);
    err << program << ": --set-port takes one port (1 to 65535); see --help\n";
    return kCommandLineUsage;
  }
  const bool extra = args[0] == "--help" || args[0] == "--version";
  err << program << ": unexpected '" << args[extra ? 1 : 0] << "'; " << UsageLine(program)
      << "; see --help\n";
  return kCommandLineUsage;
}
