// What the generators write and the tests rely on: each bundled sample store (samples/<filter>/)
// and each fuzzer's seeds are what its generator writes now, every seed and past finding runs
// cleanly through its fuzzer's own run, and kvimport lists every folder, state and message of a
// copy of each sample (tests/golden/<filter>/sample-list.jsonl) without changing the copy.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "fuzz/store_fuzz_runs.h"
#include "platform/fake/fake_environment.h"
#include "support/eudora_generated_stores.h"
#include "support/fuzz_inputs.h"
#include "support/golden.h"
#include "support/kvimport_run.h"
#include "support/netscape_generated_stores.h"
#include "support/oe4_generated_stores.h"
#include "support/oe5_generated_stores.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

// `files` under the names they have on disk.
Files OnDisk(const Files& files, const std::function<std::string(const std::string&)>& name) {
  Files renamed;
  for (const auto& [each, bytes] : files) renamed[name(each)] = bytes;
  return renamed;
}

TEST(GeneratedFiles, SamplesAndSeedsAreWhatTheGeneratorsWriteAndReplayCleanly) {
  platform::Windows1252CodePage code_page;
  const struct {
    const char* filter;  // also the folder below samples/ and tests/golden/
    const char* fuzzer;
    Files sample;
    std::vector<std::pair<std::string, std::string>> seeds;
    std::map<std::string, int> items;  // items per seed
    std::function<int(const std::string&)> run;
  } cases[] = {
      // The messages of every folder that uses the mailbox, the deleted one left out.
      {"oe4",
       "oe4_fuzz",
       Oe4SampleStore().Files(),
       Oe4FuzzSeeds(),
       {{"flat", 3},
        {"nested-second-layout", 9},
        {"sticky-layout", 0},
        {"listing", 3},
        {"empty-folder", 1},
        {"zero-index-length", 4}},
       fuzz::RunOe4Fuzz},
      // The damaged chains give three messages before the record without a size ends the folder;
      // the folder tree gives, from one file of three messages, each folder's count of them (2, 1,
      // 5 cut to 3, 2) and a folder item each, its self-parented folder left out.
      {"oe5",
       "oe5_fuzz",
       OnDisk(Oe5SampleStore().Files(), DbxDiskName),
       Oe5FuzzSeeds(),
       {{"flat", 3},
        {"left-chain", 20},
        {"entry-subtrees", 20},
        {"damaged-chains", 3},
        {"indirect-fields", 2},
        {"folder-tree", 12}},
       fuzz::RunOe5Fuzz},
      // The summary fuzzer counts the messages a summary lists.
      {"netscape",
       "netscape_summary_fuzz",
       OnDisk(NsSampleStore().Files(),
              [&code_page](const std::string& name) { return code_page.ToUtf8(name); }),
       NsFuzzSeeds(),
       {{"root-leaf", 7},
        {"two-levels", 7},
        {"three-levels", 7},
        {"split-keys", 6},
        {"unnamed", 7},
        {"counts-zero", 0}},
       fuzz::RunSummaryFuzz},
      {"eudora",
       "eudora_fuzz",
       EudoraSampleStore().Files(),
       EudoraFuzzSeeds(),
       {{"plain", 3}, {"parts", 3}, {"separator-mid-line", 3}, {"no-summary-keep-empty", 4}},
       fuzz::RunEudoraFuzz},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filter);
    const fs::path sample = fs::path(KV_SOURCE_DIR) / "samples" / c.filter;
    Files found;
    for (const fs::path& file : FilesBelow(sample)) {
      const std::string name = fs::relative(file, sample).generic_string();
      if (name != "README.md") found[name] = ReadFile(file);
    }
    const std::string make = std::string("make_") + c.filter + "_store";
    EXPECT_EQ(found, c.sample) << "run " << make << " sample samples/" << c.filter;
    ReplayFuzzInputs(c.fuzzer, c.seeds, c.items, make, c.run);
    TempDir dir;
    fs::copy(sample, dir.path() / "store", fs::copy_options::recursive);
    ExpectGolden(
        RunKvimportOnStore(dir, std::string("list --filter ") + c.filter + " --keep-empty"),
        std::string(c.filter) + "/sample-list.jsonl");
  }
}

}  // namespace
}  // namespace kv::testing
