#pragma once
// A program run by a test as a child process, with its stdin, stdout and stderr on pipes and
// every wait bounded. The destructor kills and reaps a child that is still running.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

// Starts argv[0] (searched in PATH) with the given environment and standard descriptors, as a
// child that is killed when the thread that started it ends: a test that crashes leaves no
// server or daemon behind, nor anything holding the test runner's pipes. -1 on failure.
inline pid_t SpawnTiedChild(char* const* argv, char* const* envp, int in, int out, int err) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // In the child only async-signal-safe calls until exec.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
  execvpe(argv[0], argv, envp);
  _exit(127);
}

// This process's environment with `set` ("NAME=value") put in and the names in `unset` left out.
inline std::vector<std::string> EnvironmentWith(const std::vector<std::string>& set,
                                                const std::vector<std::string>& unset = {}) {
  std::vector<std::string> result;
  auto named = [](const std::string& entry, const std::string& name) {
    return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
           entry[name.size()] == '=';
  };
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool drop = false;
    for (const std::string& name : unset) drop = drop || named(text, name);
    for (const std::string& item : set) drop = drop || named(text, item.substr(0, item.find('=')));
    if (!drop) result.push_back(text);
  }
  result.insert(result.end(), set.begin(), set.end());
  return result;
}

class ChildProcess {
 public:
  // args[0] is the program's path. `environment` ("NAME=value" entries) replaces this
  // process's environment when given; see EnvironmentWith.
  explicit ChildProcess(std::vector<std::string> args,
                        const std::vector<std::string>* environment = nullptr) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    if (environment != nullptr) {
      for (const std::string& entry : *environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
      envp.push_back(nullptr);
    }
    pid_ = SpawnTiedChild(argv.data(), environment != nullptr ? envp.data() : environ, in[0],
                          out[1], err[1]);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    CloseStdin();
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  void Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    pid_ = -1;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }

  bool WriteStdin(const std::string& text) {
    return in_ >= 0 && write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void CloseStdin() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }

  // The next line of stdout without its newline, or "" when none came within the time-out.
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
      char chunk[512];
      const ssize_t got = read(out_, chunk, sizeof chunk);
      if (got <= 0) return "";
      pending_.append(chunk, static_cast<size_t>(got));
    }
  }
  // What the child wrote on stderr: all of it once the child has ended; while it still runs
  // (a failure message about a child that hangs), what came within `wait`.
  std::string Stderr(std::chrono::milliseconds wait = std::chrono::seconds(1)) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    char chunk[512];
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{err_, POLLIN, 0};
      if (err_ < 0 || poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 0))) != 1)
        break;
      const ssize_t got = read(err_, chunk, sizeof chunk);
      if (got <= 0) break;
      text.append(chunk, static_cast<size_t>(got));
    }
    return text;
  }
  // The exit code (128 + signal for a killed child), or -1 when it did not end in time.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Running()) {
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      usleep(5000);  // a child's exit cannot be awaited with a time-out otherwise
    }
    return exitCode_;
  }

 private:
  pid_t pid_ = -1;
  int exitCode_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string pending_;
};
