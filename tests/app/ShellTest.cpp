#include <gtest/gtest.h>

#include "app/Shell.h"
#include "fakes/FakeShellPlatform.h"

namespace {

// Everything start-up acquired was given back, in an order that never pulled the volume control
// from under a reader.
void ExpectAllReleased(FakeShell& shell) {
  EXPECT_FALSE(shell.tray.shown);
  EXPECT_FALSE(shell.server.running);
  EXPECT_FALSE(shell.server.listeningPort);
  EXPECT_FALSE(shell.server.stoppedWithCallback);
  EXPECT_FALSE(shell.backend.shutDownWhileServing);
  EXPECT_EQ(shell.backend.Current(), nullptr);
  // Exactly one clean-up for every networking start that succeeded.
  EXPECT_EQ(shell.networking.stops, shell.networking.starts);
  EXPECT_FALSE(shell.guard.held);
}

TEST(Shell, ServesUntilQuitFromTheMenuAndShutsDownInOrder) {
  FakeShell shell;
  shell.store.SetPort(8080);
  shell.menu.choice = MenuCommand::Quit;
  shell.loop.inLoop = [&] {
    EXPECT_EQ(shell.server.Serving(), 8080);
    EXPECT_EQ(shell.server.source, shell.backend.Current());
    EXPECT_TRUE(shell.server.callbackRegistered);
    EXPECT_TRUE(shell.tray.shown);
    EXPECT_EQ(shell.tray.toolTip, "Quavix Server - 192.168.1.20:8080 - http://192.168.1.20:17496/");
    EXPECT_EQ(shell.loop.Period(ShellTimer::KeepAlive), 20000u);
    ASSERT_TRUE(shell.loop.Tick(ShellTimer::KeepAlive));
    EXPECT_EQ(shell.server.keepAlives, 1);
    // The mixer's poll timer is the loop's.
    shell.backend.pollTimer->Set(20, [] {});
    EXPECT_EQ(shell.loop.Period(ShellTimer::MixerPoll), 20u);
    shell.backend.pollTimer->Kill();
    EXPECT_FALSE(shell.loop.Period(ShellTimer::MixerPoll));
    shell.loop.events->OnTrayIconPressed();
  };
  EXPECT_EQ(RunShell(shell.services), 0);
  ExpectAllReleased(shell);
  EXPECT_TRUE(shell.backend.shutDown);
  EXPECT_EQ(shell.networking.stops, 1);
  EXPECT_EQ(shell.guard.acquiredName, "QuavixServer_INSTANCE_LIMITER");
  EXPECT_EQ(shell.Out(),
            "Quavix Server listening on port 8080: 192.168.1.20:8080, control page "
            "http://192.168.1.20:17496/\n");
  EXPECT_TRUE(shell.messageBox.shown.empty());
  EXPECT_EQ(shell.Err(), "");
}

TEST(Shell, AListenAddressThisComputerLacksIsAStartUpFailureNamingIt) {
  FakeShell shell;
  shell.store.values["listen"] = "192.0.2.99";
  shell.server.busyPorts[17495] = true;
  shell.server.missingAddress = ParseIpAddress("192.0.2.99");
  EXPECT_EQ(RunShell(shell.services), 1);
  ASSERT_TRUE(shell.server.configured);
  ASSERT_EQ(shell.server.configured->listen.size(), 1u);
  ASSERT_EQ(shell.messageBox.shown.size(), 1u);
  EXPECT_NE(shell.messageBox.shown[0].first.find("192.0.2.99"), std::string::npos);
  EXPECT_NE(shell.Err().find("no network address 192.0.2.99"), std::string::npos) << shell.Err();
  EXPECT_FALSE(shell.tray.shown);
}

TEST(Shell, AReaderStuckInTheVolumeControlKeepsItAliveAtQuit) {
  FakeShell shell;
  shell.menu.choice = MenuCommand::Quit;
  shell.server.readerStuck = true;
  shell.loop.inLoop = [&] { shell.loop.events->OnTrayIconPressed(); };
  EXPECT_EQ(RunShell(shell.services), 0);
  EXPECT_FALSE(shell.server.running);
  EXPECT_FALSE(shell.backend.shutDown);
  EXPECT_NE(shell.backend.Current(), nullptr);
  EXPECT_FALSE(shell.guard.held);
}

TEST(Shell, SecondInstanceIsRefusedBeforeAnythingElseWithExitZero) {
  FakeShell shell;
  shell.guard.result = GuardResult::AlreadyRunning;
  EXPECT_EQ(RunShell(shell.services), 0);
  ASSERT_EQ(shell.messageBox.shown.size(), 1u);
  EXPECT_EQ(shell.messageBox.shown[0].first, "Quavix Server already running");
  EXPECT_EQ(shell.messageBox.shown[0].second, "Error");
  EXPECT_EQ(shell.Err(), "quavix-server: Quavix Server already running\n");
  EXPECT_FALSE(shell.guard.held);
  EXPECT_EQ(shell.networking.starts, 0);
  EXPECT_EQ(shell.loop.events, nullptr);
}

TEST(Shell, AGuardThatCouldNotBeCreatedDoesNotStopStartup) {
  FakeShell shell;
  shell.guard.result = GuardResult::Failed;
  shell.loop.inLoop = [&] { shell.loop.events->OnQuitRequested(); };
  EXPECT_EQ(RunShell(shell.services), 0);
  EXPECT_TRUE(shell.messageBox.shown.empty());
}

TEST(Shell, StartupFailuresReleaseWhatWasAcquiredAndExitWithOne) {
  struct Case {
    const char* name;
    std::function<void(FakeShell&)> arrange;
    const char* box;     // empty: no box
    const char* logged;  // the line in the log
  };
  const std::vector<Case> cases = {
      {"networking", [](FakeShell& s) { s.networking.result = NetStartResult::Failed; },
       "Could not start Windows networking.",
       "quavix-server: Could not start Windows networking.\n"},
      {"wrong version", [](FakeShell& s) { s.networking.result = NetStartResult::WrongVersion; },
       "Could not start Windows networking.",
       "quavix-server: Could not start Windows networking.\n"},
      {"window", [](FakeShell& s) { s.loop.openResult = false; }, "",
       "quavix-server: Couldn't create the hidden window\n"},
      {"audio", [](FakeShell& s) { s.backend.createResult = false; },
       "Could not locate audio device.", "quavix-server: Could not locate audio device.\n"},
      {"port in use", [](FakeShell& s) { s.server.busyPorts[17495] = true; },
       "Couldn't bind and listen to network port",
       "quavix-server: Couldn't bind and listen to network port 17495\n"},
      {"server thread", [](FakeShell& s) { s.server.startResult = false; },
       "Couldn't create server thread", "quavix-server: Couldn't create server thread\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeShell shell;
    c.arrange(shell);
    EXPECT_EQ(RunShell(shell.services), 1);
    if (c.box[0] == '\0') {
      EXPECT_TRUE(shell.messageBox.shown.empty());
    } else {
      ASSERT_EQ(shell.messageBox.shown.size(), 1u);
      EXPECT_EQ(shell.messageBox.shown[0].first, c.box);
      EXPECT_EQ(shell.messageBox.shown[0].second, "Quavix Server Error");
    }
    EXPECT_EQ(shell.Err(), c.logged);
    EXPECT_EQ(shell.Out(), "");
    ExpectAllReleased(shell);
  }
}

}  // namespace
