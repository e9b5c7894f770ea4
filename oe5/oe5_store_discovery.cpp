#include "oe5/oe5_store_discovery.h"

#include "platform/text.h"

namespace kv {
namespace {

constexpr const char* kStoreRootValue = "store root";
// Buffer sizes: the identity id's, the value enumeration's name and data, and the expansion's. A
// longer name or larger data ends the enumeration; a longer expansion is not used.
constexpr std::size_t kIdentityBufferSize = 260;
constexpr std::size_t kValueNameBufferSize = 80;
constexpr std::size_t kValueDataBufferSize = 783;
constexpr std::size_t kExpansionBufferSize = 260;

std::string CurrentIdentity(platform::Registry& registry) {
  std::optional<platform::RegistryKey> key = registry.OpenCurrentUserKey(kOe5IdentitiesKey);
  if (!key) return {};
  platform::RegistryValue value;
  std::string identity;
  if (registry.QueryValue(*key, kOe5LastUserValue, kIdentityBufferSize, value) ==
      platform::RegistryResult::kSuccess) {
    identity = value.Text();
  }
  registry.CloseKey(*key);
  return identity;
}

std::string IdentityKey(const std::string& identity) {
  return std::string(kOe5IdentitiesKey) + "\\" + identity + kOe5IdentityKeySuffix;
}

}  // namespace

std::string FindStoreRoot(platform::Registry& registry, platform::Environment& environment) {
  const std::string identity = CurrentIdentity(registry);
  if (identity.empty()) return {};
  std::optional<platform::RegistryKey> key = registry.OpenCurrentUserKey(IdentityKey(identity));
  if (!key) return {};
  std::string root;
  platform::RegistryValue value;
  for (std::uint32_t index = 0;
       registry.EnumValue(*key, index, kValueNameBufferSize, kValueDataBufferSize, value) ==
       platform::RegistryResult::kSuccess;
       ++index) {
    if (platform::ToLowerAscii(value.name) != kStoreRootValue) continue;
    root = value.Text();
    break;
  }
  registry.CloseKey(*key);
  if (root.empty()) return {};

  const std::string expanded = environment.ExpandEnvironmentStrings(root);
  if (!expanded.empty() && expanded.size() < kExpansionBufferSize) root = expanded;
  if (root.ends_with('\\')) root.pop_back();
  return root;
}

}  // namespace kv
