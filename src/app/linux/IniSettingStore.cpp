#include "app/linux/IniSettingStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "app/linux/UniqueFd.h"
#include "base/Log.h"
#include "base/ShownText.h"

namespace {

constexpr const char* kGroup = "server";
constexpr off_t kLargestFile = 1 << 20;
// GKeyFile knows only # comments: while the file is in memory, each ; comment line is a #
// comment that starts with this mark, and is given back its ; when the file is written.
constexpr std::string_view kSemicolonMark = "#\x7f";

// `text` with each ; comment line hidden behind the mark (`hide`), or given back.
std::string Semicolons(std::string_view text, bool hide) {
  std::string result;
  while (!text.empty()) {
    const size_t newline = text.find('\n');
    std::string_view line =
        text.substr(0, newline == std::string_view::npos ? text.size() : newline + 1);
    text.remove_prefix(line.size());
    if (hide) {
      const size_t first = line.find_first_not_of(" \t");
      if (first != std::string_view::npos && line[first] == ';') result += kSemicolonMark;
    } else if (line.substr(0, kSemicolonMark.size()) == kSemicolonMark) {
      line.remove_prefix(kSemicolonMark.size());
    }
    result += line;
  }
  return result;
}

// The first line that is neither blank nor a comment, with its number, when it comes before
// any section: GKeyFile refuses such a file with less to go on.
std::string KeyOutsideAnySection(std::string_view text) {
  for (int number = 1; !text.empty(); ++number) {
    const size_t newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#') continue;
    if (line[first] == '[') return "";
    return "line " + std::to_string(number) + ", '" + ShownText(line, 60) +
           "', is outside any section (the settings go under [server])";
  }
  return "";
}

std::string ErrorText(GError* error) {
  const std::string text = ShownText(error->message, 160);
  g_error_free(error);
  return text;
}

}  // namespace

std::string UserConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* entry = getpwuid(getuid());
    home = entry != nullptr ? entry->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] != '/') return "";
  return std::string(home) + "/.config";
}

IniSettingStore::IniSettingStore(std::string path) : path_(std::move(path)) {
  if (path_.empty()) {
    const std::string folder = UserConfigFolder();
    if (!folder.empty()) path_ = folder + "/quavix/quavix-server.conf";
  }
}

std::string IniSettingStore::Location() const {
  return path_.empty() ? "the configuration folder (neither XDG_CONFIG_HOME nor HOME is set)"
                       : path_;
}

IniSettingStore::KeyFile IniSettingStore::ReadFile(std::string* problem, int* mode) const {
  *mode = 0600;
  KeyFile file(g_key_file_new());
  if (path_.empty()) return file;
  // Without blocking: a FIFO in the file's place must not hold up start-up.
  UniqueFd fd(open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) {
    if (errno == ENOENT) return file;  // nothing stored yet
    *problem = std::strerror(errno);
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) {
    *problem = std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    *problem = S_ISDIR(info.st_mode) ? "it is a folder, not a file" : "it is not a regular file";
    return nullptr;
  }
  if (info.st_size > kLargestFile) {
    *problem = "it is larger than 1 MiB";
    return nullptr;
  }
  *mode = static_cast<int>(info.st_mode & 07777);
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *problem = std::strerror(errno);
      return nullptr;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > static_cast<size_t>(kLargestFile)) {
      *problem = "it is larger than 1 MiB";
      return nullptr;
    }
  }
  text = Semicolons(text, true);
  *problem = KeyOutsideAnySection(text);
  if (!problem->empty()) return nullptr;
  GError* error = nullptr;
  if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_KEEP_COMMENTS,
                                 &error)) {
    *problem = ErrorText(error);
    return nullptr;
  }
  return file;
}

bool IniSettingStore::Load(std::string* problem) {
  int mode = 0;
  KeyFile file = ReadFile(problem, &mode);
  if (!file) return false;
  loaded_ = std::move(file);
  return true;
}

std::optional<std::string> IniSettingStore::Read(const Setting& setting) {
  if (!loaded_) return std::nullopt;
  const std::string key(setting.key);
  gchar* value = g_key_file_get_value(loaded_.get(), kGroup, key.c_str(), nullptr);
  if (value == nullptr) return std::nullopt;
  std::string text(value);
  g_free(value);
  return text;
}

std::vector<std::string> IniSettingStore::Unknown() const {
  std::vector<std::string> unknown;
  if (!loaded_) return unknown;
  gchar** groups = g_key_file_get_groups(loaded_.get(), nullptr);
  for (gchar** group = groups; *group != nullptr; ++group) {
    if (std::strcmp(*group, kGroup) != 0) {
      unknown.push_back("section [" + ShownText(*group, 60) + "]");
      continue;
    }
    gchar** keys = g_key_file_get_keys(loaded_.get(), kGroup, nullptr, nullptr);
    for (gchar** key = keys; key != nullptr && *key != nullptr; ++key) {
      if (FindSetting(*key) == nullptr) unknown.push_back("key " + ShownText(*key, 60));
    }
    g_strfreev(keys);
  }
  g_strfreev(groups);
  return unknown;
}

bool IniSettingStore::Change(const std::string& what,
                             const std::function<bool(GKeyFile*)>& change) {
  if (path_.empty()) {
    LogError("cannot store " + what + ": " + Location());
    return false;
  }
  std::string problem;
  int mode = 0;
  const KeyFile file = ReadFile(&problem, &mode);
  if (!file) {
    LogError(path_ + ": " + problem + "; " + what + " is not stored");
    return false;
  }
  if (!change(file.get())) return true;  // nothing to do
  gsize length = 0;
  gchar* data = g_key_file_to_data(file.get(), &length, nullptr);
  const std::string text = Semicolons(std::string_view(data, length), false);
  g_free(data);
  const std::string folder = path_.substr(0, path_.rfind('/'));
  if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) {
    LogSystemError(folder + ": cannot make the folder for the settings", errno);
    return false;
  }
  // A link (to a file kept elsewhere) stays: the file it points at is the one replaced.
  std::string target = path_;
  if (char* real = realpath(path_.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  GError* error = nullptr;
  if (!g_file_set_contents_full(target.c_str(), text.data(), static_cast<gssize>(text.size()),
                                G_FILE_SET_CONTENTS_CONSISTENT, mode, &error)) {
    LogError(path_ + ": " + ErrorText(error) + "; " + what + " is not stored");
    return false;
  }
  return true;
}

bool IniSettingStore::Write(const Setting& setting, const std::string& text) {
  const std::string key(setting.key);
  // One line per value: a line break would make the rest of it a line of its own.
  if (text.find_first_of("\r\n") != std::string::npos) return false;
  return Change("the setting " + key, [&](GKeyFile* file) {
    g_key_file_set_value(file, kGroup, key.c_str(), text.c_str());
    return true;
  });
}

bool IniSettingStore::Remove(const Setting& setting) {
  const std::string key(setting.key);
  return Change("the setting " + key, [&](GKeyFile* file) {
    return g_key_file_remove_key(file, kGroup, key.c_str(), nullptr) != FALSE;
  });
}
