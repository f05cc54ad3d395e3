#include "SoundServer.h"

#include <fcntl.h>
#include <poll.h>
#include <pulse/pulseaudio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "base/Log.h"
#include "fakes/ChildProcess.h"

namespace soundserver {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kCallBound = std::chrono::seconds(10);

std::string EnvOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

// Waits up to `bound` for the child to end, then kills it; its wait status.
int Reap(pid_t pid, Clock::duration bound) {
  int status = 0;
  const bool ended = Eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; },
                                std::chrono::duration_cast<std::chrono::milliseconds>(bound));
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  return status;
}

// Runs argv (searched in PATH) with `environment`, stdout into `out`, stderr to nowhere (a
// daemon that is still starting makes pactl complain on every try). 0 on exit 0; bounded.
bool Run(std::vector<std::string> args, const std::vector<std::string>& environment,
         std::string* out) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  std::vector<char*> argv, envp;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  const pid_t pid = SpawnTiedChild(argv.data(), envp.data(), devNull, pipeFds[1], devNull);
  close(pipeFds[1]);
  close(devNull);
  const auto deadline = Clock::now() + kCallBound;
  std::string text;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd ready{pipeFds[0], POLLIN, 0};
    if (pid < 0 || left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) != 1) {
      break;
    }
    char chunk[512];
    const ssize_t got = read(pipeFds[0], chunk, sizeof chunk);
    if (got <= 0) break;
    text.append(chunk, static_cast<size_t>(got));
  }
  close(pipeFds[0]);
  if (pid < 0) return false;
  const int status = Reap(pid, kCallBound);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The words of pactl's volume line that stand before a "/" (raw) or end in "%" (percent),
// joined by spaces.
std::string VolumeColumn(const std::string& sink, const std::string& server, bool percents) {
  std::string out;
  if (!Pactl("get-sink-volume " + sink, server, &out)) return "";
  const std::string line = out.substr(0, out.find('\n'));
  const std::vector<std::string> words = Words(line);
  std::string column;
  for (size_t i = 1; i + 1 < words.size(); ++i) {
    const bool wanted = percents ? words[i].back() == '%' && words[i - 1] == "/"
                                 : words[i + 1] == "/" && words[i].back() != '%';
    if (!wanted) continue;
    column += (column.empty() ? "" : " ") +
              (percents ? words[i].substr(0, words[i].size() - 1) : words[i]);
  }
  return column;
}

}  // namespace

SoundServerLock::SoundServerLock() {
  const std::string path = EnvOr("XDG_RUNTIME_DIR", "/tmp") + "/quavix-sound-tests.lock";
  fd_ = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  // Bounded: a test that never lets go fails the next one instead of hanging it.
  const auto taken = [&] { return ::flock(fd_, LOCK_EX | LOCK_NB) == 0; };
  if (fd_ >= 0 && !Eventually(taken, std::chrono::minutes(2))) {
    LogError("test: another test held the sound server for 2 min; going on without it");
  }
}

SoundServerLock::~SoundServerLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::string TestSink() {
  return EnvOr("QUAVIX_TEST_SINK", "quavix_test");
}

std::string OtherSink() {
  return EnvOr("QUAVIX_TEST_OTHER_SINK", "quavix_other");
}

bool Shell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[512];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

bool Pactl(const std::string& args, const std::string& server, std::string* out) {
  std::vector<std::string> argv = Words(args);
  argv.insert(argv.begin(), "pactl");
  const std::vector<std::string> set = {"PULSE_SERVER=" + server};
  return Run(argv, server.empty() ? EnvironmentWith({}) : EnvironmentWith(set), out);
}

std::string RawChannelVolumes(const std::string& sink, const std::string& server) {
  return VolumeColumn(sink, server, false);
}

std::string ChannelPercents(const std::string& sink, const std::string& server) {
  return VolumeColumn(sink, server, true);
}

bool IsMuted(const std::string& sink, const std::string& server) {
  std::string out;
  return Pactl("get-sink-mute " + sink, server, &out) && out.find("yes") != std::string::npos;
}

bool ResetServer() {
  return Pactl("set-default-sink " + TestSink()) &&
         Pactl("set-sink-volume " + TestSink() + " 65536") &&
         Pactl("set-sink-mute " + TestSink() + " 0") &&
         Pactl("set-sink-volume " + OtherSink() + " 65536") &&
         Pactl("set-sink-mute " + OtherSink() + " 0");
}

PrivatePulse::PrivatePulse() {
  char folder[] = "/tmp/quavix-pulse-XXXXXX";
  if (mkdtemp(folder) != nullptr) dir_ = folder;
  mkdir((dir_ + "/rt").c_str(), 0700);
}

PrivatePulse::~PrivatePulse() {
  Stop();
  std::error_code error;
  std::filesystem::remove_all(dir_, error);
}

bool PrivatePulse::Start() {
  const std::vector<std::string> env = EnvironmentWith(
      {"PULSE_RUNTIME_PATH=" + dir_ + "/rt", "PULSE_STATE_PATH=" + dir_ + "/rt"}, {"PULSE_SERVER"});
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
  // The daemon is starting; asking it is the only way to know when it answers.
  return Eventually([&] { return Pactl("info"); }, std::chrono::seconds(15));
}

void PrivatePulse::Pause() {
  if (pid_ > 0) kill(pid_, SIGSTOP);
}

void PrivatePulse::Resume() {
  if (pid_ > 0) kill(pid_, SIGCONT);
}

void PrivatePulse::End(int signal) {
  if (pid_ <= 0) return;
  kill(pid_, signal);
  kill(pid_, SIGCONT);  // a paused daemon takes its signal only once it runs
  Reap(pid_, std::chrono::seconds(10));
  pid_ = -1;
}

// A mainloop run on the caller's thread, in bounded turns.
struct SinkDriver::Impl {
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* context = nullptr;
  long sent = 0;      // operations asked for
  long answered = 0;  // operations the sound server answered
  bool failed = false;

  static void OnAnswer(pa_context*, int success, void* self) {
    auto* impl = static_cast<Impl*>(self);
    ++impl->answered;
    if (success == 0) impl->failed = true;
  }
  template <typename Done>
  bool RunUntil(Done done) {
    const auto deadline = Clock::now() + kCallBound;
    while (!done()) {
      if (Clock::now() >= deadline || pa_mainloop_prepare(loop, 50000) < 0 ||
          pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0) {
        return false;
      }
    }
    return true;
  }
  void Track(pa_operation* operation) {
    if (operation == nullptr) {
      failed = true;
      return;
    }
    ++sent;
    pa_operation_unref(operation);
  }
};

SinkDriver::SinkDriver() : impl_(new Impl) {}

SinkDriver::~SinkDriver() {
  if (impl_->context != nullptr) {
    pa_context_disconnect(impl_->context);
    pa_context_unref(impl_->context);
  }
  pa_mainloop_free(impl_->loop);
  delete impl_;
}

bool SinkDriver::Connect(const std::string& server) {
  impl_->context = pa_context_new(pa_mainloop_get_api(impl_->loop), "quavix-test-driver");
  if (impl_->context == nullptr ||
      pa_context_connect(impl_->context, server.empty() ? nullptr : server.c_str(),
                         PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return false;
  }
  const auto state = [&] { return pa_context_get_state(impl_->context); };
  return impl_->RunUntil([&] {
    return !PA_CONTEXT_IS_GOOD(state()) || state() == PA_CONTEXT_READY;
  }) && state() == PA_CONTEXT_READY;
}

bool SinkDriver::Set(int percent, bool muted, bool wait) {
  if (impl_->context == nullptr || impl_->failed) return false;
  pa_cvolume volume;
  pa_cvolume_set(&volume, 1, static_cast<pa_volume_t>((PA_VOLUME_NORM * percent + 50) / 100));
  impl_->Track(pa_context_set_sink_volume_by_name(impl_->context, "@DEFAULT_SINK@", &volume,
                                                  &Impl::OnAnswer, impl_));
  impl_->Track(pa_context_set_sink_mute_by_name(impl_->context, "@DEFAULT_SINK@", muted ? 1 : 0,
                                                &Impl::OnAnswer, impl_));
  if (wait)
    return impl_->RunUntil([&] { return impl_->answered == impl_->sent; }) && !impl_->failed;
  // Hands the requests to the socket now; answers are read on later turns.
  for (int turn = 0; turn < 4 && pa_mainloop_iterate(impl_->loop, 0, nullptr) > 0; ++turn) {
  }
  return !impl_->failed;
}

}  // namespace soundserver
