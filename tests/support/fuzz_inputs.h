#pragma once
// Replays a fuzz target's inputs kept in the repository (the seed corpus in
// tests/fuzz/corpus/<target>/ and past findings in tests/fuzz/regressions/<target>/) through the
// target's own run, so that a fixed crash stays fixed in every test run.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace kv::testing {

// Checks that the seed files are `seeds` (name -> bytes, as the generator `make` writes them),
// then runs every seed and past finding: each must run cleanly (`run` >= 0), and the seed
// "seed-<name>" must give items.at(name) items.
inline void ReplayFuzzInputs(const std::string& target,
                             const std::vector<std::pair<std::string, std::string>>& seeds,
                             std::map<std::string, int> items, const std::string& make,
                             const std::function<int(const std::string&)>& run) {
  const std::filesystem::path dir = std::filesystem::path(KV_SOURCE_DIR) / "tests" / "fuzz";
  for (const auto& [name, bytes] : seeds) {
    EXPECT_EQ(ReadFile(dir / "corpus" / target / ("seed-" + name)), bytes)
        << name << " differs: run " << make << " fuzz-seeds tests/fuzz/corpus/" << target;
  }
  for (const char* folder : {"corpus", "regressions"}) {
    for (const std::filesystem::path& file : FilesBelow(dir / folder / target)) {
      const int ran = run(ReadFile(file));
      std::string name = file.filename().string();
      if (name.starts_with("seed-")) name.erase(0, 5);
      const bool seed = folder == std::string("corpus") && items.contains(name);
      EXPECT_EQ(ran, seed ? items[name] : std::max(ran, 0)) << file;
      if (seed) items.erase(name);
    }
  }
  EXPECT_TRUE(items.empty()) << items.size() << " seeds with an item count are missing";
}

}  // namespace kv::testing
