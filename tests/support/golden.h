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
#include <optional>
#include <string>
#include <string_view>

#include "support/temp_dir.h"

namespace kv::testing {

// Checks `actual` against tests/golden/`name`; a missing file fails unless KV_UPDATE_GOLDEN is set.
inline void ExpectGolden(const std::string& actual, std::string_view name) {
  const std::filesystem::path path = std::filesystem::path(KV_SOURCE_DIR) / "tests/golden" / name;
  if (const char* update = std::getenv("KV_UPDATE_GOLDEN"); update && *update == '1') {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  ASSERT_TRUE(std::filesystem::is_regular_file(path)) << "no golden file " << path;
  EXPECT_EQ(actual, ReadFile(path)) << "differs from " << path;
}

// `bytes` as readable text for a golden file: printable ASCII and whole UTF-8 sequences as they
// are, \r, \t and \0 as C escapes, any other byte as \xnn, and a run of 64 or more of one byte
// as <count*byte>. Without `indent` a line feed shows as \n and the text is one line. With it the
// text keeps its lines, each begins with `indent`, and a last line without its line feed ends
// with "\ no LF" and a line end.
inline std::string Escaped(std::string_view bytes, std::optional<std::string_view> indent = {}) {
  const auto one = [&](unsigned char c) -> std::string {
    if (c >= 0x20 && c < 0x7F) return std::string(1, static_cast<char>(c));
    if (c == '\n') return indent ? "\n" : "\\n";
    if (c == '\r' || c == '\t' || c == '\0') return c == '\r' ? "\\r" : c == '\t' ? "\\t" : "\\0";
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    return hex;
  };
  std::string text;
  bool line_start = true;
  for (std::size_t i = 0, step = 1; i < bytes.size(); i += step, step = 1) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (indent && line_start) text += *indent;
    line_start = c == '\n';
    while (i + step < bytes.size() && bytes[i + step] == bytes[i]) ++step;
    if (step >= 64 && !(indent && line_start)) {
      text += "<" + std::to_string(step) + "*" + one(c) + ">";
      continue;
    }
    // A UTF-8 lead byte followed by all of its continuation bytes stays as it is.
    step = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 1;
    for (std::size_t k = 1; k < step; ++k) {
      if (i + k >= bytes.size() || (static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80)
        step = 1;
    }
    text += step > 1 ? std::string(bytes.substr(i, step)) : one(c);
  }
  if (indent && !line_start) text += "\\ no LF\n";
  return text;
}

}  // namespace kv::testing
