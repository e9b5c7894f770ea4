#pragma once
// One run of the registry export fuzzer, shared with the test that replays the seed corpus and
// past findings: the bytes are parsed as a .reg file and, when they give a registry, every key
// and value is read through the ANSI calls as the filters read them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fake/fake_environment.h"
#include "platform/registry_export.h"
#include "platform/stored_registry.h"

namespace kv::fuzz {

inline constexpr std::size_t kRegistryFuzzNameBuffer = 80;
inline constexpr std::size_t kRegistryFuzzDataBuffer = 783;
inline constexpr std::size_t kRegistryFuzzStringBuffer = 260;
inline constexpr int kRegistryFuzzMaxDepth = 8;
inline constexpr std::uint32_t kRegistryFuzzMaxItems = 256;

// Keys and values read below `path`. A name the code page cannot spell does not open through the
// ANSI calls, as on Windows, and is passed over.
inline int WalkRegistry(platform::StoredRegistry& registry, const std::string& path, int depth) {
  std::optional<platform::RegistryKey> key = registry.OpenCurrentUserKey(path);
  if (!key) return 0;
  int seen = 1;
  platform::RegistryValue value;
  for (std::uint32_t i = 0; i < kRegistryFuzzMaxItems; ++i) {
    platform::RegistryResult result =
        registry.EnumValue(*key, i, kRegistryFuzzNameBuffer, kRegistryFuzzDataBuffer, value);
    if (result == platform::RegistryResult::kNoMoreItems) break;
    if (result != platform::RegistryResult::kSuccess) continue;
    ++seen;
    registry.QueryValue(*key, value.name, kRegistryFuzzStringBuffer, value);
  }
  std::vector<std::string> children;
  std::string name;
  for (std::uint32_t i = 0; i < kRegistryFuzzMaxItems &&
                            registry.EnumKey(*key, i, name) == platform::RegistryResult::kSuccess;
       ++i) {
    children.push_back(name);
  }
  registry.CloseKey(*key);
  if (depth == 0) return seen;
  for (const std::string& child : children) {
    seen += WalkRegistry(registry, path.empty() ? child : path + "\\" + child, depth - 1);
  }
  return seen;
}

// Keys and values read; 0 when the bytes are no export; -1 when a key stayed open.
inline int RunRegistryExportFuzz(std::string_view bytes) {
  platform::Windows1252CodePage code_page;
  platform::RegistryExport parsed = platform::ParseRegistryExport(
      ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), code_page,
      "fuzz.reg");
  if (!parsed.tree) return 0;
  platform::StoredRegistry registry(std::move(parsed.tree), code_page);
  int seen = WalkRegistry(registry, "", kRegistryFuzzMaxDepth);
  return registry.OpenKeyCount() == 0 ? seen : -1;
}

}  // namespace kv::fuzz
