#include "app/linux/XdgStartAtLogin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>
#include <memory>

#include "app/linux/IniSettingStore.h"
#include "base/Log.h"

namespace {

constexpr const char* kEntryTemplate = ":/quavix-server.desktop";  // res/linux, built in

// The installed entry's lines with Exec starting `program`.
QByteArray EntryText(const std::string& program) {
  QFile source(QString::fromLatin1(kEntryTemplate));
  QString text;
  if (source.open(QIODevice::ReadOnly)) text = QString::fromUtf8(source.readAll());
  QStringList lines = text.split(QLatin1Char('\n'));
  const QString exec =
      QStringLiteral("Exec=") + QString::fromStdString(DesktopExecArgument(program));
  bool hasExec = false;
  for (QString& line : lines) {
    if (line.startsWith(QLatin1String("Exec="))) {
      line = exec;
      hasExec = true;
    }
  }
  if (!hasExec) {
    lines = {QStringLiteral("[Desktop Entry]"), QStringLiteral("Type=Application"),
             QStringLiteral("Name=Quavix Server"), exec, QString()};
  }
  return lines.join(QLatin1Char('\n')).toUtf8();
}

}  // namespace

std::string DesktopExecArgument(const std::string& path) {
  // The desktop entry rules: these characters need the argument quoted, inside the quotes the
  // double quote, backquote, dollar and backslash take a backslash, and % is the field-code
  // sign everywhere.
  const bool needsQuotes = path.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
  std::string out;
  if (needsQuotes) out += '"';
  for (char c : path) {
    if (c == '%') {
      out += "%%";
      continue;
    }
    if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
  }
  if (needsQuotes) out += '"';
  return out;
}

XdgStartAtLogin::XdgStartAtLogin(const std::string& configFolder, const std::string& program)
    : entryPath_(configFolder + "/autostart/quavix-server.desktop"), program_(program) {}

bool XdgStartAtLogin::Enabled() {
  QFile entry(QString::fromStdString(entryPath_));
  if (!entry.open(QIODevice::ReadOnly)) return false;
  QTextStream lines(&entry);
  QString line;
  while (lines.readLineInto(&line)) {
    const QString trimmed = line.trimmed().remove(QLatin1Char(' '));
    if (trimmed == QLatin1String("Hidden=true") ||
        trimmed == QLatin1String("X-GNOME-Autostart-enabled=false")) {
      return false;
    }
  }
  return true;
}

bool XdgStartAtLogin::SetEnabled(bool enabled) {
  const QString path = QString::fromStdString(entryPath_);
  if (!enabled) {
    QFile entry(path);
    if (!entry.exists() || entry.remove()) return true;
    LogError("cannot remove " + entryPath_ + ": " + entry.errorString().toStdString());
    return false;
  }
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
    LogError("cannot create the folder of " + entryPath_);
    return false;
  }
  QSaveFile entry(path);  // all or nothing: a desktop never reads half an entry
  if (!entry.open(QIODevice::WriteOnly) || entry.write(EntryText(program_)) < 0 ||
      !entry.commit()) {
    LogError("cannot write " + entryPath_ + ": " + entry.errorString().toStdString());
    return false;
  }
  return true;
}

std::unique_ptr<IStartAtLogin> CreateStartAtLogin() {
  const std::string folder = UserConfigFolder();
  if (folder.empty()) return nullptr;
  const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
  return std::make_unique<XdgStartAtLogin>(folder, program.toStdString());
}
