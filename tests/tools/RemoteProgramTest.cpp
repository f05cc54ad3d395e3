// The installed program itself: argument errors, pushed states as they arrive, and Ctrl-C.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "fakes/ScriptedTcpServer.h"

extern char** environ;

namespace {

// quavix-remote run as a child process with its stdout and stderr on pipes.
class RemoteProcess {
 public:
  explicit RemoteProcess(std::vector<std::string> args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    args.insert(args.begin(), QUAVIX_REMOTE_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, QUAVIX_REMOTE_PATH, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~RemoteProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }

  bool Started() const { return pid_ > 0; }
  void Signal(int signal) { kill(pid_, signal); }

  // The next line of stdout, or "" when none came within the time-out.
  std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const size_t newline = pending_.find('\n');
      if (newline != std::string::npos) {
        std::string line = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{out_, POLLIN, 0};
      if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) != 1) return "";
      char chunk[256];
      const ssize_t got = read(out_, chunk, sizeof chunk);
      if (got <= 0) return "";
      pending_.append(chunk, static_cast<size_t>(got));
    }
  }
  std::string Stderr() {
    std::string text;
    char chunk[256];
    for (ssize_t got; (got = read(err_, chunk, sizeof chunk)) > 0;) text.append(chunk, got);
    return text;
  }
  // The exit code, or -1 when the process did not end within the time-out.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(5000);  // polling a child's exit; the deadline bounds it
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string pending_;
};

std::string StateOf(const std::string& line) {
  const size_t space = line.find(' ');
  return space == std::string::npos ? "" : line.substr(space + 1);
}

}  // namespace

TEST(RemoteProgram, BadArgumentExitsWith2AndUsage) {
  RemoteProcess remote({"localhost", "set", "loud"});
  ASSERT_TRUE(remote.Started());
  EXPECT_EQ(remote.Wait(), 2);
  const std::string err = remote.Stderr();
  EXPECT_NE(err.find("bad volume 'loud'"), std::string::npos) << err;
  EXPECT_NE(err.find("usage:"), std::string::npos) << err;
}

TEST(RemoteProgram, WatchPrintsPushesAsTheyComeAndEndsOnInterrupt) {
  ScriptedTcpServer server;
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  server.Serve([&](int fd) {
    ScriptedTcpServer::Send(fd, {0x19, 0xC8, 0xDE, 0x00, 0x28});
    pollfd wait{go[0], POLLIN, 0};
    if (poll(&wait, 1, 5000) != 1) return;
    ScriptedTcpServer::Send(fd, {0xFF, 0x32});
    if (poll(&wait, 1, 5000) != 1) return;
    ScriptedTcpServer::Send(fd, {0xB2, 0xFF});
    ScriptedTcpServer::ReadUntilEnd(fd);
  });
  RemoteProcess remote({"--port", std::to_string(server.Port()), "127.0.0.1", "watch"});
  ASSERT_TRUE(remote.Started());
  EXPECT_EQ(StateOf(remote.ReadLine()), "unmuted, 40");
  ASSERT_EQ(write(go[1], "x", 1), 1);
  EXPECT_EQ(StateOf(remote.ReadLine()), "unmuted, 50");
  ASSERT_EQ(write(go[1], "x", 1), 1);
  EXPECT_EQ(StateOf(remote.ReadLine()), "muted, 50");
  remote.Signal(SIGINT);
  EXPECT_EQ(remote.Wait(), 0);
  EXPECT_EQ(remote.ReadLine(std::chrono::milliseconds(0)), "") << "keep-alives are not printed";
  server.Join();
  close(go[0]);
  close(go[1]);
}
