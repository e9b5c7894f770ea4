#pragma once
// Expected outputs kept as files below tests/golden/: what a whole store gives (its folders, items,
// states, message digests, diagnostics) reads and reviews better as a file than as a page of
// assertions. Run the tests with KV_UPDATE_GOLDEN=1 to rewrite the files from what the code gives
// now, then read the diff before committing it: the file is the expectation.

#include <gtest/gtest.h>

#include <cstdio>
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

// Bytes as a golden file shows them: printable ASCII as it is, other bytes as \xNN, and a run of
// eight or more of one byte as <count*byte>.
inline std::string EscapedBytes(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0, run = 1; i < bytes.size(); i += run, run = 1) {
    while (i + run < bytes.size() && bytes[i + run] == bytes[i]) ++run;
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    char one[8];
    std::snprintf(one, sizeof one, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
    if (run >= 8) {
      out += "<" + std::to_string(run) + "*" + one + ">";
    } else {
      for (std::size_t k = 0; k < run; ++k) out += one;
    }
  }
  return out;
}

}  // namespace kv::testing
