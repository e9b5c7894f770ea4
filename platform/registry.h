#pragma once
// Reading the current user's registry (HKEY_CURRENT_USER). Keys are only read, never written.
// The Windows implementation wraps RegOpenKeyExA and friends; elsewhere a MemoryRegistry stands in,
// empty unless the host loads one, and tests fill it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv::platform {

enum RegistryType : std::uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
};

enum class RegistryResult {
  kSuccess,
  kNoMoreItems,  // the index is past the last value
  kMoreData,     // the name or the data does not fit the caller's buffer
  kNotFound,
  kError,
};

struct RegistryValue {
  std::string name;
  std::uint32_t type = kRegNone;
  std::vector<std::uint8_t> data;  // as stored; a string value includes its terminating NUL
  // For kMoreData from QueryValue: the size the data needs.
  std::size_t required_size = 0;

  // The data read as text: the bytes up to the first NUL.
  std::string Text() const;
};

using RegistryKey = std::uintptr_t;

class Registry {
 public:
  virtual ~Registry() = default;
  // Opens HKEY_CURRENT_USER\<subkey> for reading ("\" separates levels, case-insensitive).
  virtual std::optional<RegistryKey> OpenCurrentUserKey(const std::string& subkey) = 0;
  // RegEnumValueA: the value at `index` in the key's order. `name_buffer_size` counts the name's
  // characters plus its terminating NUL; `data_buffer_size` counts data bytes. A value whose name
  // or data does not fit fails the call with kMoreData.
  virtual RegistryResult EnumValue(RegistryKey key, std::uint32_t index,
                                   std::size_t name_buffer_size, std::size_t data_buffer_size,
                                   RegistryValue& value) = 0;
  // RegEnumKeyExA: the name of the subkey at `index`.
  virtual RegistryResult EnumKey(RegistryKey key, std::uint32_t index, std::string& name) = 0;
  // RegQueryValueExA: the value `name` ("" is the default value). When the data does not fit
  // `data_buffer_size`, kMoreData with `required_size` set.
  virtual RegistryResult QueryValue(RegistryKey key, const std::string& name,
                                    std::size_t data_buffer_size, RegistryValue& value) = 0;
  virtual void CloseKey(RegistryKey key) = 0;
};

// A registry held in memory: the fake for tests and the Linux registry. Keys keep their values in
// insertion order, as a real registry enumerates them in creation order.
class MemoryRegistry final : public Registry {
 public:
  // Creates the key path as needed and sets a value of any type.
  void SetValue(const std::string& subkey, const std::string& name, std::uint32_t type,
                std::vector<std::uint8_t> data);
  void SetString(const std::string& subkey, const std::string& name, const std::string& text,
                 std::uint32_t type = kRegSz);
  void SetDword(const std::string& subkey, const std::string& name, std::uint32_t number);
  // Keys currently open; a test checks it returns to zero (keys are closed right after use).
  std::size_t OpenKeyCount() const { return open_.size(); }

  std::optional<RegistryKey> OpenCurrentUserKey(const std::string& subkey) override;
  RegistryResult EnumValue(RegistryKey key, std::uint32_t index, std::size_t name_buffer_size,
                           std::size_t data_buffer_size, RegistryValue& value) override;
  RegistryResult EnumKey(RegistryKey key, std::uint32_t index, std::string& name) override;
  RegistryResult QueryValue(RegistryKey key, const std::string& name, std::size_t data_buffer_size,
                            RegistryValue& value) override;
  void CloseKey(RegistryKey key) override;

 private:
  struct Node {
    std::vector<RegistryValue> values;
    std::vector<std::pair<std::string, std::unique_ptr<Node>>> children;
  };
  Node* Find(const std::string& subkey, bool create);

  Node root_;
  std::map<RegistryKey, Node*> open_;
  RegistryKey next_handle_ = 1;
};

}  // namespace kv::platform
