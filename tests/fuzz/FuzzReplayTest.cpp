// Runs the fuzz target in every build, without libFuzzer: over the stored corpus, over every
// single byte in every client behaviour, and over generated inputs from a fixed seed.

#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
void RunInput(const std::vector<uint8_t>& input) {
  LLVMFuzzerTestOneInput(input.data(), input.size());
}
}  // namespace

TEST(ClientBytesFuzz, StoredCorpus) {
  DIR* dir = opendir(QUAVIX_FUZZ_CORPUS);
  ASSERT_NE(dir, nullptr);
  int files = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream file(std::string(QUAVIX_FUZZ_CORPUS) + "/" + entry->d_name, std::ios::binary);
    RunInput(std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {}));
    ++files;
  }
  closedir(dir);
  EXPECT_GT(files, 0);
}

TEST(ClientBytesFuzz, EverySingleByteInEveryBehaviour) {
  for (int how = 0; how < 16; ++how) {
    for (int byte = 0; byte < 256; byte += how < 4 ? 1 : 17) {
      RunInput({static_cast<uint8_t>(how), static_cast<uint8_t>(byte)});
    }
  }
}

TEST(ClientBytesFuzz, GeneratedInputs) {
  std::mt19937 random(20261207);
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> input(1 + random() % 48);
    for (uint8_t& byte : input) {
      // Mostly states and keep-alives, so that runs reach deep before an invalid byte.
      const unsigned pick = random() % 10;
      byte = pick < 6   ? static_cast<uint8_t>(random() % 101 | (random() % 2) << 7)
             : pick < 8 ? 0xFF
                        : static_cast<uint8_t>(random());
    }
    RunInput(input);
  }
}
