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
#include "app/linux/FlockInstanceGuard.h"
#include "app/linux/IniSettingStore.h"
#include "fakes/FakeShellPlatform.h"
#include "support/linux/TempTree.h"

namespace fs = std::filesystem;

namespace {

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(IniSettingStore, ReadingNothingCreatesNothing) {
  TempTree root;
  IniSettingStore store((fs::path(root.Path()) / "config/quavix/quavix-server.conf").string());
  EXPECT_EQ(LoadedSettings(store).port, 17495);
  EXPECT_FALSE(fs::exists(fs::path(root.Path()) / "config"));
}

TEST(IniSettingStore, AWriteChangesOnlyItsKeyAndKeepsWhatThePersonWrote) {
  TempTree root;
  const fs::path file = fs::path(root.Path()) / "quavix/quavix-server.conf";
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "# Quavix, set by hand\n; an older kind of note\n\n[server]\n"
                         "# the port\nport = 8080\n  ; only the flat\n"
                         "allow = 192.168.1.0/24, 10.0.0.0/8\nlisten=::1\ncolour = blue\n\n"
                         "[elsewhere]\nx = 1\n";
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  IniSettingStore store(file.string());
  const ServerSettings read = LoadedSettings(store, true);
  EXPECT_EQ(read.port, 8080);
  EXPECT_EQ(read.access.networks.size(), 2u) << "an unquoted list";
  EXPECT_EQ(read.listen.size(), 1u);
  EXPECT_EQ(store.Unknown(), (std::vector<std::string>{"key colour", "section [elsewhere]"}));

  ASSERT_TRUE(StorePort(store, 81));
  ASSERT_TRUE(StoreAllowOutside(store, true));
  // GKeyFile writes each pair without blanks around "="; everything else is as it was.
  EXPECT_EQ(FileText(file),
            "# Quavix, set by hand\n; an older kind of note\n\n[server]\n# the port\nport=81\n"
            "  ; only the flat\nallow=any\nlisten=::1\ncolour=blue\n\n[elsewhere]\nx=1\n");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(StoreAllowOutside(store, false));
  EXPECT_EQ(FileText(file).find("allow"), std::string::npos);
  EXPECT_NE(FileText(file).find("  ; only the flat\n"), std::string::npos);
  EXPECT_EQ(LoadedSettings(store, true).port, 81);
}

TEST(IniSettingStore, AFileItCannotUnderstandIsNamedAndNeverWritten) {
  TempTree root;
  const fs::path file = fs::path(root.Path()) / "quavix-server.conf";
  struct Case {
    std::string text;
    std::string problem;
  };
  const Case cases[] = {
      {"port = 27495\n[server]\nallow = 127.0.0.1/32\n",
       "line 1, 'port = 27495', is outside any section (the settings go under [server])"},
      {"[server]\nallow = 127.0.0.1/32\n\x1b[2Jjunk\n", "\\x1B[2Jjunk"},
  };
  for (const Case& c : cases) {
    std::ofstream(file, std::ios::trunc) << c.text;
    IniSettingStore store(file.string());
    ServerSettings settings;
    std::string problem;
    EXPECT_FALSE(LoadServerSettings(store, &settings, &problem)) << c.text;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    EXPECT_EQ(problem.find('\x1b'), std::string::npos) << problem;
    EXPECT_FALSE(StorePort(store, 9000));
    EXPECT_EQ(FileText(file), c.text) << "left as the user wrote it";
  }
}

TEST(IniSettingStore, FollowsXdgConfigHome) {
  TempTree root;
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string restore = saved != nullptr ? saved : "";
  setenv("XDG_CONFIG_HOME", fs::path(root.Path()).c_str(), 1);
  IniSettingStore store;
  EXPECT_EQ(store.Path(), (fs::path(root.Path()) / "quavix/quavix-server.conf").string());
  ASSERT_TRUE(StorePort(store, 9000));
  EXPECT_TRUE(fs::is_regular_file(fs::path(root.Path()) / "quavix/quavix-server.conf"));
  setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored, as XDG says
  EXPECT_NE(UserConfigFolder(), "relative/path");
  if (saved != nullptr) {
    setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

TEST(FlockInstanceGuard, SecondHolderIsRefusedUntilTheFirstReleases) {
  TempTree folder;
  FlockInstanceGuard first(fs::path(folder.Path()).string());
  FlockInstanceGuard second(fs::path(folder.Path()).string());
  EXPECT_EQ(first.Acquire(kInstanceGuardName), GuardResult::Acquired);
  EXPECT_EQ(second.Acquire(kInstanceGuardName), GuardResult::AlreadyRunning);
  std::ifstream holder(fs::path(folder.Path()) / kInstanceGuardName);
  pid_t pid = 0;
  EXPECT_TRUE(holder >> pid);
  EXPECT_EQ(pid, getpid()) << "the refused one must not overwrite the holder's id";
  EXPECT_EQ(FlockInstanceGuard(fs::path(folder.Path()).string()).Acquire("Other"),
            GuardResult::Acquired);
  first.Release();
  EXPECT_EQ(second.Acquire(kInstanceGuardName), GuardResult::Acquired);
  const auto mode = fs::status(fs::path(folder.Path()) / kInstanceGuardName).permissions();
  EXPECT_EQ(mode & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
}

TEST(FlockInstanceGuard, AKilledHolderLeavesTheGuardFree) {
  TempTree folder;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FlockInstanceGuard guard(fs::path(folder.Path()).string());
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
  FlockInstanceGuard guard(fs::path(folder.Path()).string());
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
