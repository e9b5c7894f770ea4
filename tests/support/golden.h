#pragma once
// Expected outputs kept as files below tests/golden/: what a whole store gives (its folders, items,
// states, message digests, diagnostics) reads and reviews better as a file than as a page of
// assertions. Run the tests with KV_UPDATE_GOLDEN=1 to rewrite the files from what the code gives
// now, then read the diff before committing it: the file is the expectation.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "support/temp_dir.h"

namespace kv::testing {

inline std::filesystem::path GoldenPath(std::string_view name) {
  return std::filesystem::path(KV_SOURCE_DIR) / "tests" / "golden" / name;
}

// Checks `actual` against tests/golden/`name`; a missing file fails unless KV_UPDATE_GOLDEN is set.
inline void ExpectGolden(const std::string& actual, std::string_view name) {
  const std::filesystem::path path = GoldenPath(name);
  if (const char* update = std::getenv("KV_UPDATE_GOLDEN"); update && *update == '1') {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  ASSERT_TRUE(std::filesystem::is_regular_file(path)) << "no golden file " << path;
  EXPECT_EQ(actual, ReadFile(path)) << "differs from " << path;
}

}  // namespace kv::testing
