// The bundled sample mail directory and the summary fuzzer's seeds are what the generator writes,
// the fuzzer's inputs replay cleanly, and kvimport lists every message of the sample.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "fuzz/netscape_summary_fuzz_run.h"
#include "platform/fake/fake_environment.h"
#include "support/fuzz_inputs.h"
#include "support/golden.h"
#include "support/kvimport_run.h"
#include "support/netscape_generated_stores.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kSampleDir = fs::path(KV_SOURCE_DIR) / "samples" / "netscape";

// Messages per fuzz seed.
TEST(NetscapeGeneratedFiles, SampleAndFuzzSeedsAreWhatTheGeneratorWritesAndReplayCleanly) {
  platform::Windows1252CodePage code_page;
  std::map<std::string, std::string> expected, found;
  for (const auto& [name, bytes] : NsSampleStore().Files())
    expected[code_page.ToUtf8(name)] = bytes;
  for (const fs::path& file : FilesBelow(kSampleDir)) {
    const std::string name = fs::relative(file, kSampleDir).string();
    if (name != "README.md") found[name] = ReadFile(file);
  }
  EXPECT_EQ(found, expected) << "run make_netscape_store sample samples/netscape";
  const std::map<std::string, int> items = {{"root-leaf", 7},    {"two-levels", 7},
                                            {"three-levels", 7}, {"split-keys", 6},
                                            {"unnamed", 7},      {"counts-zero", 0}};
  ReplayFuzzInputs("netscape_summary_fuzz", NsFuzzSeeds(), items, "make_netscape_store",
                   fuzz::RunSummaryFuzz);
}

// Every folder, state and message of the sample arrives, and the store keeps its bytes and
// modification times.
TEST(NetscapeSampleStore, KvimportListsEveryFolderStateAndMessage) {
  TempDir dir;
  fs::copy(kSampleDir, dir.path() / "store", fs::copy_options::recursive);
  ExpectGolden(RunKvimportOnStore(dir, "list --filter netscape --keep-empty"),
               "netscape/sample-list.jsonl");
}

}  // namespace
}  // namespace kv::testing
