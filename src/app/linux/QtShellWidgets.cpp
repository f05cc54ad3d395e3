#include "app/linux/QtShellWidgets.h"

#include <QAction>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QUrl>
#include <QVBoxLayout>

#include "app/IMainLoop.h"
#include "base/Log.h"
#include "base/Texts.h"

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 256}) {
    icon.addFile(QStringLiteral(":/icons/quavix-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

bool HasInteractiveDisplay() {
  const QString platform = QGuiApplication::platformName();
  return !platform.isEmpty() && platform != QLatin1String("offscreen") &&
         platform != QLatin1String("minimal");
}

void QtMessageBox::ShowError(const std::string& text, const std::string& title) {
  if (!HasInteractiveDisplay()) return;
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(title),
                  QString::fromStdString(text), QMessageBox::Ok, owner_);
  box.exec();
}

QtTrayIcon::~QtTrayIcon() {
  Remove();
}

bool QtTrayIcon::Add(IShellEvents& events) {
  events_ = &events;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    if (!toldNoTray_) {
      LogError("no notification area here; running without an icon");
      toldNoTray_ = true;
    }
    // Qt tells of no tray host that comes later, so look again now and then.
    if (!watch_.isActive()) {
      watch_.setInterval(kTrayWatchMs);
      QObject::connect(&watch_, &QTimer::timeout, &watch_, [this] {
        if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
        watch_.stop();
        watch_.disconnect();
        events_->OnNotificationAreaAppeared();
      });
      watch_.start();
    }
    return false;
  }
  if (!icon_) {
    icon_ = std::make_unique<QSystemTrayIcon>(ProgramIcon());
    QObject::connect(
        icon_.get(), &QSystemTrayIcon::activated, icon_.get(),
        [this](QSystemTrayIcon::ActivationReason reason) {
          // A left press is a Trigger, a right press asks for the context menu.
          if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) {
            events_->OnTrayIconPressed();
          }
        });
  }
  icon_->setToolTip(toolTip_);
  icon_->show();
  return true;
}

void QtTrayIcon::Remove() {
  watch_.stop();
  if (icon_) icon_->hide();
  icon_.reset();
}

void QtTrayIcon::SetToolTip(const std::string& text) {
  toolTip_ = QString::fromStdString(text);
  if (icon_) icon_->setToolTip(toolTip_);
}

MenuCommand QtPopupMenu::Track(const std::vector<PopupMenuItem>& items) {
  QMenu menu;
  for (const PopupMenuItem& item : items) {
    if (item.columnBreak) {
      // Qt menus have no column break; a separator keeps the two commands apart.
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(QString::fromStdString(item.text));
    action->setData(static_cast<int>(item.command));
  }
  QAction* chosen = menu.exec(QCursor::pos());
  return chosen != nullptr ? static_cast<MenuCommand>(chosen->data().toInt()) : MenuCommand::None;
}

PortDialog::PortDialog(SettingsDialogLogic& logic, IErrorReporter* badPortBoxes)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      logic_(logic),
      badPortBoxes_(badPortBoxes),
      ownBoxes_(this) {
  setWindowTitle(QString::fromUtf8(kTextDialogCaption));
  setWindowIcon(ProgramIcon());
  setModal(true);

  auto* icon = new QLabel;
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  auto* label = new QLabel(QString::fromUtf8(kTextDialogLabel));
  portBox_ = new QLineEdit(QString::fromStdString(logic_.InitialText()));
  portBox_->setObjectName(QStringLiteral("portBox"));
  portBox_->setFixedWidth(portBox_->fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
  label->setBuddy(portBox_);
  loginBox_ = new QCheckBox(QString::fromUtf8(kTextDialogStartAtLogin));
  loginBox_->setChecked(logic_.StartAtLogin());
  ok_ = new QPushButton(QString::fromUtf8(kTextDialogOk));
  cancel_ = new QPushButton(QString::fromUtf8(kTextDialogCancel));
  ok_->setDefault(true);

  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addSpacing(8);
  row->addWidget(label);
  row->addWidget(portBox_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  allowOutsideBox_ = new QCheckBox(QString::fromUtf8(kTextDialogAllowOutside));
  allowOutsideBox_->setObjectName(QStringLiteral("allowOutsideBox"));
  allowOutsideBox_->setChecked(logic_.allowOutside);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(allowOutsideBox_);
  layout->addWidget(loginBox_);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  setTabOrder(portBox_, allowOutsideBox_);
  setTabOrder(allowOutsideBox_, loginBox_);
  setTabOrder(loginBox_, cancel_);
  setTabOrder(cancel_, ok_);

  QObject::connect(ok_, &QPushButton::clicked, this, [this] { OnOk(); });
  QObject::connect(cancel_, &QPushButton::clicked, this, [this] { done(0); });
  portBox_->setFocus();
}

void PortDialog::OnOk() {
  IErrorReporter& boxes = badPortBoxes_ != nullptr ? *badPortBoxes_ : ownBoxes_;
  logic_.SetStartAtLogin(loginBox_->isChecked());
  const int port = logic_.OnOk(portBox_->text().toStdString(), boxes);
  if (port == 0) return;
  logic_.allowOutside = allowOutsideBox_->isChecked();
  done(port);
}

int QtSettingsDialog::Run(SettingsDialogLogic& logic) {
  PortDialog dialog(logic);
  dialog.show();
  dialog.activateWindow();
  return dialog.exec();
}

void OpenInBrowser(const std::string& url) {
  if (!QDesktopServices::openUrl(QUrl(QString::fromStdString(url)))) {
    LogError("couldn't open " + url + " in a browser");
  }
}
