// Replays the fuzzer's seed corpus and every past finding through the fuzzer's own run, so that a
// fixed crash stays fixed in every test run, and checks that the seeds are what the generator
// writes.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/oe4_fuzz_run.h"
#include "support/oe4_generated_stores.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kFuzzDir = fs::path(KV_SOURCE_DIR) / "tests" / "fuzz";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Oe4FuzzCorpus, SeedsAreWhatTheGeneratorWrites) {
  for (const auto& [name, bytes] : Oe4FuzzSeeds()) {
    EXPECT_EQ(ReadAll(kFuzzDir / "corpus" / "oe4_fuzz" / ("seed-" + name)), bytes)
        << name << " differs: run make_oe4_store fuzz-seeds tests/fuzz/corpus/oe4_fuzz";
  }
}

TEST(Oe4FuzzCorpus, SeedsAndPastFindingsRunCleanly) {
  int replayed = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    const fs::path dir = kFuzzDir / folder / "oe4_fuzz";
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      const std::string bytes = ReadAll(entry.path());
      SCOPED_TRACE(entry.path().string());
      EXPECT_TRUE(fuzz::RunOe4FuzzInput(fuzz::DecodeOe4FuzzInput(
          reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())));
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 6);
}

}  // namespace
}  // namespace kv::testing
