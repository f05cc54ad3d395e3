#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/ServerSettings.h"
#include "app/ShellNames.h"
#include "app/linux/IniSettingStore.h"
#include "app/linux/FlockInstanceGuard.h"

namespace fs = std::filesystem;

namespace {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "quavix-app-test.XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(IniSettingStore, ReadingNothingCreatesNothing) {
  TempFolder root;
  IniSettingStore store((root.path() / "config/quavix/quavix-server.conf").string());
  EXPECT_EQ(LoadServerSettings(store).port, 17495);
  EXPECT_FALSE(fs::exists(root.path() / "config"));
}

TEST(IniSettingStore, APersonsFileIsReadAndTheDialogsWriteKeepsIt) {
  TempFolder root;
  const fs::path file = root.path() / "quavix/quavix-server.conf";
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "[server]\nport = 8080\nallow = 192.168.1.0/24, 10.0.0.0/8\n"
                         "listen=::1\n";
  IniSettingStore store(file.string());
  const ServerSettings read = LoadServerSettings(store);
  EXPECT_EQ(read.port, 8080);
  EXPECT_EQ(read.access.networks.size(), 2u) << "an unquoted list";
  EXPECT_EQ(read.listen.size(), 1u);
  EXPECT_EQ(store.Read("allow"), "192.168.1.0/24, 10.0.0.0/8");

  ASSERT_TRUE(StorePort(store, 81));
  ASSERT_TRUE(StoreAllowOutside(store, true));
  const std::string text = FileText(file);
  EXPECT_NE(text.find("[server]"), std::string::npos) << text;
  EXPECT_NE(text.find("port=81"), std::string::npos) << text;
  EXPECT_NE(text.find("listen=::1"), std::string::npos) << text;
  const ServerSettings written = LoadServerSettings(store);
  EXPECT_EQ(written.port, 81);
  EXPECT_TRUE(written.access.anyone);
  ASSERT_TRUE(StoreAllowOutside(store, false));
  EXPECT_EQ(FileText(file).find("allow"), std::string::npos);
}

TEST(IniSettingStore, FollowsXdgConfigHome) {
  TempFolder root;
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string restore = saved != nullptr ? saved : "";
  setenv("XDG_CONFIG_HOME", root.path().c_str(), 1);
  IniSettingStore store;
  EXPECT_EQ(store.Path(), (root.path() / "quavix/quavix-server.conf").string());
  ASSERT_TRUE(StorePort(store, 9000));
  EXPECT_TRUE(fs::is_regular_file(root.path() / "quavix/quavix-server.conf"));
  setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored, as XDG says
  EXPECT_NE(UserConfigFolder(), "relative/path");
  if (saved != nullptr) {
    setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

TEST(FlockInstanceGuard, SecondHolderIsRefusedUntilTheFirstReleases) {
  TempFolder folder;
  FlockInstanceGuard first(folder.path().string());
  FlockInstanceGuard second(folder.path().string());
  EXPECT_EQ(first.Acquire(kInstanceGuardName), GuardResult::Acquired);
  EXPECT_EQ(second.Acquire(kInstanceGuardName), GuardResult::AlreadyRunning);
  std::ifstream holder(folder.path() / kInstanceGuardName);
  pid_t pid = 0;
  EXPECT_TRUE(holder >> pid);
  EXPECT_EQ(pid, getpid()) << "the refused one must not overwrite the holder's id";
  EXPECT_EQ(FlockInstanceGuard(folder.path().string()).Acquire("Other"), GuardResult::Acquired);
  first.Release();
  EXPECT_EQ(second.Acquire(kInstanceGuardName), GuardResult::Acquired);
  const auto mode = fs::status(folder.path() / kInstanceGuardName).permissions();
  EXPECT_EQ(mode & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
}

TEST(FlockInstanceGuard, AKilledHolderLeavesTheGuardFree) {
  TempFolder folder;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FlockInstanceGuard guard(folder.path().string());
    const char state = guard.Acquire(kInstanceGuardName) == GuardResult::Acquired ? 'y' : 'n';
    [[maybe_unused]] ssize_t ignored = write(ready[1], &state, 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char state = 0;
  ASSERT_EQ(read(ready[0], &state, 1), 1);
  close(ready[0]);
  EXPECT_EQ(state, 'y');
  FlockInstanceGuard guard(folder.path().string());
  EXPECT_EQ(guard.Acquire(kInstanceGuardName), GuardResult::AlreadyRunning);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(guard.Acquire(kInstanceGuardName), GuardResult::Acquired);
}

TEST(FlockInstanceGuard, UnusableFolderIsAFailureNotARefusal) {
  FlockInstanceGuard guard("/nonexistent/quavix");
  EXPECT_EQ(guard.Acquire(kInstanceGuardName), GuardResult::Failed);
}

}  // namespace
