#pragma once
// The Qt faces of the shell: tray icon, popup menu, message boxes and the settings dialog.

#include <QCheckBox>
#include <QDialog>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>

#include "app/IPopupMenu.h"
#include "app/ISettingsDialog.h"
#include "app/ITrayIcon.h"
#include "app/SettingsFlow.h"
#include "audio/IErrorReporter.h"

// Icon 107 at every size we draw.
QIcon ProgramIcon();

// True when a person can see windows: a real display, not Qt's offscreen or minimal platform.
bool HasInteractiveDisplay();

// A modal critical box where a display is; nothing without one (the shell logs every error as
// well).
class QtMessageBox final : public IErrorReporter {
 public:
  explicit QtMessageBox(QWidget* owner = nullptr) : owner_(owner) {}
  void ShowError(const std::string& text, const std::string& title) override;

 private:
  QWidget* owner_;
};

// A notification area that is missing at Add is looked for every kTrayWatchMs until one
// comes up (a tray host that starts after us at login); then the events hear of it.
class QtTrayIcon final : public ITrayIcon {
 public:
  static constexpr int kTrayWatchMs = 2000;
  ~QtTrayIcon() override;
  bool Add(IShellEvents& events) override;
  void Remove() override;
  void SetToolTip(const std::string& text) override;
  // What Add last did: an icon is shown.
  bool Shown() const { return icon_ != nullptr; }
  QSystemTrayIcon* Icon() const { return icon_.get(); }

 private:
  IShellEvents* events_ = nullptr;
  std::unique_ptr<QSystemTrayIcon> icon_;
  QTimer watch_;
  QString toolTip_;
  bool toldNoTray_ = false;
};

class QtPopupMenu final : public IPopupMenu {
 public:
  MenuCommand Track(const std::vector<PopupMenuItem>& items) override;
};

// The dialog itself, separate from its modal run so tests can drive it.
class PortDialog final : public QDialog {
 public:
  // `badPortBoxes` null: the refusal is shown in a message box owned by the dialog.
  PortDialog(SettingsDialogLogic& logic, IErrorReporter* badPortBoxes = nullptr);
  QLineEdit* PortBox() const { return portBox_; }
  QCheckBox* AllowOutsideBox() const { return allowOutsideBox_; }
  QCheckBox* LoginBox() const { return loginBox_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  void OnOk();

  SettingsDialogLogic& logic_;
  IErrorReporter* badPortBoxes_;
  QtMessageBox ownBoxes_;
  QLineEdit* portBox_ = nullptr;
  QCheckBox* allowOutsideBox_ = nullptr;
  QCheckBox* loginBox_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

class QtSettingsDialog final : public ISettingsDialog {
 public:
  int Run(SettingsDialogLogic& logic) override;
};

// Main thread. Opens `url` in the desktop's browser; a failure is logged.
void OpenInBrowser(const std::string& url);
