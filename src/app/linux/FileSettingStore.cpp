#include "app/linux/FileSettingStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "app/linux/UniqueFd.h"

namespace {

std::vector<std::string> SplitKey(const std::string& key) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : key) {
    if (c == '\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

// A folder or file name that stays inside its parent.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

bool MakeFolders(const std::string& root, const std::vector<std::string>& parts) {
  std::string path = root;
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  for (const std::string& part : parts) {
    path += "/" + part;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
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

FileSettingStore::FileSettingStore(std::string root)
    : root_(root.empty() ? UserConfigFolder() : std::move(root)) {}

std::string FileSettingStore::ValuePath(const std::string& key, const std::string& name) const {
  if (root_.empty() || !IsPlainName(name)) return "";
  std::string path = root_;
  for (const std::string& part : SplitKey(key)) {
    if (!IsPlainName(part)) return "";
    path += "/" + part;
  }
  return path + "/" + name;
}

bool FileSettingStore::Read(const std::string& key, const std::string& name, uint8_t* buffer,
                            size_t* size) {
  const std::string path = ValuePath(key, name);
  if (path.empty()) return false;
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat info {};
  if (!fd || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (static_cast<uint64_t>(info.st_size) > *size) return false;
  // Read into a copy first: a failed or short read must leave the caller's buffer untouched.
  std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size) + 1);
  size_t total = 0;
  while (total < bytes.size()) {
    const ssize_t got = read(fd.get(), bytes.data() + total, bytes.size() - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    total += static_cast<size_t>(got);
  }
  if (total > *size) return false;  // grew since fstat
  std::copy(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(total), buffer);
  *size = total;
  return true;
}

bool FileSettingStore::WriteUint32(const std::string& key, const std::string& name,
                                   uint32_t value) {
  const std::string path = ValuePath(key, name);
  if (path.empty() || !MakeFolders(root_, SplitKey(key))) return false;
  std::string temporary = path + ".XXXXXX";
  UniqueFd fd(mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd) return false;
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  const bool written = WriteAll(fd.get(), bytes, sizeof bytes) && fsync(fd.get()) == 0;
  fd.reset();
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}
