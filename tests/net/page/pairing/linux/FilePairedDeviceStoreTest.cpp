// The paired phones' file: kept across restarts, the user's alone, replaced whole, and a
// damaged record costs only itself.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fakes/CapturedLog.h"
#include "net/page/pairing/linux/FilePairedDeviceStore.h"
#include "support/linux/TempTree.h"

namespace fs = std::filesystem;

namespace {

mode_t Mode(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

PairedDevice Phone(char digit, std::string name) {
  return {std::string(16, digit), Bytes(32, static_cast<uint8_t>(digit)), std::move(name),
          1718000000 + digit};
}

TEST(FilePairedDeviceStore, KeepsPhonesForTheUserAloneAcrossRestarts) {
  TempTree root;
  const fs::path folder = fs::path(root.Path()) / "config/quavix";
  FilePairedDeviceStore store(folder.string());
  EXPECT_EQ(store.Load(), std::vector<PairedDevice>{}) << "nothing kept yet";
  EXPECT_FALSE(fs::exists(folder)) << "reading makes nothing";

  const std::vector<PairedDevice> phones{Phone('1', "Chrome on Android"),
                                         Phone('2', "Safari on iPhone \"work\" = [x]")};
  ASSERT_TRUE(store.Save(phones));
  const fs::path file = folder / FilePairedDeviceStore::kFileName;
  EXPECT_EQ(Mode(file), 0600u);
  EXPECT_EQ(Mode(folder), 0700u);
  EXPECT_EQ(FilePairedDeviceStore(folder.string()).Load(), phones);

  ASSERT_TRUE(store.Save({phones[1]}));
  EXPECT_EQ(store.Load(), std::vector<PairedDevice>{phones[1]});
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
      << "replaced by renaming: no file left beside it";

  // A file opened to others by hand is closed again when it is read.
  fs::permissions(file, fs::perms::others_read | fs::perms::group_read, fs::perm_options::add);
  EXPECT_TRUE(store.Load());
  EXPECT_EQ(Mode(file), 0600u);
}

TEST(FilePairedDeviceStore, ADamagedRecordIsLeftOutAndAnUnreadableFileReported) {
  TempTree root;
  FilePairedDeviceStore store(fs::path(root.Path()).string());
  const PairedDevice good = Phone('3', "Firefox on Linux");
  ASSERT_TRUE(store.Save({good}));
  const fs::path file = fs::path(root.Path()) / FilePairedDeviceStore::kFileName;
  std::ofstream(file, std::ios::app)
      << "[phone 0123]\nname=short id\npaired=1\nkey=" << std::string(64, 'a') << "\n"
      << "[phone 4444444444444444]\nname=short key\npaired=1\nkey=abcd\n"
      << "[phone 5555555555555555]\npaired=1\nkey=" << std::string(64, 'a') << "\n"
      << "[something else]\nname=x\n";
  CapturedLog log;
  EXPECT_EQ(store.Load(), std::vector<PairedDevice>{good});
  EXPECT_EQ(log.Lines().size(), 4u);

  std::ofstream(file) << "this is [not a key file\n";
  EXPECT_FALSE(store.Load());
  fs::remove(file);
  fs::create_directory(file);
  EXPECT_FALSE(store.Load()) << "a folder in its place";
  EXPECT_FALSE(store.Save({good}));
}

TEST(FilePairedDeviceStore, AFolderThatCannotBeMadeFailsTheSave) {
  TempTree root;
  std::ofstream(fs::path(root.Path()) / "file") << "in the way";
  FilePairedDeviceStore store((fs::path(root.Path()) / "file/quavix").string());
  CapturedLog log;
  EXPECT_FALSE(store.Save({Phone('6', "Edge on Windows")}));
  EXPECT_EQ(log.Lines().size(), 1u);
}

}  // namespace
