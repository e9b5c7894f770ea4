// Replays the summary fuzzer's seeds and every past finding through the fuzzer's own run, so that
// a fixed crash stays fixed in every test run, and checks that the seeds are what the generator
// writes.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "fuzz/netscape_summary_fuzz_run.h"
#include "support/netscape_generated_stores.h"
#include "support/temp_dir.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kFuzzDir = fs::path(KV_SOURCE_DIR) / "tests" / "fuzz";

int RunSeed(const std::string& bytes) {
  return fuzz::RunSummaryFuzzInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
}

TEST(NetscapeFuzzCorpus, SeedsAreWhatTheGeneratorWritesAndListMessages) {
  // Messages per seed: keys 2 and 99 are in no header or no block of "split-keys".
  const std::map<std::string, int> expected = {{"root-leaf", 7},    {"two-levels", 7},
                                               {"three-levels", 7}, {"split-keys", 6},
                                               {"unnamed", 7},      {"counts-zero", 0}};
  for (const auto& [name, bytes] : NsFuzzSeeds()) {
    EXPECT_EQ(ReadFile(kFuzzDir / "corpus" / "netscape_summary_fuzz" / ("seed-" + name)), bytes)
        << name << " differs: run make_netscape_store fuzz-seeds "
        << "tests/fuzz/corpus/netscape_summary_fuzz";
    EXPECT_EQ(RunSeed(bytes), expected.at(name)) << name;
  }
}

TEST(NetscapeFuzzCorpus, SeedsAndPastFindingsRunCleanly) {
  int replayed = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    const fs::path dir = kFuzzDir / folder / "netscape_summary_fuzz";
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      SCOPED_TRACE(entry.path().string());
      EXPECT_GE(RunSeed(ReadFile(entry.path())), 0);
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 6);
}

}  // namespace
}  // namespace kv::testing
