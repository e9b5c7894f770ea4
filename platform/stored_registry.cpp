#include "platform/stored_registry.h"

#include <algorithm>

#include "platform/unicode_text.h"

namespace kv::platform {
namespace {

constexpr std::uint32_t kRegMultiSz = 7;

std::vector<std::string> KeyPathComponents(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

}  // namespace

bool IsStringType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

StoredRegistry::StoredRegistry(std::unique_ptr<RegistryTree> tree, CodePage& code_page,
                               Diagnostics* diagnostics)
    : tree_(std::move(tree)), code_page_(code_page), diagnostics_(diagnostics) {}

std::optional<RegistryKey> StoredRegistry::OpenCurrentUserKey(const std::string& subkey) {
  RegistryTree::Node node = tree_->Root();
  std::string path;
  for (const std::string& part : KeyPathComponents(code_page_.ToUtf8(subkey))) {
    std::optional<std::vector<RegistryTree::Subkey>> children = tree_->Subkeys(node);
    if (!children) {
      ReportUnreadable(path, "the list of subkeys cannot be read", "its subkeys");
      return std::nullopt;
    }
    auto found = std::find_if(children->begin(), children->end(), [&](const auto& child) {
      return RegistryNamesEqual(child.name, part);
    });
    if (found == children->end()) return std::nullopt;
    node = found->node;
    path += (path.empty() ? "" : "\\") + found->name;
  }
  RegistryKey handle = next_handle_++;
  open_[handle] = OpenKey{node, path, std::nullopt, false};
  return handle;
}

const std::vector<RegistryTree::StoredValue>* StoredRegistry::ValuesOf(OpenKey& key) {
  if (!key.values_read) {
    key.values = tree_->Values(key.node);
    key.values_read = true;
    if (!key.values) ReportUnreadable(key.path, "the list of values cannot be read", "its values");
  }
  return key.values ? &*key.values : nullptr;
}

RegistryValue StoredRegistry::AsAnsi(const RegistryTree::StoredValue& stored) {
  RegistryValue value;
  value.name = code_page_.FromUtf8(stored.name);
  value.type = stored.type;
  if (IsStringType(stored.type)) {
    std::string text = code_page_.FromUtf8(Utf16leToUtf8(ByteView(stored.data)));
    value.data.assign(text.begin(), text.end());
  } else {
    value.data = stored.data;
  }
  return value;
}

RegistryResult StoredRegistry::EnumValue(RegistryKey key, std::uint32_t index,
                                         std::size_t name_buffer_size, std::size_t data_buffer_size,
                                         RegistryValue& value) {
  auto it = open_.find(key);
  if (it == open_.end()) return RegistryResult::kError;
  const std::vector<RegistryTree::StoredValue>* values = ValuesOf(it->second);
  if (values == nullptr) return RegistryResult::kError;
  if (index >= values->size()) return RegistryResult::kNoMoreItems;
  const RegistryTree::StoredValue& stored = (*values)[index];
  if (!stored.readable) {
    ReportUnreadable(it->second.path, "value \"" + stored.name + "\" cannot be read",
                     "the values from this one on");
    return RegistryResult::kError;
  }
  RegistryValue ansi = AsAnsi(stored);
  // The name buffer counts the terminating NUL too.
  if (ansi.name.size() >= name_buffer_size || ansi.data.size() > data_buffer_size) {
    return RegistryResult::kMoreData;
  }
  value = std::move(ansi);
  return RegistryResult::kSuccess;
}

RegistryResult StoredRegistry::EnumKey(RegistryKey key, std::uint32_t index, std::string& name) {
  auto it = open_.find(key);
  if (it == open_.end()) return RegistryResult::kError;
  std::optional<std::vector<RegistryTree::Subkey>> children = tree_->Subkeys(it->second.node);
  if (!children) {
    ReportUnreadable(it->second.path, "the list of subkeys cannot be read", "its subkeys");
    return RegistryResult::kError;
  }
  if (index >= children->size()) return RegistryResult::kNoMoreItems;
  name = code_page_.FromUtf8((*children)[index].name);
  return RegistryResult::kSuccess;
}

RegistryResult StoredRegistry::QueryValue(RegistryKey key, const std::string& name,
                                          std::size_t data_buffer_size, RegistryValue& value) {
  auto it = open_.find(key);
  if (it == open_.end()) return RegistryResult::kError;
  const std::vector<RegistryTree::StoredValue>* values = ValuesOf(it->second);
  if (values == nullptr) return RegistryResult::kError;
  const std::string wanted = code_page_.ToUtf8(name);
  auto found = std::find_if(values->begin(), values->end(), [&](const auto& stored) {
    return RegistryNamesEqual(stored.name, wanted);
  });
  if (found == values->end()) return RegistryResult::kNotFound;
  if (!found->readable) {
    ReportUnreadable(it->second.path, "value \"" + found->name + "\" cannot be read", "the value");
    return RegistryResult::kError;
  }
  RegistryValue ansi = AsAnsi(*found);
  if (ansi.data.size() > data_buffer_size) {
    value.required_size = ansi.data.size();
    return RegistryResult::kMoreData;
  }
  value = std::move(ansi);
  return RegistryResult::kSuccess;
}

void StoredRegistry::CloseKey(RegistryKey key) { open_.erase(key); }

void StoredRegistry::ReportUnreadable(const std::string& path, const std::string& problem,
                                      const std::string& lost) {
  if (diagnostics_ == nullptr) return;
  const std::string what = path + "\n" + problem;
  if (std::find(reported_.begin(), reported_.end(), what) != reported_.end()) return;
  reported_.push_back(what);
  Diagnostic diagnostic;
  diagnostic.file = code_page_.FromUtf8(tree_->SourceName());
  diagnostic.problem =
      code_page_.FromUtf8("registry key \"" + (path.empty() ? "(root)" : path) + "\": " + problem);
  diagnostic.lost = lost;
  diagnostics_->Report(diagnostic);
}

}  // namespace kv::platform
