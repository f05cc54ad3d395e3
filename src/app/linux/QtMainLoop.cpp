#include "app/linux/QtMainLoop.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <cerrno>
#include <iterator>

namespace {

// The signal handler may only touch lock-free atomics and write(2).
std::atomic<int> g_signalWakeFd{-1};
std::atomic<bool> g_quitRequested{false};
std::atomic<bool> g_portChanged{false};
// Until the loop runs, a stop signal ends the process at once (see EndOnStopSignalUntilRun).
std::atomic<bool> g_endOnStopSignal{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};
struct sigaction g_previousActions[std::size(kSignals)];

void OnSignal(int signal) {
  const int savedErrno = errno;
  if (signal != SIGUSR1 && g_endOnStopSignal.load()) {
    // Start-up may be waiting inside a library (a sound server that does not answer) where no
    // event of ours is looked at; nothing is held that the kernel does not release, and a
    // quit is silent.
    _exit(0);
  }
  (signal == SIGUSR1 ? g_portChanged : g_quitRequested).store(true);
  const int fd = g_signalWakeFd.load();
  if (fd >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(fd, &one, sizeof one);
  }
  errno = savedErrno;
}

// Once shut-down has begun, a further signal must neither end the process with its own status
// nor run a handler that is gone.
void IgnoreSignals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (int signal : kSignals) sigaction(signal, &ignore, nullptr);
}

}  // namespace

QtMainLoop::QtMainLoop() {
  g_quitRequested.store(false);
  g_portChanged.store(false);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], &action, &g_previousActions[i]);
  }
}

QtMainLoop::~QtMainLoop() {
  g_endOnStopSignal.store(false);
  if (!tasks_.Closed()) {
    for (size_t i = 0; i < std::size(kSignals); ++i) {
      sigaction(kSignals[i], &g_previousActions[i], nullptr);
    }
  }
  g_signalWakeFd.store(-1);
  timers_.clear();
  wakeNotifier_.reset();
}

bool QtMainLoop::Open(IShellEvents& events) {
  if (QCoreApplication::instance() == nullptr) return false;
  wakeFd_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wakeFd_) return false;
  events_ = &events;
  wakeNotifier_ = std::make_unique<QSocketNotifier>(wakeFd_.get(), QSocketNotifier::Read);
  QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
  g_signalWakeFd.store(wakeFd_.get());
  if (g_quitRequested.load() || g_portChanged.load()) Wake();  // came during start-up
  return true;
}

void QtMainLoop::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = write(wakeFd_.get(), &one, sizeof one);
}

bool QtMainLoop::OnMainThread() const {
  return QThread::currentThread() == thread();
}

void QtMainLoop::Drain() {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t ignored = read(wakeFd_.get(), &count, sizeof count);
  std::deque<std::function<void()>> tasks = tasks_.Take();
  // Never in the notifier's own call: a task may run a modal loop.
  if (g_quitRequested.exchange(false)) tasks.push_back([this] { events_->OnQuitRequested(); });
  if (g_portChanged.exchange(false)) tasks.push_back([this] { events_->OnPortChangeAnnounced(); });
  for (std::function<void()>& task : tasks) {
    QMetaObject::invokeMethod(
        this,
        [this, task = std::move(task)] {
          if (!tasks_.Closed()) task();
        },
        Qt::QueuedConnection);
  }
}

void QtMainLoop::StartHere(ShellTimer timer, uint32_t periodMs, std::function<void()> tick) {
  if (tasks_.Closed()) return;
  std::unique_ptr<QTimer>& qtTimer = timers_[timer];
  if (!qtTimer) {
    qtTimer = std::make_unique<QTimer>();
    qtTimer->setTimerType(Qt::PreciseTimer);
  }
  qtTimer->disconnect();
  QObject::connect(qtTimer.get(), &QTimer::timeout, this, std::move(tick));
  qtTimer->start(static_cast<int>(periodMs));  // restarts the period of a running timer
}

void QtMainLoop::StopTimer(ShellTimer timer) {
  auto it = timers_.find(timer);
  if (it != timers_.end()) it->second->stop();  // kept: the poll may stop it from its own tick
}

void QtMainLoop::EndOnStopSignalUntilRun() {
  g_endOnStopSignal.store(true);
  if (g_quitRequested.load()) _exit(0);  // one came before this was asked for
}

void QtMainLoop::QuitInOrderFromNowOn() {
  g_endOnStopSignal.store(false);  // a signal from here is kept, and Open's wake fd takes it
}

void QtMainLoop::Quit(int exitCode) {
  tasks_.Close();
  g_endOnStopSignal.store(false);
  IgnoreSignals();
  for (auto& [timer, qtTimer] : timers_) qtTimer->stop();
  quitCode_ = exitCode;
  if (running_) QCoreApplication::exit(exitCode);
}

int QtMainLoop::Run() {
  if (quitCode_) return *quitCode_;
  running_ = true;
  g_endOnStopSignal.store(false);  // from here the loop handles them
  const int exitCode = QCoreApplication::exec();
  running_ = false;
  return quitCode_.value_or(exitCode);
}
