#pragma once
// Where the real Outlook Express 5 stores are: ../shared/samples/oe5 beside the repository.

#include <filesystem>
#include <optional>

namespace kv::testing {

inline std::filesystem::path Oe5SamplesPath() {
  return std::filesystem::path(KV_SOURCE_DIR) / ".." / "shared" / "samples" / "oe5";
}

// The folder, or nullopt when it is absent (the tests that need it then skip).
inline std::optional<std::filesystem::path> Oe5Samples() {
  if (!std::filesystem::is_directory(Oe5SamplesPath() / "kde-oe6")) return std::nullopt;
  return Oe5SamplesPath();
}

}  // namespace kv::testing
