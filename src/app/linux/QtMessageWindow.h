#pragma once
// The hidden window as a QObject on the main thread. Messages posted from any thread, timers
// armed from other threads and SIGTERM/SIGINT/SIGHUP reach it through one eventfd watched by
// the Qt loop; the queue behind it is guarded by a std::mutex, so no ordering rests on Qt's
// internal locks. A signal posts kWmClose, so a service stop or Ctrl+C quits as the menu does.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/IMessageWindow.h"
#include "app/linux/UniqueFd.h"

// One at a time per process: it owns the process's handlers of the three signals.
class QtMessageWindow final : public QObject, public IMessageWindow {
 public:
  // Catches SIGTERM, SIGINT and SIGHUP from here on (the destructor restores what was there).
  QtMessageWindow();
  ~QtMessageWindow() override;

  bool Create(IWindowProcedure* procedure) override;
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  intptr_t DefaultProcedure(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  void Destroy() override;
  void SetTimer(uint32_t id, uint32_t periodMs) override;
  void SetTimerProcedure(uint32_t id, uint32_t periodMs, TimerProcedure procedure) override;
  void KillTimer(uint32_t id) override;
  void PostQuit(int exitCode) override;
  int RunMessageLoop() override;

 protected:
  void customEvent(QEvent* event) override;

 private:
  struct Message {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  struct TimerArm {
    uint32_t id;
    uint32_t periodMs;
  };

  bool OnMainThread() const;
  void Wake();
  void DrainQueue();
  void ArmOnMainThread(uint32_t id, uint32_t periodMs, TimerProcedure procedure);

  IWindowProcedure* procedure_ = nullptr;
  UniqueFd wakeFd_;
  std::unique_ptr<QSocketNotifier> wakeNotifier_;

  std::mutex queueMutex_;  // guards the two queues below
  std::deque<Message> posted_;
  std::vector<TimerArm> pendingArms_;

  std::atomic<bool> destroyed_{false};
  std::map<uint32_t, std::unique_ptr<QTimer>> timers_;  // main thread only
  std::optional<int> quitCode_;                         // main thread only
  bool loopRunning_ = false;                            // main thread only
};
