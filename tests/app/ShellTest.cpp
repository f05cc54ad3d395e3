#include <gtest/gtest.h>

#include "app/Shell.h"
#include "fakes/FakeShellPlatform.h"

namespace {

using Entries = std::vector<std::string>;

const std::string kGuard = "guard.acquire QuavixServer_INSTANCE_LIMITER";

TEST(Startup, RunsInOrderAndShutsDownInReverse) {
  FakeShell shell;
  shell.store.SetPort(8080);
  shell.window.inLoop = [&] {
    // While running: the icon is shown, keep-alive armed, the server connected to the backend.
    EXPECT_TRUE(shell.tray.shown);
    EXPECT_EQ(shell.window.TimerPeriod(TIMER_KEEPALIVE), 20000u);
    EXPECT_EQ(shell.server.source, shell.backend.Current());
    EXPECT_EQ(shell.server.listeningPort, 8080);
    // The mixer's poll timer is timer 2 of the hidden window.
    shell.backend.pollTimer->Set(20, nullptr);
    EXPECT_EQ(shell.window.TimerPeriod(TIMER_MIXER_POLL), 20u);
    shell.backend.pollTimer->Kill();
    EXPECT_FALSE(shell.window.TimerArmed(TIMER_MIXER_POLL));
    shell.journal.Add("-- running");
    shell.window.Post(kWmClose, 0, 0);  // as "&Quit Quavix" does
  };
  EXPECT_EQ(RunShell(shell.services), 0);
  const Entries expected = {kGuard,
                            "net.start",
                            "window.create",
                            "backend.create",
                            "server.connect",
                            "server.bind 8080",
                            "callback.set",
                            "server.start",
                            "window.send 1027",
                            "tray.add",
                            "window.loop",
                            "-- running",
                            "tray.delete",
                            "window.destroy",
                            "window.quit 0",
                            "callback.clear",
                            "server.stop",
                            "backend.shutdown",
                            "backend.destroy",
                            "net.stop",
                            "guard.release"};
  EXPECT_EQ(shell.journal.Entries(), expected);
  EXPECT_TRUE(shell.messageBox.shown.empty());
}

TEST(Startup, ExitCommandEndsTheRunWithoutDeletingTheIcon) {
  FakeShell shell;
  shell.window.inLoop = [&] { shell.window.Post(kWmCommand, kCommandExit, 0); };
  EXPECT_EQ(RunShell(shell.services), 0);
  EXPECT_TRUE(shell.tray.shown);
  EXPECT_TRUE(shell.window.Destroyed());
}

TEST(Startup, SecondInstanceIsRefusedBeforeAnythingElse) {
  FakeShell shell;
  shell.guard.result = GuardResult::AlreadyRunning;
  EXPECT_EQ(RunShell(shell.services), 0);
  const Entries expected = {kGuard, "guard.release", "box Error: Quavix Server already running"};
  EXPECT_EQ(shell.journal.Entries(), expected);
  EXPECT_EQ(shell.store.reads, 0);
}

TEST(Startup, AGuardThatCouldNotBeCreatedDoesNotStopStartup) {
  FakeShell shell;
  shell.guard.result = GuardResult::Failed;
  shell.window.inLoop = [&] { shell.window.Post(kWmClose, 0, 0); };
  EXPECT_EQ(RunShell(shell.services), 0);
  EXPECT_TRUE(shell.messageBox.shown.empty());
  EXPECT_EQ(shell.journal.Entries().back(), "guard.release");
}

TEST(Startup, NetworkingFailures) {
  {
    FakeShell shell;
    shell.networking.result = NetStartResult::Failed;
    EXPECT_EQ(RunShell(shell.services), 0);
    const Entries expected = {kGuard, "net.start", "guard.release",
                              "box Quavix Server Error: Could not start Windows networking."};
    EXPECT_EQ(shell.journal.Entries(), expected);
  }
  {
    FakeShell shell;
    shell.networking.result = NetStartResult::WrongVersion;
    EXPECT_EQ(RunShell(shell.services), 0);
    const Entries expected = {kGuard, "net.start", "net.stop", "guard.release",
                              "box Quavix Server Error: Could not start Windows networking."};
    EXPECT_EQ(shell.journal.Entries(), expected);
  }
}

TEST(Startup, WindowFailureEndsSilently) {
  FakeShell shell;
  shell.window.createResult = false;
  EXPECT_EQ(RunShell(shell.services), 0);
  const Entries expected = {kGuard, "net.start", "window.create", "net.stop", "guard.release"};
  EXPECT_EQ(shell.journal.Entries(), expected);
  EXPECT_TRUE(shell.messageBox.shown.empty());
}

TEST(Startup, BackendFailureKeepsTheFactorysOwnMessage) {
  FakeShell shell;
  shell.backend.createResult = false;
  EXPECT_EQ(RunShell(shell.services), 0);
  const Entries expected = {kGuard,
                            "net.start",
                            "window.create",
                            "backend.create",
                            "box Quavix Server Error: Could not locate audio device.",
                            "net.stop",
                            "guard.release"};
  EXPECT_EQ(shell.journal.Entries(), expected);
  EXPECT_EQ(shell.store.reads, 0);
}

TEST(Startup, PortInUseReleasesTheBackendBeforeSaying) {
  FakeShell shell;
  shell.server.busyPorts[17495] = true;
  EXPECT_EQ(RunShell(shell.services), 0);
  const Entries expected = {kGuard,
                            "net.start",
                            "window.create",
                            "backend.create",
                            "server.connect",
                            "server.bind 17495",
                            "server.stop",
                            "backend.shutdown",
                            "backend.destroy",
                            "net.stop",
                            "guard.release",
                            "box Quavix Server Error: Couldn't bind and listen to network port"};
  EXPECT_EQ(shell.journal.Entries(), expected);
}

TEST(Startup, ServerThreadFailureRemovesTheCallbackFirst) {
  FakeShell shell;
  shell.server.startResult = false;
  EXPECT_EQ(RunShell(shell.services), 0);
  const Entries expected = {kGuard,
                            "net.start",
                            "window.create",
                            "backend.create",
                            "server.connect",
                            "server.bind 17495",
                            "callback.set",
                            "server.start",
                            "callback.clear",
                            "server.stop",
                            "backend.shutdown",
                            "backend.destroy",
                            "net.stop",
                            "guard.release",
                            "box Quavix Server Error: Couldn't create server thread"};
  EXPECT_EQ(shell.journal.Entries(), expected);
  EXPECT_FALSE(shell.tray.shown);
}

}  // namespace
