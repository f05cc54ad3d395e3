#include "net/page/pairing/linux/FilePairedDeviceStore.h"

#include <glib.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "base/Log.h"

namespace {

constexpr const char* kGroupPrefix = "phone ";

struct KeyFileFree {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileFree>;

struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

struct GFree {
  void operator()(void* memory) const { g_free(memory); }
};
template <typename T>
using Owned = std::unique_ptr<T, GFree>;

struct StringsFree {
  void operator()(gchar** strings) const { g_strfreev(strings); }
};
using OwnedStrings = std::unique_ptr<gchar*, StringsFree>;

// A string of the file, or empty; a missing entry makes the record not well-formed.
std::string Text(GKeyFile* file, const char* group, const char* key) {
  const Owned<char> value(g_key_file_get_string(file, group, key, nullptr));
  return value ? value.get() : "";
}

}  // namespace

FilePairedDeviceStore::FilePairedDeviceStore(std::string folder)
    : folder_(std::move(folder)), path_(folder_ + "/" + kFileName) {}

std::optional<std::vector<PairedDevice>> FilePairedDeviceStore::Load() {
  KeyFile file(g_key_file_new());
  GError* raw = nullptr;
  if (!g_key_file_load_from_file(file.get(), path_.c_str(), G_KEY_FILE_NONE, &raw)) {
    const Error error(raw);
    if (g_error_matches(raw, G_FILE_ERROR, G_FILE_ERROR_NOENT)) return std::vector<PairedDevice>{};
    LogError("could not read the paired phones from " + path_ + ": " + error->message);
    return std::nullopt;
  }
  // A file that others may read (copied, or its mode changed by hand) is closed to them again:
  // the keys in it let a phone in.
  struct stat status {};
  if (stat(path_.c_str(), &status) == 0 && (status.st_mode & 077) != 0 &&
      chmod(path_.c_str(), 0600) != 0) {
    LogSystemError("could not make " + path_ + " readable by its owner alone", errno);
  }
  std::vector<PairedDevice> devices;
  gsize count = 0;
  const OwnedStrings groups(g_key_file_get_groups(file.get(), &count));
  for (gsize i = 0; i < count; ++i) {
    const std::string group = groups.get()[i];
    PairedDevice device;
    if (group.rfind(kGroupPrefix, 0) == 0)
      device.id = group.substr(std::string(kGroupPrefix).size());
    device.name = Text(file.get(), group.c_str(), "name");
    device.key = ParseHex(Text(file.get(), group.c_str(), "key")).value_or(Bytes{});
    device.pairedAt = g_key_file_get_int64(file.get(), group.c_str(), "paired", nullptr);
    if (!WellFormed(device)) {
      LogError("left out [" + group + "] of " + path_ + ": not a paired phone's record");
      continue;
    }
    devices.push_back(std::move(device));
  }
  return devices;
}

bool FilePairedDeviceStore::Save(const std::vector<PairedDevice>& devices) {
  if (g_mkdir_with_parents(folder_.c_str(), 0700) != 0) {
    LogSystemError("could not make " + folder_, errno);
    return false;
  }
  KeyFile file(g_key_file_new());
  for (const PairedDevice& device : devices) {
    const std::string group = kGroupPrefix + device.id;
    g_key_file_set_string(file.get(), group.c_str(), "name", device.name.c_str());
    g_key_file_set_int64(file.get(), group.c_str(), "paired", device.pairedAt);
    g_key_file_set_string(file.get(), group.c_str(), "key", HexText(device.key).c_str());
  }
  gsize length = 0;
  const Owned<gchar> data(g_key_file_to_data(file.get(), &length, nullptr));
  // Written to a new file that is renamed over the old one, created 0600: a crash leaves the
  // old list or the new one whole, and the keys are never readable by others, even briefly.
  GError* raw = nullptr;
  if (!g_file_set_contents_full(path_.c_str(), data.get(), static_cast<gssize>(length),
                                G_FILE_SET_CONTENTS_CONSISTENT, 0600, &raw)) {
    const Error error(raw);
    LogError("could not keep the paired phones in " + path_ + ": " + error->message);
    return false;
  }
  return true;
}
