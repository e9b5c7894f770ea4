#pragma once
// The real stores the mail clients wrote, kept beside the repository (../shared/samples from its
// root) rather than in it. Every test that reads them finds them here, and skips where they are
// absent:
//
//   const auto store = kv::testing::SharedSamples("oe5/kde-oe6");
//   if (!store) GTEST_SKIP() << "no real samples at " << kv::testing::SharedSamplesPath("oe5");

#include <filesystem>
#include <optional>
#include <string_view>

namespace kv::testing {

// ../shared/samples/`relative`, whether it exists or not. Needs KV_SOURCE_DIR (the test program
// defines it).
inline std::filesystem::path SharedSamplesPath(std::string_view relative = {}) {
  return std::filesystem::path(KV_SOURCE_DIR).parent_path() / "shared" / "samples" / relative;
}

// The same path when it exists (a folder or a file); nullopt when it does not.
inline std::optional<std::filesystem::path> SharedSamples(std::string_view relative) {
  std::filesystem::path path = SharedSamplesPath(relative);
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return std::nullopt;
  return path;
}

}  // namespace kv::testing
