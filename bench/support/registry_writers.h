#pragma once
// Writes a user's registry for tests, in the two forms the registry readers take:
// - a hive file: a minimal valid hive built byte by byte (a 4096-byte base block "regf" with its
//   XOR checksum at 0x1FC, one 4096-byte bin "hbin" holding the root key record "nk" and its
//   security record "sk", the rest of the bin one free cell), to which the keys and values are
//   then added through hivex's own write calls;
// - an export text as regedit writes it: "REGEDIT4" in the ANSI code page, or "Windows Registry
//   Editor Version 5.00" in UTF-16LE with a byte order mark, CR LF line ends, "[key]" lines,
//   "name"="text", dword:, hex: and hex(N): values, long hex data wrapped with "\".

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/registry.h"

namespace kv::testing {

inline constexpr std::uint32_t kRegMultiSz = 7;

// Keys and values in the order they are to be created; names and text in UTF-8, data as a hive
// stores it (text types in UTF-16LE with their terminating NUL).
struct RegistryContent {
  struct Value {
    std::string name;
    std::uint32_t type = platform::kRegNone;
    std::vector<std::uint8_t> data;
  };
  struct Key {
    std::string path;  // below HKEY_CURRENT_USER, "\" between levels
    std::vector<Value> values;
  };

  RegistryContent& AddKey(const std::string& path);
  RegistryContent& SetValue(const std::string& path, const std::string& name, std::uint32_t type,
                            std::vector<std::uint8_t> data);
  RegistryContent& SetString(const std::string& path, const std::string& name,
                             const std::string& text, std::uint32_t type = platform::kRegSz);
  RegistryContent& SetDword(const std::string& path, const std::string& name, std::uint32_t number);

  std::vector<Key> keys;
};

// The non-empty parts of a Windows path or key path between backslashes.
std::vector<std::string> PathParts(const std::string& path);

// Text as a hive stores it: UTF-16LE with a terminating NUL.
std::vector<std::uint8_t> StoredText(const std::string& utf8);

// The bytes of the minimal hive: base block, one bin, an empty root key. `root_name` is the root
// key's name.
std::string MinimalHive(const std::string& root_name = "$$$PROTO.HIV");

// Writes `content` as a hive file at `file`; throws std::runtime_error when hivex refuses.
void WriteHive(const std::filesystem::path& file, const RegistryContent& content);

enum class ExportFormat { kRegedit4, kRegedit5 };

// The export text of `content` with its keys under `root` ("HKEY_CURRENT_USER", or
// "HKEY_USERS\Old" for a hive loaded by hand). REGEDIT4 writes text in `code_page`.
std::string RegistryExportText(const RegistryContent& content, ExportFormat format,
                               platform::CodePage& code_page,
                               const std::string& root = "HKEY_CURRENT_USER");

}  // namespace kv::testing
