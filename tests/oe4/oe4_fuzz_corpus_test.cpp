// Replays the fuzzer's seed corpus and every past finding through the fuzzer's own run, so that a
// fixed crash stays fixed in every test run, and checks that the seeds are what the generator
// writes.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "fuzz/oe4_fuzz_run.h"
#include "support/oe4_generated_stores.h"
#include "support/temp_dir.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kFuzzDir = fs::path(KV_SOURCE_DIR) / "tests" / "fuzz";

int RunSeed(const std::string& bytes) {
  return fuzz::RunOe4FuzzInput(
      fuzz::DecodeOe4FuzzInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TEST(Oe4FuzzCorpus, SeedsAreWhatTheGeneratorWritesAndReachTheMessages) {
  // Items per seed: the messages of every folder that uses the mailbox, the deleted one left out.
  const std::map<std::string, int> expected_items = {
      {"flat", 3},    {"nested-second-layout", 9}, {"sticky-layout", 0},
      {"listing", 3}, {"empty-folder", 1},         {"zero-index-length", 4}};
  for (const auto& [name, bytes] : Oe4FuzzSeeds()) {
    EXPECT_EQ(ReadFile(kFuzzDir / "corpus" / "oe4_fuzz" / ("seed-" + name)), bytes)
        << name << " differs: run make_oe4_store fuzz-seeds tests/fuzz/corpus/oe4_fuzz";
    EXPECT_EQ(RunSeed(bytes), expected_items.at(name)) << name;
  }
}

TEST(Oe4FuzzCorpus, SeedsAndPastFindingsRunCleanly) {
  int replayed = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    const fs::path dir = kFuzzDir / folder / "oe4_fuzz";
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      const std::string bytes = ReadFile(entry.path());
      SCOPED_TRACE(entry.path().string());
      EXPECT_GE(RunSeed(bytes), 0);
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 6);
}

}  // namespace
}  // namespace kv::testing
