#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/PortSettings.h"
#include "app/ShellNames.h"
#include "app/linux/FileSettingStore.h"
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

std::vector<uint8_t> FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FileSettingStore, ReadingNothingCreatesNothing) {
  TempFolder root;
  FileSettingStore store((root.path() / "config").string());
  EXPECT_EQ(ReadServerPort(store), 17495u);
  EXPECT_FALSE(fs::exists(root.path() / "config"));
}

TEST(FileSettingStore, WriteCreatesTheKeyFoldersAndFourLittleEndianBytes) {
  TempFolder root;
  FileSettingStore store((root.path() / "config").string());
  ASSERT_TRUE(WriteServerPort(store, 8080));
  const fs::path file = root.path() / "config/Software/Marrowick/Quavix/ServerPort";
  EXPECT_EQ(FileBytes(file), (std::vector<uint8_t>{0x90, 0x1F, 0x00, 0x00}));
  EXPECT_EQ(fs::status(root.path() / "config/Software").permissions() & fs::perms::all,
            fs::perms::owner_all);
  EXPECT_EQ(ReadServerPort(store), 8080u);
  // The temporary file was renamed into place: nothing else lies beside the value.
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
  ASSERT_TRUE(WriteServerPort(store, 81));
  EXPECT_EQ(ReadServerPort(store), 81u);
}

TEST(FileSettingStore, ValuesOfOtherSizesAndKindsReadLikeTheRegistryDoes) {
  TempFolder root;
  FileSettingStore store(root.path().string());
  const fs::path folder = root.path() / "Software/Marrowick/Quavix";
  fs::create_directories(folder);
  const auto put = [&](std::string bytes) {
    std::ofstream(folder / "ServerPort", std::ios::binary | std::ios::trunc) << bytes;
  };
  put(std::string("8\0", 2));
  EXPECT_EQ(ReadServerPort(store), 56u);
  put("");
  EXPECT_EQ(ReadServerPort(store), 17495u);  // nothing overlaid
  put(std::string("\x50\x00\x01\x00", 4));
  EXPECT_EQ(ReadServerPort(store), 80u);
  put("12345");
  EXPECT_EQ(ReadServerPort(store), 17495u);
  fs::remove(folder / "ServerPort");
  fs::create_directory(folder / "ServerPort");  // not a file
  EXPECT_EQ(ReadServerPort(store), 17495u);
}

TEST(FileSettingStore, FollowsXdgConfigHome) {
  TempFolder root;
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string restore = saved != nullptr ? saved : "";
  setenv("XDG_CONFIG_HOME", root.path().c_str(), 1);
  FileSettingStore store;
  EXPECT_EQ(store.ValuePath(kSettingKey, kSettingValueName),
            (root.path() / "Software/Marrowick/Quavix/ServerPort").string());
  setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored, as XDG says
  EXPECT_NE(UserConfigFolder(), "relative/path");
  if (saved != nullptr) {
    setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

TEST(FileSettingStore, RefusesKeysThatLeaveTheRoot) {
  TempFolder root;
  FileSettingStore store((root.path() / "config").string());
  EXPECT_FALSE(store.WriteUint32("Software\\..\\..\\escape", "ServerPort", 1));
  EXPECT_FALSE(store.WriteUint32("Software\\Quavix", "../ServerPort", 1));
  EXPECT_FALSE(fs::exists(root.path() / "escape"));
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
