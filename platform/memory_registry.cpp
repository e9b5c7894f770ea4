#include <algorithm>

#include "platform/registry.h"
#include "platform/text.h"

namespace kv::platform {
namespace {

std::vector<std::string> SplitKeyPath(const std::string& subkey) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : subkey) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

}  // namespace

MemoryRegistry::Node* MemoryRegistry::Find(const std::string& subkey, bool create) {
  Node* node = &root_;
  for (const std::string& part : SplitKeyPath(subkey)) {
    auto it = std::find_if(node->children.begin(), node->children.end(), [&](const auto& child) {
      return EqualsIgnoringCase(child.first, part);
    });
    if (it != node->children.end()) {
      node = it->second.get();
    } else if (create) {
      node->children.emplace_back(part, std::make_unique<Node>());
      node = node->children.back().second.get();
    } else {
      return nullptr;
    }
  }
  return node;
}

void MemoryRegistry::SetValue(const std::string& subkey, const std::string& name,
                              std::uint32_t type, std::vector<std::uint8_t> data) {
  Node* node = Find(subkey, true);
  auto it = std::find_if(node->values.begin(), node->values.end(),
                         [&](const RegistryValue& v) { return EqualsIgnoringCase(v.name, name); });
  RegistryValue value{name, type, std::move(data), 0};
  if (it != node->values.end()) {
    *it = std::move(value);
  } else {
    node->values.push_back(std::move(value));
  }
}

void MemoryRegistry::SetString(const std::string& subkey, const std::string& name,
                               const std::string& text, std::uint32_t type) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  SetValue(subkey, name, type, std::move(data));
}

void MemoryRegistry::SetDword(const std::string& subkey, const std::string& name,
                              std::uint32_t number) {
  SetValue(subkey, name, kRegDword,
           {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)});
}

std::optional<RegistryKey> MemoryRegistry::OpenCurrentUserKey(const std::string& subkey) {
  Node* node = Find(subkey, false);
  if (node == nullptr) return std::nullopt;
  RegistryKey handle = next_handle_++;
  open_[handle] = node;
  return handle;
}

RegistryResult MemoryRegistry::EnumValue(RegistryKey key, std::uint32_t index,
                                         std::size_t name_buffer_size, std::size_t data_buffer_size,
                                         RegistryValue& value) {
  auto it = open_.find(key);
  if (it == open_.end()) return RegistryResult::kError;
  const std::vector<RegistryValue>& values = it->second->values;
  if (index >= values.size()) return RegistryResult::kNoMoreItems;
  const RegistryValue& stored = values[index];
  if (stored.name.size() + 1 > name_buffer_size || stored.data.size() > data_buffer_size) {
    return RegistryResult::kMoreData;
  }
  value = stored;
  return RegistryResult::kSuccess;
}

RegistryResult MemoryRegistry::EnumKey(RegistryKey key, std::uint32_t index, std::string& name) {
  auto it = open_.find(key);
  if (it == open_.end()) return RegistryResult::kError;
  const auto& children = it->second->children;
  if (index >= children.size()) return RegistryResult::kNoMoreItems;
  name = children[index].first;
  return RegistryResult::kSuccess;
}

RegistryResult MemoryRegistry::QueryValue(RegistryKey key, const std::string& name,
                                          std::size_t data_buffer_size, RegistryValue& value) {
  auto it = open_.find(key);
  if (it == open_.end()) return RegistryResult::kError;
  const std::vector<RegistryValue>& values = it->second->values;
  auto found = std::find_if(values.begin(), values.end(), [&](const RegistryValue& v) {
    return EqualsIgnoringCase(v.name, name);
  });
  if (found == values.end()) return RegistryResult::kNotFound;
  if (found->data.size() > data_buffer_size) {
    value.required_size = found->data.size();
    return RegistryResult::kMoreData;
  }
  value = *found;
  return RegistryResult::kSuccess;
}

void MemoryRegistry::CloseKey(RegistryKey key) { open_.erase(key); }

}  // namespace kv::platform
