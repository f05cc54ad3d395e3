#pragma once
// A PulseAudio daemon of the test's own, on a socket of its own (so stopping it disturbs no
// other test), with one null sink. Stop and Start again to restart it; Kill to crash it.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "fakes/ChildProcess.h"

class PrivatePulse {
 public:
  PrivatePulse() {
    char folder[] = "/tmp/quavix-pulse-XXXXXX";
    if (mkdtemp(folder) != nullptr) dir_ = folder;
    mkdir((dir_ + "/rt").c_str(), 0700);
  }
  ~PrivatePulse() {
    Stop();
    std::error_code error;
    std::filesystem::remove_all(dir_, error);
  }
  PrivatePulse(const PrivatePulse&) = delete;
  PrivatePulse& operator=(const PrivatePulse&) = delete;

  // What PULSE_SERVER must say for a client to reach this daemon.
  std::string Server() const { return "unix:" + dir_ + "/native"; }

  // Starts the daemon and waits (bounded) until it answers.
  bool Start() {
    std::vector<std::string> env = {"PULSE_RUNTIME_PATH=" + dir_ + "/rt",
                                    "PULSE_STATE_PATH=" + dir_ + "/rt"};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (std::string(*entry).rfind("PULSE_", 0) != 0) env.push_back(*entry);
    }
    const std::vector<std::string> args = {
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--disallow-exit",
        "--use-pid-file=no",
        "--load=module-null-sink sink_name=private_sink",
        "--load=module-native-protocol-unix auth-anonymous=1 socket=" + dir_ + "/native",
        "--log-target=file:" + dir_ + "/log"};
    std::vector<char*> argv, envp;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    // Its output goes to a file of its own, never to the test runner's pipes.
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int output =
        open((dir_ + "/output").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    pid_ = SpawnTiedChild(argv.data(), envp.data(), devNull, output, output);
    close(devNull);
    close(output);
    if (pid_ < 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Pactl("info >/dev/null 2>&1")) return true;
      usleep(50000);  // the daemon is starting; pactl is the only way to ask
    }
    return false;
  }

  // A clean stop (SIGTERM), or a crash (SIGKILL) as after an update that kills it.
  void Stop() { End(SIGTERM); }
  void Kill() { End(SIGKILL); }
  // Freezes the daemon (SIGSTOP): it keeps its sockets open and answers nothing until Resume.
  void Pause() { Send(SIGSTOP); }
  void Resume() { Send(SIGCONT); }

  // Runs "pactl ARGS" against this daemon; true when it exited 0.
  bool Pactl(const std::string& args) const {
    return std::system(("PULSE_SERVER='" + Server() + "' pactl " + args).c_str()) == 0;
  }

 private:
  void Send(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }
  void End(int signal) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    kill(pid_, SIGCONT);  // a paused daemon takes its signal only once it runs
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  std::string dir_;
  pid_t pid_ = -1;
};
