#pragma once
// Where the real Outlook Express 5 stores are: ../shared/samples/oe5 beside the repository.

#include <filesystem>
#include <optional>

#include "support/shared_samples.h"

namespace kv::testing {

inline std::filesystem::path Oe5SamplesPath() { return SharedSamplesPath("oe5"); }

// The folder, or nullopt when it is absent (the tests that need it then skip).
inline std::optional<std::filesystem::path> Oe5Samples() {
  if (!SharedSamples("oe5/kde-oe6")) return std::nullopt;
  return Oe5SamplesPath();
}

}  // namespace kv::testing
