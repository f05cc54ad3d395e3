#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "app/ShellIds.h"
#include "app/linux/QtMessageWindow.h"
#include "app/linux/QtShellWidgets.h"
#include "fakes/FakeShellPlatform.h"

namespace {

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

// Records what reaches the window, with the thread it arrived on.
class RecordingProcedure final : public IWindowProcedure {
 public:
  intptr_t HandleMessage(uint32_t message, uintptr_t wParam, intptr_t) override {
    if (std::this_thread::get_id() != mainThread) offMainThread = true;
    messages.push_back(message);
    if (message == kWmTimer) ++ticks[wParam];
    if (onMessage) onMessage(message);
    return 42;
  }
  std::thread::id mainThread = std::this_thread::get_id();
  bool offMainThread = false;
  std::vector<uint32_t> messages;
  std::map<uintptr_t, int> ticks;
  std::function<void(uint32_t)> onMessage;
};

TEST(QtMessageWindow, PostedMessagesArriveInOrderOnTheMainThread) {
  QtMessageWindow window;
  RecordingProcedure procedure;
  ASSERT_TRUE(window.Create(&procedure));
  window.Post(WM_SHOW_SETTINGS, 0, 0);
  std::thread other([&] {
    for (uint32_t i = 0; i < 100; ++i) window.Post(2000 + i, 0, 0);
  });
  other.join();
  ASSERT_TRUE(PumpUntil([&] { return procedure.messages.size() == 101; }));
  EXPECT_EQ(procedure.messages.front(), WM_SHOW_SETTINGS);
  for (uint32_t i = 0; i < 100; ++i) EXPECT_EQ(procedure.messages[1 + i], 2000 + i);
  EXPECT_FALSE(procedure.offMainThread);
  EXPECT_EQ(window.Send(WM_ADD_TRAY_ICON, 0, 0), 42);  // at once, not queued
  EXPECT_EQ(procedure.messages.back(), WM_ADD_TRAY_ICON);
}

TEST(QtMessageWindow, TimersArmedFromAnyThreadTickOnTheMainThread) {
  QtMessageWindow window;
  RecordingProcedure procedure;
  ASSERT_TRUE(window.Create(&procedure));
  std::thread other([&] { window.SetTimer(TIMER_BROADCAST_RETRY, 10); });
  other.join();
  window.SetTimer(TIMER_KEEPALIVE, 10);
  ASSERT_TRUE(PumpUntil([&] {
    return procedure.ticks[TIMER_BROADCAST_RETRY] >= 3 && procedure.ticks[TIMER_KEEPALIVE] >= 3;
  }));
  EXPECT_FALSE(procedure.offMainThread);
  window.KillTimer(TIMER_BROADCAST_RETRY);
  const int before = procedure.ticks[TIMER_BROADCAST_RETRY];
  const int keepAlivesBefore = procedure.ticks[TIMER_KEEPALIVE];
  ASSERT_TRUE(PumpUntil([&] { return procedure.ticks[TIMER_KEEPALIVE] >= keepAlivesBefore + 3; }));
  EXPECT_EQ(procedure.ticks[TIMER_BROADCAST_RETRY], before);
}

void CountPoll();
std::atomic<int> g_polls{0};
QtMessageWindow* g_pollWindow = nullptr;
void CountPoll() {
  // Re-arming from its own tick, as the mixer's adaptive poll does.
  if (++g_polls == 2) g_pollWindow->SetTimerProcedure(TIMER_MIXER_POLL, 5, CountPoll);
  if (g_polls == 4) g_pollWindow->KillTimer(TIMER_MIXER_POLL);
}

TEST(QtMessageWindow, TimerProceduresBypassTheWindowProcedure) {
  QtMessageWindow window;
  RecordingProcedure procedure;
  ASSERT_TRUE(window.Create(&procedure));
  g_pollWindow = &window;
  window.SetTimerProcedure(TIMER_MIXER_POLL, 5, CountPoll);
  ASSERT_TRUE(PumpUntil([&] { return g_polls >= 4; }));
  QTest::qWait(50);
  EXPECT_EQ(g_polls, 4);
  EXPECT_TRUE(procedure.messages.empty());
}

TEST(QtMessageWindow, DestroyDeliversDestroyLastAndStopsEverything) {
  QtMessageWindow window;
  RecordingProcedure procedure;
  ASSERT_TRUE(window.Create(&procedure));
  window.SetTimer(TIMER_KEEPALIVE, 5);
  window.Post(3000, 0, 0);
  EXPECT_EQ(window.DefaultProcedure(kWmClose, 0, 0), 0);  // closing destroys
  ASSERT_EQ(procedure.messages, std::vector<uint32_t>{kWmDestroy});
  window.Post(3001, 0, 0);
  window.SetTimer(TIMER_BROADCAST_RETRY, 5);
  window.Destroy();
  QTest::qWait(50);
  EXPECT_EQ(procedure.messages, std::vector<uint32_t>{kWmDestroy});
}

TEST(QtMessageWindow, QuitEndsTheLoopWithItsCodeAlsoWhenAskedEarly) {
  {
    QtMessageWindow window;
    RecordingProcedure procedure;
    ASSERT_TRUE(window.Create(&procedure));
    window.PostQuit(0);
    EXPECT_EQ(window.RunMessageLoop(), 0);
  }
  QtMessageWindow window;
  RecordingProcedure procedure;
  procedure.onMessage = [&](uint32_t message) {
    if (message == 4000) window.PostQuit(7);
  };
  ASSERT_TRUE(window.Create(&procedure));
  window.Post(4000, 0, 0);
  EXPECT_EQ(window.RunMessageLoop(), 7);
}

TEST(QtMessageWindow, TerminationSignalsPostClose) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    QtMessageWindow window;
    RecordingProcedure procedure;
    ASSERT_TRUE(window.Create(&procedure));
    // The close runs as it does in the program: the default procedure destroys the window.
    procedure.onMessage = [&](uint32_t message) {
      if (message == kWmClose) window.DefaultProcedure(message, 0, 0);
      if (message == kWmDestroy) window.PostQuit(0);
    };
    // Raised on this thread: ThreadSanitizer defers a handler to the receiving thread's next
    // intercepted call, and a helper thread that received it could end before running it.
    raise(signal);
    EXPECT_EQ(window.RunMessageLoop(), 0);
    EXPECT_EQ(procedure.messages, (std::vector<uint32_t>{kWmClose, kWmDestroy})) << signal;
  }
}

TEST(QtMessageWindow, ASignalDuringStartupClosesOnceTheWindowExists) {
  QtMessageWindow window;  // catching from here on
  kill(getpid(), SIGTERM);
  RecordingProcedure procedure;
  procedure.onMessage = [&](uint32_t message) {
    if (message == kWmClose) window.PostQuit(0);
  };
  ASSERT_TRUE(window.Create(&procedure));
  EXPECT_EQ(window.RunMessageLoop(), 0);
  EXPECT_EQ(procedure.messages, std::vector<uint32_t>{kWmClose});
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

  FakeSettingStore store;
  SettingsDialogLogic logic{store};
  JournalErrorReporter boxes;
};

TEST_F(PortDialogTest, ShowsTheStoredPortAndItsFixedTexts) {
  store.SetPort(8080);
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
  EXPECT_EQ(store.writes, 0);
}

TEST_F(PortDialogTest, ModalRunReturnsTheAcceptedPort) {
  QtSettingsDialog settings;
  QTimer::singleShot(0, [] {
    auto* dialog = dynamic_cast<PortDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    // The real refusal box prints and returns at once on the offscreen platform.
    dialog->PortBox()->setText("abc");
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    ASSERT_TRUE(dialog->isVisible());
    dialog->PortBox()->setText("9090");
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
  });
  EXPECT_EQ(settings.Run(logic), 9090);
}

TEST(QtTrayIcon, WithoutANotificationAreaTheServerRunsWithoutAnIcon) {
  QtMessageWindow window;
  QtTrayIcon tray(window);
  EXPECT_FALSE(tray.Add());  // the offscreen platform has none
  EXPECT_FALSE(tray.Shown());
  tray.Delete();
}

}  // namespace
