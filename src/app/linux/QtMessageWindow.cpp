#include "app/linux/QtMessageWindow.h"

#include <signal.h>
#include <sys/eventfd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <cerrno>

#include "app/ShellIds.h"

namespace {

// The signal handler may only touch lock-free atomics and write(2).
std::atomic<int> g_signalWakeFd{-1};
std::atomic<bool> g_closeRequested{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};
struct sigaction g_previousActions[3];

void OnQuitSignal(int) {
  const int savedErrno = errno;
  g_closeRequested.store(true);
  const int fd = g_signalWakeFd.load();
  if (fd >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(fd, &one, sizeof one);
  }
  errno = savedErrno;
}

// Carries one posted message through Qt's own queue, so nested loops (menu, dialog) see it too.
class MessageEvent final : public QEvent {
 public:
  static QEvent::Type EventType() {
    static const int type = QEvent::registerEventType();
    return static_cast<QEvent::Type>(type);
  }
  MessageEvent(uint32_t message, uintptr_t wParam, intptr_t lParam)
      : QEvent(EventType()), message(message), wParam(wParam), lParam(lParam) {}
  const uint32_t message;
  const uintptr_t wParam;
  const intptr_t lParam;
};

}  // namespace

QtMessageWindow::QtMessageWindow() {
  // Caught from construction on, so a stop request during start-up is not lost: it is kept
  // until the window exists and then closes it like any other.
  g_closeRequested.store(false);
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kQuitSignals); ++i) {
    sigaction(kQuitSignals[i], &action, &g_previousActions[i]);
  }
}

QtMessageWindow::~QtMessageWindow() {
  for (size_t i = 0; i < std::size(kQuitSignals); ++i) {
    sigaction(kQuitSignals[i], &g_previousActions[i], nullptr);
  }
  g_signalWakeFd.store(-1);
  timers_.clear();
  wakeNotifier_.reset();
}

bool QtMessageWindow::OnMainThread() const {
  return QThread::currentThread() == thread();
}

bool QtMessageWindow::Create(IWindowProcedure* procedure) {
  if (QCoreApplication::instance() == nullptr) return false;
  wakeFd_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wakeFd_) return false;
  procedure_ = procedure;
  wakeNotifier_ = std::make_unique<QSocketNotifier>(wakeFd_.get(), QSocketNotifier::Read);
  QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, this,
                   [this] { DrainQueue(); });
  g_signalWakeFd.store(wakeFd_.get());
  if (g_closeRequested.load()) Wake();  // a signal that came during start-up
  return true;
}

void QtMessageWindow::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = write(wakeFd_.get(), &one, sizeof one);
}

void QtMessageWindow::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (destroyed_.load() || !wakeFd_) return;
  {
    std::lock_guard lock(queueMutex_);
    posted_.push_back({message, wParam, lParam});
  }
  Wake();
}

void QtMessageWindow::DrainQueue() {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t ignored = read(wakeFd_.get(), &count, sizeof count);
  if (g_closeRequested.exchange(false)) Post(kWmClose, 0, 0);

  std::deque<Message> posted;
  std::vector<TimerArm> arms;
  {
    std::lock_guard lock(queueMutex_);
    posted.swap(posted_);
    arms.swap(pendingArms_);
  }
  for (const TimerArm& arm : arms) ArmOnMainThread(arm.id, arm.periodMs, nullptr);
  for (const Message& m : posted) {
    QCoreApplication::postEvent(this, new MessageEvent(m.message, m.wParam, m.lParam));
  }
}

void QtMessageWindow::customEvent(QEvent* event) {
  if (event->type() != MessageEvent::EventType() || destroyed_.load()) return;
  const auto* message = static_cast<const MessageEvent*>(event);
  procedure_->HandleMessage(message->message, message->wParam, message->lParam);
}

intptr_t QtMessageWindow::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (destroyed_.load() || procedure_ == nullptr) return 0;
  return procedure_->HandleMessage(message, wParam, lParam);
}

intptr_t QtMessageWindow::DefaultProcedure(uint32_t message, uintptr_t, intptr_t) {
  if (message == kWmClose) Destroy();
  return 0;
}

void QtMessageWindow::Destroy() {
  if (destroyed_.load() || procedure_ == nullptr) return;
  // Stopped, not deleted: this may run inside a timer's own tick.
  for (auto& [id, timer] : timers_) timer->stop();
  procedure_->HandleMessage(kWmDestroy, 0, 0);
  destroyed_.store(true);
  std::lock_guard lock(queueMutex_);
  posted_.clear();
  pendingArms_.clear();
}

void QtMessageWindow::ArmOnMainThread(uint32_t id, uint32_t periodMs, TimerProcedure procedure) {
  if (destroyed_.load()) return;
  std::unique_ptr<QTimer>& timer = timers_[id];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
  }
  // Re-arming replaces what the tick does, as setting a window timer again does.
  timer->disconnect();
  if (procedure != nullptr) {
    QObject::connect(timer.get(), &QTimer::timeout, [procedure] { procedure(); });
  } else {
    QObject::connect(timer.get(), &QTimer::timeout, this, [this, id] {
      if (!destroyed_.load()) procedure_->HandleMessage(kWmTimer, id, 0);
    });
  }
  timer->start(static_cast<int>(periodMs));  // restarts the period of a running timer
}

void QtMessageWindow::SetTimer(uint32_t id, uint32_t periodMs) {
  if (destroyed_.load() || !wakeFd_) return;
  if (OnMainThread()) {
    ArmOnMainThread(id, periodMs, nullptr);
    return;
  }
  {
    std::lock_guard lock(queueMutex_);
    pendingArms_.push_back({id, periodMs});
  }
  Wake();
}

void QtMessageWindow::SetTimerProcedure(uint32_t id, uint32_t periodMs, TimerProcedure procedure) {
  ArmOnMainThread(id, periodMs, procedure);
}

void QtMessageWindow::KillTimer(uint32_t id) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();  // kept: the poll may kill from its own tick
}

void QtMessageWindow::PostQuit(int exitCode) {
  quitCode_ = exitCode;
  if (loopRunning_) QCoreApplication::exit(exitCode);
}

int QtMessageWindow::RunMessageLoop() {
  if (quitCode_) return *quitCode_;
  loopRunning_ = true;
  const int exitCode = QCoreApplication::exec();
  loopRunning_ = false;
  return quitCode_.value_or(exitCode);
}
