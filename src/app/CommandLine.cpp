#include "app/CommandLine.h"

#include <algorithm>

#include "app/ServerSettings.h"
#include "base/Log.h"
#include "base/Port.h"

namespace {

std::string UsageLine(const std::string& program) {
  return "usage: " + program + " [--verbose] [--set-port N | --help | --version]";
}

void PrintHelp(const std::string& program, std::ostream& out) {
  out << UsageLine(program) << "\n"
      << "Lets clients on the network watch and change this computer's master volume and mute\n"
         "switch (TCP port "
      << kDefaultPort
      << " unless set otherwise).\n"
         "\n"
         "  (no arguments)  start the server in the notification area\n"
         "  --verbose       also log notes of what the server does, not only errors\n"
         "  --set-port N    store N (1 to 65535) as the server's port; a running server\n"
         "                  moves there at once (when it cannot, it stays and its port stays\n"
         "                  stored), otherwise the next start uses it\n"
         "  --help          print this text\n"
         "  --version       print the version\n"
         "\n"
         "exit codes: 0 done, 1 the port was not stored, or the running server was not told or\n"
         "            did not move,\n"
         "            2 bad arguments\n";
}

int SetPort(const std::string& value, CommandLineServices& services, std::ostream& out) {
  const std::optional<uint16_t> port = ParsePort(value);
  if (!port) {
    LogError("bad port '" + value + "' (a whole number from 1 to 65535)");
    return kCommandLineUsage;
  }
  const std::string number = std::to_string(*port);
  const uint16_t previous = LoadServerSettings(services.store, true).port;
  if (!StorePort(services.store, *port)) {
    LogError("could not store port " + number + " in " + services.portLocation);
    return kCommandLineFailed;
  }
  out << "Stored port " << number << " in " << services.portLocation << ".\n";
  std::string reason;
  switch (services.runningServer.TellPortChanged(&reason)) {
    case TellResult::Told:
      break;
    case TellResult::NoneRunning:
      out << "No server is running; the next start uses port " << number << ".\n";
      return kCommandLineOk;
    case TellResult::Failed:
      LogError("could not tell the running server to move (" + reason +
               "); it keeps its port until it starts again");
      return kCommandLineFailed;
    case TellResult::CannotTell:
      LogError("cannot tell whether a server is running (" + reason +
               "); a running one keeps its port until it starts again");
      return kCommandLineFailed;
  }
  out << "Told the running server to move to port " << number << ".\n";
  if (services.runningServer.AwaitGreeting(*port, kMoveWaitMs, &reason)) return kCommandLineOk;
  // The server refused the move and stored its port again; so does this, in case it could not.
  const std::string kept = std::to_string(previous);
  const bool restored = StorePort(services.store, previous);
  LogError("the server stays on port " + kept + " (" + reason + "); port " +
           (restored ? kept : number) + " stays stored");
  return kCommandLineFailed;
}

}  // namespace

std::optional<int> RunCommandLine(std::vector<std::string> args, CommandLineServices& services,
                                  std::ostream& out) {
  const std::string& program = services.programName;
  SetLogProgramName(program);
  const auto verbose = std::remove(args.begin(), args.end(), "--verbose");
  if (verbose != args.end()) SetLogVerbose(true);
  args.erase(verbose, args.end());
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
    if (args.size() == 2) return SetPort(args[1], services, out);
    LogError("--set-port takes one port (1 to 65535); see --help");
    return kCommandLineUsage;
  }
  const bool extra = args[0] == "--help" || args[0] == "--version";
  LogError("unexpected '" + args[extra ? 1 : 0] + "'; " + UsageLine(program) + "; see --help");
  return kCommandLineUsage;
}
