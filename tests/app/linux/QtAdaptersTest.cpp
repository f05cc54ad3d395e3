#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "app/ListenAddresses.h"
#include "app/linux/QtMainLoop.h"
#include "app/linux/QtShellWidgets.h"
#include "fakes/FakeShellPlatform.h"

namespace {

// Runs the loop as the program does, but never for more than 10 s: a quit that never comes
// fails the test with kNoQuit instead of hanging it.
constexpr int kNoQuit = -99;
int RunBounded(QtMainLoop& loop) {
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [&loop] { loop.Quit(kNoQuit); });
  limit.start(10000);
  return loop.Run();
}

// One QApplication for the whole executable, on Qt's offscreen platform.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "app_linux_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Runs the Qt loop until `done` holds or the deadline passes.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Records what the loop reports, with the thread it arrived on.
class RecordingEvents final : public IShellEvents {
 public:
  void OnTrayIconPressed() override { Note("pressed"); }
  void OnSettingsRequested() override { Note("settings"); }
  void OnQuitRequested() override { Note("quit"); }
  void OnPortChangeAnnounced() override { Note("port"); }
  void OnNotificationAreaAppeared() override { Note("tray"); }
  void Note(const std::string& event) {
    if (std::this_thread::get_id() != mainThread) offMainThread = true;
    events.push_back(event);
    if (onEvent) onEvent(event);
  }
  std::thread::id mainThread = std::this_thread::get_id();
  bool offMainThread = false;
  std::vector<std::string> events;
  std::function<void(const std::string&)> onEvent;
};

TEST(QtMainLoop, TasksFromAnyThreadRunInOrderOnTheMainThread) {
  QtMainLoop loop;
  RecordingEvents events;
  ASSERT_TRUE(loop.Open(events));
  std::vector<int> ran;
  bool offMainThread = false;
  const auto main = std::this_thread::get_id();
  auto task = [&](int i) {
    return [&, i] {
      offMainThread |= std::this_thread::get_id() != main;
      ran.push_back(i);
    };
  };
  loop.RunOnMainThread(task(0));
  std::thread other([&] {
    for (int i = 1; i <= 100; ++i) loop.RunOnMainThread(task(i));
  });
  other.join();
  ASSERT_TRUE(PumpUntil([&] { return ran.size() == 101; }));
  for (int i = 0; i <= 100; ++i) EXPECT_EQ(ran[i], i);
  EXPECT_FALSE(offMainThread);
}

TEST(QtMainLoop, TimersStartedFromAnyThreadTickOnTheMainThreadUntilStopped) {
  QtMainLoop loop;
  RecordingEvents events;
  ASSERT_TRUE(loop.Open(events));
  std::atomic<int> retries{0}, keepAlives{0};
  std::atomic<bool> offMainThread{false};
  const auto main = std::this_thread::get_id();
  std::thread other([&] {
    loop.StartTimer(ShellTimer::BroadcastRetry, 10, [&] {
      offMainThread = offMainThread || std::this_thread::get_id() != main;
      // Stopped from its own tick, as the retry stops itself (run under ASan, this catches a
      // timer freed while its tick runs).
      if (++retries == 3) loop.StopTimer(ShellTimer::BroadcastRetry);
    });
  });
  other.join();
  std::function<void()> keepAlive = [&] {
    // Restarted with a new tick from its own tick, as the retry re-arms itself.
    if (++keepAlives == 1) loop.StartTimer(ShellTimer::KeepAlive, 10, keepAlive);
  };
  loop.StartTimer(ShellTimer::KeepAlive, 10, keepAlive);
  ASSERT_TRUE(PumpUntil([&] { return retries >= 3 && keepAlives >= 3; }));
  EXPECT_FALSE(offMainThread);
  const int keepAlivesBefore = keepAlives;
  ASSERT_TRUE(PumpUntil([&] { return keepAlives >= keepAlivesBefore + 3; }));
  EXPECT_EQ(retries, 3);
}

TEST(QtMainLoop, RestartingATimerRestartsItsPeriod) {
  QtMainLoop loop;
  RecordingEvents events;
  ASSERT_TRUE(loop.Open(events));
  int ticks = 0;
  loop.StartTimer(ShellTimer::BroadcastRetry, 1000, [&] { ++ticks; });
  // Restarted every 50 ms for longer than one period: it never gets to tick.
  for (int i = 0; i < 30; ++i) {
    QTest::qWait(50);
    loop.StartTimer(ShellTimer::BroadcastRetry, 1000, [&] { ++ticks; });
  }
  EXPECT_EQ(ticks, 0);
  ASSERT_TRUE(PumpUntil([&] { return ticks == 1; }));
}

TEST(QtMainLoop, QuitEndsTheLoopWithItsCodeAndDropsWhatComesAfter) {
  {
    QtMainLoop loop;
    RecordingEvents events;
    ASSERT_TRUE(loop.Open(events));
    loop.Quit(3);
    EXPECT_EQ(loop.Run(), 3);
  }
  QtMainLoop loop;
  RecordingEvents events;
  ASSERT_TRUE(loop.Open(events));
  // All on the main thread. The running timer may tick before the quit (a slow build), never
  // after it.
  bool quit = false;
  int late = 0;
  loop.StartTimer(ShellTimer::KeepAlive, 5, [&] { late += quit ? 1 : 0; });
  loop.RunOnMainThread([&] {
    loop.Quit(7);
    quit = true;
    loop.RunOnMainThread([&] { ++late; });
    loop.StartTimer(ShellTimer::BroadcastRetry, 5, [&] { ++late; });
  });
  EXPECT_EQ(RunBounded(loop), 7);
  QTest::qWait(50);
  EXPECT_EQ(late, 0);
}

TEST(QtMainLoop, StopSignalsAskToQuitAndUsr1AnnouncesAPortChange) {
  // Also while a task runs a nested loop, as the settings dialog does.
  for (const bool nested : {false, true}) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) {
      SCOPED_TRACE(nested ? "in a nested loop" : "in the loop");
      QtMainLoop loop;
      RecordingEvents events;
      ASSERT_TRUE(loop.Open(events));
      QEventLoop dialog;
      bool heardInDialog = false;
      events.onEvent = [&](const std::string&) {
        heardInDialog = dialog.isRunning();
        loop.Quit(0);
      };
      // Raised on this thread: ThreadSanitizer defers a handler to the receiving thread's next
      // intercepted call, and a helper thread that received it could end before running it.
      if (nested) {
        loop.RunOnMainThread([&] {
          raise(signal);
          dialog.exec();
        });
      } else {
        raise(signal);
      }
      EXPECT_EQ(RunBounded(loop), 0) << "signal " << signal << " asked nothing of the loop";
      EXPECT_EQ(events.events, std::vector<std::string>{signal == SIGUSR1 ? "port" : "quit"})
          << signal;
      EXPECT_EQ(heardInDialog, nested) << signal;
      EXPECT_FALSE(events.offMainThread);
    }
  }
}

TEST(QtMainLoop, ASignalDuringStartupIsHandledOnceTheLoopIsOpen) {
  QtMainLoop loop;  // catching from here on
  kill(getpid(), SIGTERM);
  RecordingEvents events;
  events.onEvent = [&](const std::string&) { loop.Quit(0); };
  ASSERT_TRUE(loop.Open(events));
  EXPECT_EQ(RunBounded(loop), 0) << "the signal raised during start-up was lost";
  EXPECT_EQ(events.events, std::vector<std::string>{"quit"});
}

class PortDialogTest : public ::testing::Test {
 protected:
  // Types `text` over the box's content and presses Enter.
  void TypeAndEnter(PortDialog& dialog, const QString& text) {
    dialog.PortBox()->selectAll();
    QTest::keyClicks(dialog.PortBox(), text);
    if (text.isEmpty()) QTest::keyClick(dialog.PortBox(), Qt::Key_Delete);
    QTest::keyClick(dialog.PortBox(), Qt::Key_Return);
  }

  SettingsDialogLogic logic{8080};
  RecordingErrorReporter boxes;
};

TEST_F(PortDialogTest, ShowsThePortAndItsFixedTexts) {
  PortDialog dialog(logic, &boxes);
  EXPECT_EQ(dialog.windowTitle(), "Quavix Server Settings");
  EXPECT_EQ(dialog.PortBox()->text(), "8080");
  EXPECT_EQ(dialog.OkButton()->text(), "&OK");
  EXPECT_EQ(dialog.CancelButton()->text(), "&Cancel");
  EXPECT_TRUE(dialog.OkButton()->isDefault());
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(PortDialogTest, EnterAcceptsValidPorts) {
  for (auto [text, port] : std::vector<std::pair<QString, int>>{
           {"8080", 8080}, {" 80", 80}, {"+80", 80}, {"1", 1}, {"65535", 65535}}) {
    PortDialog dialog(logic, &boxes);
    dialog.show();
    TypeAndEnter(dialog, text);
    EXPECT_FALSE(dialog.isVisible()) << text.toStdString();
    EXPECT_EQ(dialog.result(), port) << text.toStdString();
  }
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(PortDialogTest, RefusalSaysBadPortAndKeepsTheTextAsTyped) {
  const std::vector<QString> refused = {"0", "65536", "-1", "abc", "", "80a", "80 "};
  for (const QString& text : refused) {
    PortDialog dialog(logic, &boxes);
    dialog.show();
    TypeAndEnter(dialog, text);
    EXPECT_TRUE(dialog.isVisible()) << text.toStdString();
    EXPECT_EQ(dialog.PortBox()->text(), text);
  }
  ASSERT_EQ(boxes.shown.size(), refused.size());
  for (const auto& [text, title] : boxes.shown) {
    EXPECT_EQ(text, "Port must be an integer within the range 1 to 65535.");
    EXPECT_EQ(title, "Bad Port");
  }
}

TEST_F(PortDialogTest, TheOutsideBoxShowsTheSettingAndReportsItsStateOnlyAtOk) {
  for (bool shown : {false, true}) {
    logic.allowOutside = shown;
    PortDialog dialog(logic, &boxes);
    dialog.show();
    EXPECT_EQ(dialog.AllowOutsideBox()->text(), "Allow clients from outside the local network");
    EXPECT_EQ(dialog.AllowOutsideBox()->isChecked(), shown);
    QTest::mouseClick(dialog.AllowOutsideBox(), Qt::LeftButton);
    TypeAndEnter(dialog, "abc");  // refused: the dialog stays and reports nothing yet
    EXPECT_EQ(logic.allowOutside, shown);
    TypeAndEnter(dialog, "8080");
    EXPECT_EQ(dialog.result(), 8080);
    EXPECT_EQ(logic.allowOutside, !shown);
  }
}

TEST_F(PortDialogTest, EscapeAndCancelGiveZeroEvenWithAValidPort) {
  {
    PortDialog dialog(logic, &boxes);
    dialog.show();
    dialog.PortBox()->setText("8080");
    QTest::keyClick(dialog.PortBox(), Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
  }
  PortDialog dialog(logic, &boxes);
  dialog.show();
  dialog.PortBox()->setText("8080");
  QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 0);
}

TEST_F(PortDialogTest, TheLoginBoxShowsTheStateAndOkHandsOverWhatItHolds) {
  for (bool before : {false, true}) {
    SettingsDialogLogic withLogin(8080, before);
    PortDialog dialog(withLogin, &boxes);
    dialog.show();
    EXPECT_EQ(dialog.LoginBox()->text(), "Start Quavix Server when I log in");
    EXPECT_EQ(dialog.LoginBox()->isChecked(), before);
    QTest::mouseClick(dialog.LoginBox(), Qt::LeftButton);
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), 8080);
    EXPECT_EQ(withLogin.StartAtLogin(), !before);
  }
}

TEST_F(PortDialogTest, ModalRunReturnsTheAcceptedPort) {
  QtSettingsDialog settings;
  QTimer::singleShot(0, [] {
    auto* dialog = dynamic_cast<PortDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    // The real refusal box returns at once on the offscreen platform.
    dialog->PortBox()->setText("abc");
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    ASSERT_TRUE(dialog->isVisible());
    dialog->PortBox()->setText("9090");
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
  });
  EXPECT_EQ(settings.Run(logic), 9090);
}

TEST(QtTrayIcon, WithoutANotificationAreaItRunsWithoutAnIcon) {
  QtTrayIcon tray;
  RecordingEvents events;
  tray.SetToolTip("Quavix Server - 192.168.1.20:17495");
  EXPECT_FALSE(tray.Add(events));  // the offscreen platform has none
  EXPECT_FALSE(tray.Shown());
  tray.Remove();
}

TEST(LocalAddresses, NeverLoopbackNorLinkLocalAndIPv4First) {
  bool seenV6 = false;
  for (const IpAddress& address : LocalAddresses()) {
    const std::string text = IpAddressText(address);
    if (address.IsV4()) {
      EXPECT_FALSE(seenV6) << text;
      EXPECT_NE(address.bytes[12], 127) << text;
    } else {
      seenV6 = true;
      EXPECT_TRUE(IsReachableIPv6(address)) << text;
    }
  }
}

}  // namespace
