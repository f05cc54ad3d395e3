#include "remote/RemoteCommands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "base/Log.h"
#include "remote/RemoteConnection.h"
#include "remote/ServerBrowser.h"

namespace {

constexpr int kConnectTimeoutMs = 3000;
constexpr int kBrowseMs = 2000;
constexpr int kGreetingTimeoutMs = 3000;
constexpr int kCommandLimitMs = 5000;
// The browse and everything around it, within the limit of every command.
constexpr int kListLimitMs = kCommandLimitMs - 500;

using Clock = std::chrono::steady_clock;

// Every command but watch ends within this, whatever the peer sends: connecting, the greeting,
// the first state and the confirmation together.
class CommandDeadline {
 public:
  explicit CommandDeadline(int limitMs) : end_(Clock::now() + std::chrono::milliseconds(limitMs)) {}
  // `stepMs`, cut to what is left.
  int Cap(int stepMs) const { return std::min(stepMs, LeftMs()); }
  int LeftMs() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now());
    return std::max<int>(0, static_cast<int>(left.count()));
  }

 private:
  Clock::time_point end_;
};

int ExitFor(RemoteStatus status) {
  switch (status) {
    case RemoteStatus::Ok:
      return kExitOk;
    case RemoteStatus::NoServer:
      return kExitNoServer;
    case RemoteStatus::BadGreeting:
    case RemoteStatus::BadByte:
      return kExitNotServer;
    case RemoteStatus::Stopped:
      return kExitInterrupted;
    case RemoteStatus::Closed:
    case RemoteStatus::Failed:
    case RemoteStatus::TimedOut:
      break;
  }
  return kExitConnection;
}

int Fail(RemoteStatus status, const std::string& error) {
  LogError(status == RemoteStatus::Stopped ? "interrupted" : error);
  return ExitFor(status);
}

// 2026-12-07T12:34:56.789Z
std::string UtcTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

// The state a new client knows: the first state byte after the greeting, or the default when
// none comes within the wait. Bytes already queued behind the first are newer, so the last wins.
// A peer that sends states without end is read until the wait is over, no longer.
RemoteStatus ReadInitialState(RemoteConnection& connection, int waitMs, VolumeState* state,
                              std::string* error) {
  *state = VolumeState{};
  const CommandDeadline wait(waitMs);
  RemoteStatus status = connection.ReadState(waitMs, state, error);
  if (status != RemoteStatus::Ok)
    return status == RemoteStatus::TimedOut ? RemoteStatus::Ok : status;
  while (status == RemoteStatus::Ok && wait.LeftMs() > 0) {
    status = connection.ReadState(0, state, error);
  }
  // With a state in hand, an end of stream is left for the next read to report (it persists);
  // a byte that is no state is reported now, since it has been consumed.
  return status == RemoteStatus::BadByte || status == RemoteStatus::Stopped ? status
                                                                            : RemoteStatus::Ok;
}

VolumeState Requested(const RemoteArgs& args, VolumeState current) {
  switch (args.command) {
    case RemoteCommand::Set:
      current.volume = args.change == VolumeChange::To   ? args.volume
                       : args.change == VolumeChange::Up ? current.volume + args.volume
                                                         : current.volume - args.volume;
      current.volume = std::clamp(current.volume, 0, 100);
      break;
    case RemoteCommand::Mute:
      current.muted = 1;
      break;
    case RemoteCommand::Unmute:
      current.muted = 0;
      break;
    case RemoteCommand::Toggle:
      current.muted = current.muted != 0 ? 0 : 1;
      break;
    default:
      break;
  }
  return current;
}

// The server never echoes a request to its sender, so the request goes out on a second
// connection and `watcher`, a plain client, waits for the server to report the new state.
int ChangeAndConfirm(const RemoteArgs& args, RemoteConnection& watcher, VolumeState current,
                     const CommandDeadline& deadline, int stopFd, std::ostream& out) {
  const VolumeState wanted = Requested(args, current);
  if (wanted == current) {  // nothing would change, so nothing would be reported
    out << FormatState(current) << "\n";
    return kExitOk;
  }
  RemoteConnection command(stopFd);
  std::string error;
  RemoteStatus status =
      command.Connect(args.host, args.port, deadline.Cap(kConnectTimeoutMs), &error);
  if (status == RemoteStatus::Ok)
    status = command.ReadGreeting(deadline.Cap(kGreetingTimeoutMs), &error);
  if (status == RemoteStatus::Ok)
    status = command.SendState(wanted, deadline.Cap(kConfirmTimeoutMs), &error);
  if (status != RemoteStatus::Ok) return Fail(status, error);

  const CommandDeadline confirm(deadline.Cap(kConfirmTimeoutMs));
  while (current != wanted) {
    // A peer that never stops sending other states keeps every read successful: the deadline
    // is looked at between them.
    status = confirm.LeftMs() == 0 ? RemoteStatus::TimedOut
                                   : watcher.ReadState(confirm.LeftMs(), &current, &error);
    if (status == RemoteStatus::TimedOut) {
      LogError("the server did not confirm the change within " +
               std::to_string(kConfirmTimeoutMs / 1000) + " s (the volume stays " +
               FormatState(current) + ")");
      return kExitNotConfirmed;
    }
    if (status != RemoteStatus::Ok) return Fail(status, error);
  }
  out << FormatState(current) << "\n";
  return kExitOk;
}

int Watch(RemoteConnection& connection, VolumeState state, long count, std::ostream& out) {
  long printed = 0;
  std::string error;
  for (;;) {
    out << UtcTimestamp() << " " << FormatState(state) << std::endl;
    if (count != 0 && ++printed >= count) return kExitOk;
    const RemoteStatus status = connection.ReadState(-1, &state, &error);
    if (status == RemoteStatus::Stopped) return kExitOk;
    if (status != RemoteStatus::Ok) return Fail(status, error);
  }
}

// Browses, then prints one line for each server found.
int List(std::ostream& out, int stopFd) {
  std::vector<FoundServer> found;
  std::string error;
  switch (BrowseServers(kBrowseMs, kListLimitMs, stopFd, &found, &error)) {
    case BrowseResult::Stopped:
      return kExitInterrupted;
    case BrowseResult::Failed:
      LogError(error);
      return kExitNoneFound;
    case BrowseResult::Done:
      break;
  }
  for (const FoundServer& server : found) out << FoundServerLine(server) << "\n";
  return found.empty() ? kExitNoneFound : kExitOk;
}

}  // namespace

int RunRemote(const RemoteArgs& args, std::ostream& out, int stopFd) {
  if (args.command == RemoteCommand::Help) {
    out << RemoteUsage();
    return kExitOk;
  }
  if (args.command == RemoteCommand::List) return List(out, stopFd);
  // Watch waits for the user, not for a deadline; its start is bounded all the same.
  const CommandDeadline deadline(kCommandLimitMs);
  RemoteConnection connection(stopFd);
  std::string error;
  RemoteStatus status =
      connection.Connect(args.host, args.port, deadline.Cap(kConnectTimeoutMs), &error);
  if (status == RemoteStatus::Ok)
    status = connection.ReadGreeting(deadline.Cap(kGreetingTimeoutMs), &error);
  VolumeState current;
  if (status == RemoteStatus::Ok)
    status = ReadInitialState(connection, deadline.Cap(args.waitMs), &current, &error);
  if (status == RemoteStatus::Stopped && args.command == RemoteCommand::Watch) return kExitOk;
  if (status != RemoteStatus::Ok) return Fail(status, error);

  switch (args.command) {
    case RemoteCommand::Get:
      out << FormatState(current) << "\n";
      return kExitOk;
    case RemoteCommand::Watch:
      return Watch(connection, current, args.count, out);
    default:
      break;
  }
  return ChangeAndConfirm(args, connection, current, deadline, stopFd, out);
}

int RemoteMain(int argc, const char* const* argv, std::ostream& out, int stopFd) {
  SetLogProgramName("quavix-remote");
  RemoteArgs args;
  std::string error;
  if (!ParseRemoteArgs(argc, argv, std::getenv("QUAVIX_HOST"), &args, &error)) {
    LogError(error + "; see --help");
    return kExitBadArgument;
  }
  return RunRemote(args, out, stopFd);
}
