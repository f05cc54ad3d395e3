#include "app/CommandLine.h"

#include <algorithm>

#include "app/Requests.h"
#include "app/ServerSettings.h"
#include "base/Log.h"
#include "base/Port.h"
#include "base/ShownText.h"
#include "net/page/pairing/PairingPage.h"

namespace {

std::string UsageLine(const std::string& program) {
  return "usage: " + program + " [--verbose] [--set-port N | --pair | --help | --version]";
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
         "  --set-port N    move the running server to port N (1 to 65535), which it then\n"
         "                  stores (when it cannot move, it stays and says why); with none\n"
         "                  running, store N for the next start\n"
         "  --pair          print a pairing link and its QR code for a phone's camera (the\n"
         "                  running server gives the code; it pairs one phone, for 10 minutes)\n"
         "  --help          print this text\n"
         "  --version       print the version\n"
         "\n"
         "exit codes: 0 done, 1 the port was not stored, or the running server did not answer\n"
         "            or did not move, or none runs to pair with, 2 bad arguments\n";
}

int SetPort(const std::string& value, CommandLineServices& services, std::ostream& out) {
  const std::optional<uint16_t> port = ParsePort(value);
  if (!port) {
    LogError("bad port '" + value + "' (a whole number from 1 to 65535)");
    return kCommandLineUsage;
  }
  const std::string number = std::to_string(*port);
  // A running server moves and stores the port itself, so the stored port is always the one it
  // listens on; only with none running is the port stored here.
  std::string reply, reason;
  switch (services.runningServer.Ask(RequestLine("port", number), &reply, &reason)) {
    case AskResult::Answered: {
      const std::optional<Reply> answer = ParseReply(reply);
      if (!answer) {
        LogError("the running server's answer is not understood: '" + ShownText(reply) + "'");
        return kCommandLineFailed;
      }
      if (!answer->ok) {
        LogError(answer->text);
        return kCommandLineFailed;
      }
      out << answer->text << "\n";
      return kCommandLineOk;
    }
    case AskResult::NoneRunning:
      break;
    case AskResult::Failed:
      LogError("the running server did not answer (" + reason + "); port " + number +
               " was not stored");
      return kCommandLineFailed;
    case AskResult::CannotTell:
      // Without a guard no channel exists either: store for the next start, and say so.
      if (!StorePort(services.store, *port)) break;
      LogError("cannot tell whether a server is running (" + reason + "); port " + number +
               " is stored for the next start, and a running one keeps its port until then");
      return kCommandLineFailed;
  }
  if (!StorePort(services.store, *port)) {
    LogError("could not store port " + number + " in " + services.portLocation);
    return kCommandLineFailed;
  }
  out << "No server is running; port " << number << " is stored in " << services.portLocation
      << " for the next start.\n";
  return kCommandLineOk;
}

// Asks the running server for a pairing link and draws it for the terminal.
int Pair(CommandLineServices& services, std::ostream& out) {
  std::string reply, reason;
  switch (services.runningServer.Ask(RequestLine("pair"), &reply, &reason)) {
    case AskResult::Answered:
      break;
    case AskResult::NoneRunning:
      LogError("no server is running to pair a phone with; start " + services.programName +
               " first");
      return kCommandLineFailed;
    case AskResult::Failed:
      LogError("the running server did not answer (" + reason + ")");
      return kCommandLineFailed;
    case AskResult::CannotTell:
      LogError("cannot tell whether a server is running (" + reason + ")");
      return kCommandLineFailed;
  }
  const std::optional<Reply> answer = ParseReply(reply);
  if (!answer) {
    LogError("the running server's answer is not understood: '" + ShownText(reply) + "'");
    return kCommandLineFailed;
  }
  if (!answer->ok) {
    LogError("no phone can be paired now: " + answer->text);
    return kCommandLineFailed;
  }
  const std::optional<std::string> text = PairingTerminalText(answer->text);
  if (!text) return kCommandLineFailed;
  out << *text;
  return kCommandLineOk;
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
  if (args.size() == 1 && args[0] == "--pair") return Pair(services, out);
  if (args[0] == "--set-port") {
    if (args.size() == 2) return SetPort(args[1], services, out);
    LogError("--set-port takes one port (1 to 65535); see --help");
    return kCommandLineUsage;
  }
  const bool extra = args[0] == "--help" || args[0] == "--version" || args[0] == "--pair";
  LogError("unexpected '" + args[extra ? 1 : 0] + "'; " + UsageLine(program) + "; see --help");
  return kCommandLineUsage;
}
