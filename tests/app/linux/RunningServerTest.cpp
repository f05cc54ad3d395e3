// `quavix-server --set-port`'s asker against real holders of the instance guard and the real
// request socket, served by Qt's loop as in the program.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/ShellNames.h"
#include "app/linux/FlockInstanceGuard.h"
#include "app/linux/RequestSocket.h"
#include "app/linux/RunningServer.h"
#include "app/linux/UniqueFd.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Asked {
  AskResult result = AskResult::Failed;
  std::string reply;
  std::string reason;
  Clock::duration took{};
};

class RunningServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quavix-asker-test.XXXXXX").string();
    folder_ = mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Asks from another thread while this one runs the Qt loop, as the server's main thread does.
  Asked AskWhileServing(const std::string& request, int waitMs,
                        const std::function<void()>& meanwhile = nullptr) {
    Asked asked;
    std::atomic<bool> done{false};
    std::thread asker([&] {
      const Clock::time_point start = Clock::now();
      asked.result = SocketRunningServer(folder_, waitMs).Ask(request, &asked.reply, &asked.reason);
      asked.took = Clock::now() - start;
      done = true;
    });
    if (meanwhile) meanwhile();
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    asker.join();
    return asked;
  }

  std::string folder_;
};

}  // namespace

TEST_F(RunningServerTest, NobodyHoldingTheGuardIsNoServerThoughFilesAreLeft) {
  std::string reply, reason;
  EXPECT_EQ(SocketRunningServer(folder_).Ask("port 9000", &reply, &reason), AskResult::NoneRunning);
  // What a killed server leaves: its guard file and its socket, with nobody behind either.
  std::ofstream(folder_ + "/" + kInstanceGuardName) << "4242\n";
  UniqueFd stale(socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  RequestSocketPath(folder_).copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(stale.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  stale.reset();
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(SocketRunningServer(folder_).Ask("port 9000", &reply, &reason), AskResult::NoneRunning);
  EXPECT_LT(Clock::now() - start, 1s) << "nobody to wait for";
  // ...and the asker let go of the lock it took to find out.
  UniqueFd guard(open((folder_ + "/" + kInstanceGuardName).c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(flock(guard.get(), LOCK_EX | LOCK_NB), 0);
}

TEST_F(RunningServerTest, TheHolderGetsTheRequestAndItsReplyComesBack) {
  FlockInstanceGuard guard(folder_);
  ASSERT_EQ(guard.Acquire(kInstanceGuardName), GuardResult::Acquired);
  // A stale socket of an earlier holder is replaced.
  std::ofstream(RequestSocketPath(folder_)) << "stale";
  RequestSocket requests(folder_);
  std::string heard;
  ASSERT_TRUE(requests.Open([&](const std::string& line) {
    heard = line;
    return "ok moved to " + line.substr(5);
  }));
  const Asked asked = AskWhileServing("port 9000", 5000);
  EXPECT_EQ(asked.result, AskResult::Answered) << asked.reason;
  EXPECT_EQ(heard, "port 9000");
  EXPECT_EQ(asked.reply, "ok moved to 9000");

  // Closed at quit, before the guard goes: nothing is left to connect to.
  requests.Close();
  EXPECT_FALSE(fs::exists(RequestSocketPath(folder_)));
}

TEST_F(RunningServerTest, AHolderStillStartingIsWaitedForWithinTheBound) {
  FlockInstanceGuard guard(folder_);
  ASSERT_EQ(guard.Acquire(kInstanceGuardName), GuardResult::Acquired);
  const Asked never = AskWhileServing("port 9000", 300);
  EXPECT_EQ(never.result, AskResult::Failed);
  EXPECT_NE(never.reason.find("still starting up"), std::string::npos) << never.reason;
  EXPECT_GE(never.took, 250ms);
  EXPECT_LT(never.took, 3s);

  // One that opens its channel while the asker waits is heard.
  RequestSocket requests(folder_);
  const Asked later = AskWhileServing("port 9000", 10000, [&] {
    std::this_thread::sleep_for(200ms);  // the asker finds no socket first
    requests.Open([](const std::string&) { return std::string("ok here"); });
  });
  EXPECT_EQ(later.result, AskResult::Answered) << later.reason;
  EXPECT_EQ(later.reply, "ok here");
}

TEST_F(RunningServerTest, APeerThatSendsNothingNeverHoldsUpTheNextOne) {
  FlockInstanceGuard guard(folder_);
  ASSERT_EQ(guard.Acquire(kInstanceGuardName), GuardResult::Acquired);
  RequestSocket requests(folder_);
  ASSERT_TRUE(requests.Open([](const std::string&) { return std::string("ok"); }));
  std::vector<UniqueFd> silent;
  for (int i = 0; i < 3; ++i) {
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    RequestSocketPath(folder_).copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    silent.push_back(std::move(fd));
  }
  const Asked asked = AskWhileServing("port 9000", 5000);
  EXPECT_EQ(asked.result, AskResult::Answered) << asked.reason;
  EXPECT_LT(asked.took, 1s);
}
