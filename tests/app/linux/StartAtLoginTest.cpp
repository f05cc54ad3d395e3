#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/linux/XdgStartAtLogin.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class XdgStartAtLoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quavix-login-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + folder + "'").c_str()); }
  std::string folder;
};

TEST_F(XdgStartAtLoginTest, OnWritesTheDesktopEntryStartingThisProgramAndOffRemovesIt) {
  XdgStartAtLogin login(folder, "/opt/Quavix 1/bin/quavix-server");
  EXPECT_EQ(login.EntryPath(), folder + "/autostart/quavix-server.desktop");
  EXPECT_FALSE(login.Enabled());
  EXPECT_TRUE(login.SetEnabled(false));  // nothing to remove is no failure

  ASSERT_TRUE(login.SetEnabled(true));  // the autostart folder is made on the way
  EXPECT_TRUE(login.Enabled());
  const std::string entry = ReadFile(login.EntryPath());
  EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
  EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nName=Quavix Server\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nExec=\"/opt/Quavix 1/bin/quavix-server\"\n"), std::string::npos) << entry;
  EXPECT_EQ(entry.find("Exec=quavix-server"), std::string::npos) << entry;

  ASSERT_TRUE(login.SetEnabled(false));
  EXPECT_FALSE(login.Enabled());
  EXPECT_FALSE(std::ifstream(login.EntryPath()).good());
}

TEST_F(XdgStartAtLoginTest, AnEntryTheDesktopIsToldToSkipIsOffAndOnReplacesIt) {
  XdgStartAtLogin login(folder, "/usr/bin/quavix-server");
  ASSERT_EQ(mkdir((folder + "/autostart").c_str(), 0700), 0);
  for (const char* skip : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
    std::ofstream(login.EntryPath()) << "[Desktop Entry]\nExec=quavix-server\n" << skip << "\n";
    EXPECT_FALSE(login.Enabled()) << skip;
    ASSERT_TRUE(login.SetEnabled(true));
    EXPECT_TRUE(login.Enabled()) << skip;
    EXPECT_NE(ReadFile(login.EntryPath()).find("\nExec=/usr/bin/quavix-server\n"),
              std::string::npos);
  }
}

TEST_F(XdgStartAtLoginTest, AnEntryThatCannotBeWrittenIsAFailure) {
  std::ofstream(folder + "/autostart") << "a file where the folder should be\n";
  XdgStartAtLogin login(folder, "/usr/bin/quavix-server");
  EXPECT_FALSE(login.SetEnabled(true));
  EXPECT_FALSE(login.Enabled());
}

TEST(DesktopExecArgument, QuotesAndEscapesOnlyWhereTheRulesAskForIt) {
  EXPECT_EQ(DesktopExecArgument("/usr/bin/quavix-server"), "/usr/bin/quavix-server");
  EXPECT_EQ(DesktopExecArgument("/home/a b/q"), "\"/home/a b/q\"");
  EXPECT_EQ(DesktopExecArgument("/x/$HOME\"q\\"), "\"/x/\\$HOME\\\"q\\\\\"");
  EXPECT_EQ(DesktopExecArgument("/x/100%"), "/x/100%%");
}

}  // namespace
