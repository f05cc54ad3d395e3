#include "ServerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;
namespace fs = std::filesystem;

namespace {

std::string Sink() {
  const char* sink = std::getenv("QUAVIX_TEST_SINK");
  return sink != nullptr ? sink : "quavix_test";
}

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  pclose(pipe);
  return out;
}

}  // namespace

ServerProcess::ServerProcess(const std::string& configHome, const std::string& runtimeDir)
    : configHome_(configHome), runtimeDir_(runtimeDir) {
  static int runs = 0;
  stderrPath_ = runtimeDir_ + "/server-stderr-" + std::to_string(++runs);
  stdoutPath_ = runtimeDir_ + "/server-stdout-" + std::to_string(runs);
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  unlink(stderrPath_.c_str());
  unlink(stdoutPath_.c_str());
}

bool ServerProcess::Start(const std::map<std::string, std::string>& extraEnv) {
  // The child keeps reaching the fixture's sound server after its runtime folder and config
  // folder are replaced by ours.
  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const size_t eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  if (!env.count("PULSE_SERVER")) {
    const std::string runtime = env.count("PULSE_RUNTIME_PATH") ? env["PULSE_RUNTIME_PATH"]
                                                                : env["XDG_RUNTIME_DIR"] + "/pulse";
    env["PULSE_SERVER"] = "unix:" + runtime + "/native";
  }
  if (!env.count("PULSE_COOKIE")) {
    const std::string config =
        env.count("XDG_CONFIG_HOME") ? env["XDG_CONFIG_HOME"] : env["HOME"] + "/.config";
    if (fs::exists(config + "/pulse/cookie")) env["PULSE_COOKIE"] = config + "/pulse/cookie";
  }
  env["XDG_CONFIG_HOME"] = configHome_;
  env["XDG_RUNTIME_DIR"] = runtimeDir_;
  env["QT_QPA_PLATFORM"] = "offscreen";
  env.erase("DISPLAY");
  env.erase("WAYLAND_DISPLAY");
  for (const auto& [name, value] : extraEnv) {
    if (value.empty()) {
      env.erase(name);
    } else {
      env[name] = value;
    }
  }

  std::vector<std::string> entries;
  for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutPath_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::string path = QUAVIX_SERVER_PATH;
  char* argv[] = {path.data(), nullptr};
  const int result = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return result == 0;
}

std::optional<int> ServerProcess::WaitForExit(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      return status;
    }
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(10ms);
  }
}

void ServerProcess::Signal(int signal) {
  if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

bool ServerProcess::Running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    reaped_ = true;
    return false;
  }
  return true;
}

std::string ServerProcess::Stdout() const {
  std::ifstream in(stdoutPath_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ServerProcess::Stderr() const {
  std::ifstream in(stderrPath_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int ServerProcess::ThreadCount() const {
  std::error_code error;
  const fs::path tasks = "/proc/" + std::to_string(pid_) + "/task";
  int count = 0;
  for (auto it = fs::directory_iterator(tasks, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    ++count;
  }
  return count;
}

bool SetSinkState(int volumePercent, bool muted) {
  const std::string sink = Sink();
  return std::system(("pactl set-sink-volume " + sink + " " + std::to_string(volumePercent) +
                      "% && pactl set-sink-mute " + sink + (muted ? " 1" : " 0"))
                         .c_str()) == 0;
}

std::optional<std::pair<int, bool>> SinkState() {
  const std::string volume = RunCommand("pactl get-sink-volume " + Sink());
  const std::string mute = RunCommand("pactl get-sink-mute " + Sink());
  // "Volume: front-left: 26214 /  40% / ..."
  const size_t slash = volume.find('/');
  const size_t percent = volume.find('%', slash);
  if (slash == std::string::npos || percent == std::string::npos) return std::nullopt;
  const int value = std::atoi(volume.substr(slash + 1, percent - slash - 1).c_str());
  return std::make_pair(value, mute.find("yes") != std::string::npos);
}

bool WaitForSinkState(int volumePercent, bool muted, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (SinkState() == std::make_pair(volumePercent, muted)) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}
