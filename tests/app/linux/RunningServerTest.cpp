// The --set-port sender against real holders of the instance guard.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/linux/FlockInstanceGuard.h"
#include "app/linux/RunningServer.h"
#include "app/linux/UniqueFd.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kName = "guard";

int signalPipe = -1;
void OnUsr1(int) {
  const char byte = 's';
  [[maybe_unused]] const ssize_t ignored = write(signalPipe, &byte, 1);
}

// A byte from `fd` within 5 s, or 0.
char NextByte(int fd, int timeoutMs = 5000) {
  pollfd ready{fd, POLLIN, 0};
  char byte = 0;
  if (poll(&ready, 1, timeoutMs) == 1 && read(fd, &byte, 1) == 1) return byte;
  return 0;
}

class RunningServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quavix-sender-test.XXXXXX").string();
    folder_ = mkdtemp(pattern.data());
    ASSERT_EQ(pipe(pipe_), 0);
  }
  void TearDown() override {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    close(pipe_[0]);
    close(pipe_[1]);
    fs::remove_all(folder_);
  }
  std::string GuardFile() const { return (folder_ / kName).string(); }
  void Put(const std::string& text) { std::ofstream(GuardFile(), std::ios::trunc) << text; }
  TellResult Tell(std::string* reason) {
    return SignalRunningServer(GuardFile()).TellPortChanged(reason);
  }

  // A process that takes the guard as the server does, reports 'r', then reports 's' for
  // every SIGUSR1 it receives.
  void StartHolder() {
    child_ = fork();
    if (child_ != 0) return;
    signalPipe = pipe_[1];
    struct sigaction action {};
    action.sa_handler = OnUsr1;
    sigaction(SIGUSR1, &action, nullptr);
    FlockInstanceGuard guard(folder_.string());
    if (guard.Acquire(kName) != GuardResult::Acquired) _exit(1);
    [[maybe_unused]] const ssize_t ready = write(pipe_[1], "r", 1);
    for (;;) pause();
  }

  fs::path folder_;
  int pipe_[2] = {-1, -1};
  pid_t child_ = -1;
};

}  // namespace

TEST_F(RunningServerTest, SignalsTheHolderOfTheGuard) {
  Put("123456789012\n");  // a longer id of an earlier holder must not linger behind the new one
  StartHolder();
  ASSERT_GT(child_, 0);
  ASSERT_EQ(NextByte(pipe_[0]), 'r') << "the holder took the guard";
  std::string reason;
  EXPECT_EQ(Tell(&reason), TellResult::Told) << reason;
  EXPECT_EQ(NextByte(pipe_[0]), 's') << "the holder got SIGUSR1";
  std::ifstream in(GuardFile());
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, std::to_string(child_) + "\n");

  // Once the holder is gone, nobody is running, though its id is still in the file.
  kill(child_, SIGKILL);
  waitpid(child_, nullptr, 0);
  child_ = -1;
  EXPECT_EQ(Tell(&reason), TellResult::NoneRunning);
}

TEST_F(RunningServerTest, NoHolderMeansNoServerAndNoSignal) {
  std::string reason;
  EXPECT_EQ(Tell(&reason), TellResult::NoneRunning) << "no file";

  // A stale id (here our own) gets no signal when nobody holds the lock.
  signalPipe = pipe_[1];
  struct sigaction action {
  }, previous{};
  action.sa_handler = OnUsr1;
  sigaction(SIGUSR1, &action, &previous);
  Put(std::to_string(getpid()) + "\n");
  EXPECT_EQ(Tell(&reason), TellResult::NoneRunning);
  EXPECT_EQ(NextByte(pipe_[0], 100), 0);
  // ...and the sender let go of the lock it took to find out.
  UniqueFd mine(open(GuardFile().c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(flock(mine.get(), LOCK_EX | LOCK_NB), 0);
  sigaction(SIGUSR1, &previous, nullptr);
}

TEST_F(RunningServerTest, AHeldGuardWithoutAUsableIdIsAFailureAndSignalsNobody) {
  // 0 given to kill signals our own process group, -1 every process of the user (not tried
  // here: a regression would take the test runner with it; a sign is refused like "+5").
  for (const char* content : {"", "0\n", "+5\n", "12abc\n", "12", "99999999999999999999\n"}) {
    Put(content);
    UniqueFd holder(open(GuardFile().c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(flock(holder.get(), LOCK_EX | LOCK_NB), 0);
    std::string reason;
    EXPECT_EQ(Tell(&reason), TellResult::Failed) << content;
    EXPECT_NE(reason.find("holds no process id"), std::string::npos) << reason;
  }
}
