#pragma once
// A Windows profile file (".ini") read the way GetPrivateProfileStringA and GetPrivateProfileIntA
// read it, through the file system layer so that a store copied to another machine is read the
// same way.
//
// "[Section]" lines open a section; "key=value" lines inside it give values. Section and key names
// are compared without regard to ASCII case and with surrounding blanks removed; a value loses its
// surrounding blanks and, when it is quoted at both ends with the same quote character, the quotes.
// The first section of a name and, inside it, the first key of a name count. Anything else (lines
// without "=", text before the first section) is passed over. A missing or unreadable file reads as
// empty, so every lookup gives its default.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_system.h"

namespace kv {

class ProfileFile {
 public:
  // Lines longer than this are cut; a profile file is small, and a damaged one cannot make the
  // reader hold more than this per line.
  static constexpr std::size_t kMaxLineLength = 64 * 1024;
  // At most this many lines are read.
  static constexpr std::size_t kMaxLines = 100000;

  static ProfileFile Read(platform::FileSystem& files, const std::string& path);
  static ProfileFile FromText(std::string_view text);

  // GetPrivateProfileStringA: the value, cut to `max_length` characters, or `fallback` when the
  // section or the key is absent.
  std::string GetString(std::string_view section, std::string_view key, std::string_view fallback,
                        std::size_t max_length) const;
  // GetPrivateProfileIntA: the number the value begins with (decimal, or hexadecimal after "0x"),
  // 0 for a value that begins with no digit or is negative; `fallback` when the key is absent.
  std::uint32_t GetInt(std::string_view section, std::string_view key,
                       std::uint32_t fallback) const;

 private:
  struct Entry {
    std::string section;  // lower-cased
    std::string key;      // lower-cased
    std::string value;
  };
  void AddLine(std::string_view line, std::string& section);
  const std::string* Find(std::string_view section, std::string_view key) const;

  std::vector<Entry> entries_;
};

}  // namespace kv
