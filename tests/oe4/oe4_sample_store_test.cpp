// The bundled sample store and the fuzzer's seeds are what the generator writes, the fuzzer's
// inputs replay cleanly, and kvimport lists a copy of the sample from a real folder without
// changing it.

#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/oe4_fuzz_run.h"
#include "support/fuzz_inputs.h"
#include "support/golden.h"
#include "support/kvimport_run.h"
#include "support/oe4_generated_stores.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kSampleDir = fs::path(KV_SOURCE_DIR) / "samples" / "oe4";

// Items per fuzz seed: the messages of every folder that uses the mailbox, the deleted one left
// out.
TEST(Oe4SampleStore, SampleAndFuzzSeedsAreWhatTheGeneratorWritesAndReplayCleanly) {
  const std::map<std::string, std::string> expected = Oe4SampleStore().Files();
  for (const auto& [name, bytes] : expected) {
    EXPECT_EQ(ReadFile(kSampleDir / name), bytes) << name << " differs: run make_oe4_store sample";
  }
  for (const auto& entry : fs::directory_iterator(kSampleDir)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "README.md" || expected.count(name) == 1) << "unexpected " << name;
  }
  const std::map<std::string, int> items = {{"flat", 3},          {"nested-second-layout", 9},
                                            {"sticky-layout", 0}, {"listing", 3},
                                            {"empty-folder", 1},  {"zero-index-length", 4}};
  ReplayFuzzInputs("oe4_fuzz", Oe4FuzzSeeds(), items, "make_oe4_store", fuzz::RunOe4Fuzz);
}

// Every folder and state arrives (the empty folder as a folder item, the Windows-1252 name in
// UTF-8, the deleted record left out), and the store keeps its bytes and modification times.
TEST(Oe4SampleStore, KvimportListsEveryFolderAndStateAndChangesNothing) {
  TempDir dir;
  fs::copy(kSampleDir, dir.path() / "store");
  ExpectGolden(RunKvimportOnStore(dir, "list --filter oe4 --keep-empty"), "oe4/sample-list.jsonl");
}

}  // namespace
}  // namespace kv::testing
