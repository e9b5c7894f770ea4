#pragma once
// A read-only registry kept as Windows NT keeps one (a hive file, or an export text read into
// memory) and answered through the ANSI calls the filters make, as the Win32 registry answers
// them: names match without regard to case, values enumerate in their stored order, subkeys in
// the order of the key's index, and names and string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ)
// are converted from UTF-16 to the system code page before their sizes are weighed against the
// caller's buffers.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/environment.h"
#include "platform/registry.h"

namespace kv::platform {

// The stored side: a tree of keys with UTF-8 names and values as stored. An implementation reads
// foreign data and must answer damage with nullopt or an unreadable value, never by failing hard.
class RegistryTree {
 public:
  using Node = std::uint64_t;
  struct Subkey {
    std::string name;  // UTF-8
    Node node = 0;
  };
  struct StoredValue {
    std::string name;  // UTF-8; "" is the key's default value
    std::uint32_t type = kRegNone;
    std::vector<std::uint8_t> data;  // as stored: string types in UTF-16LE
    bool readable = true;            // false: the value's record or data is damaged
  };

  virtual ~RegistryTree() = default;
  virtual Node Root() = 0;
  // The subkeys of `node` in enumeration order; nullopt when the key's index cannot be read.
  virtual std::optional<std::vector<Subkey>> Subkeys(Node node) = 0;
  // The values of `node` in stored order; nullopt when the key's value list cannot be read.
  virtual std::optional<std::vector<StoredValue>> Values(Node node) = 0;
  // What the tree is read from, for reports ("NTUSER.DAT").
  virtual std::string SourceName() const = 0;
};

// True for the types whose data is text the ANSI calls convert.
bool IsStringType(std::uint32_t type);

// The Registry interface over a RegistryTree. Holds the tree; `code_page` is the old system's
// ANSI code page and must outlive the registry. A subkey index, value list or value that cannot
// be read is reported once through `diagnostics` (when given) and answers as the Win32 calls
// answer damage: the key below does not open, or the call fails with kError.
class StoredRegistry final : public Registry {
 public:
  StoredRegistry(std::unique_ptr<RegistryTree> tree, CodePage& code_page,
                 Diagnostics* diagnostics = nullptr);

  std::optional<RegistryKey> OpenCurrentUserKey(const std::string& subkey) override;
  RegistryResult EnumValue(RegistryKey key, std::uint32_t index, std::size_t name_buffer_size,
                           std::size_t data_buffer_size, RegistryValue& value) override;
  RegistryResult EnumKey(RegistryKey key, std::uint32_t index, std::string& name) override;
  RegistryResult QueryValue(RegistryKey key, const std::string& name, std::size_t data_buffer_size,
                            RegistryValue& value) override;
  void CloseKey(RegistryKey key) override;

  // Keys currently open; a test checks it returns to zero.
  std::size_t OpenKeyCount() const { return open_.size(); }

 private:
  struct OpenKey {
    RegistryTree::Node node = 0;
    std::string path;  // UTF-8, for reports
    std::optional<std::vector<RegistryTree::StoredValue>> values;
    bool values_read = false;
  };
  // The key's values, read on first use; null when the list cannot be read.
  const std::vector<RegistryTree::StoredValue>* ValuesOf(OpenKey& key);
  // A stored value as the ANSI calls return it.
  RegistryValue AsAnsi(const RegistryTree::StoredValue& stored);
  void ReportUnreadable(const std::string& path, const std::string& problem,
                        const std::string& lost);

  std::unique_ptr<RegistryTree> tree_;
  CodePage& code_page_;
  Diagnostics* diagnostics_;
  std::map<RegistryKey, OpenKey> open_;
  RegistryKey next_handle_ = 1;
  std::vector<std::string> reported_;  // damage already reported: key path and problem
};

}  // namespace kv::platform
