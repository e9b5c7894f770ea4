// The bundled sample store and the fuzzer's seeds are what the generator writes, and every seed
// and past finding runs cleanly through the fuzzer's own run. (kvimport's tests import the sample.)

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "fuzz/eudora_fuzz_run.h"
#include "support/eudora_generated_stores.h"
#include "support/fuzz_inputs.h"
#include "support/temp_dir.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

TEST(EudoraSampleStore, BundledFilesAndFuzzSeedsAreWhatTheGeneratorWrites) {
  const fs::path sample_dir = fs::path(KV_SOURCE_DIR) / "samples" / "eudora";
  std::map<std::string, std::string> found;
  for (const fs::path& file : FilesBelow(sample_dir)) {
    const std::string name = fs::relative(file, sample_dir).generic_string();
    if (name != "README.md") found[name] = ReadFile(file);
  }
  EXPECT_EQ(found, EudoraSampleStore().Files()) << "run make_eudora_store sample samples/eudora";
  ReplayFuzzInputs(
      "eudora_fuzz", EudoraFuzzSeeds(),
      {{"plain", 3}, {"parts", 3}, {"separator-mid-line", 3}, {"no-summary-keep-empty", 4}},
      "make_eudora_store", fuzz::RunEudoraFuzz);
}

}  // namespace
}  // namespace kv::testing
