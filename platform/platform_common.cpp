#include <algorithm>
#include <cstdio>

#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/temp_files.h"

namespace kv::platform {
namespace {

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Classic wildcard match with "*" backtracking; linear in practice, bounded by |p| * |n|.
bool MatchFrom(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  // "*." asks for names without an extension, as the Windows search does.
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == "*." &&
      pattern.find_first_of("*?") == pattern.size() - 2) {
    std::string_view stem = pattern.substr(0, pattern.size() - 2);
    return name.find('.') == std::string_view::npos && MatchFrom(std::string(stem) + "*", name);
  }
  return MatchFrom(pattern, name);
}

bool NameLessIgnoringCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(Fold(x)) < static_cast<unsigned char>(Fold(y));
  });
}

bool ReadLine(ReadableFile& file, std::string& line) {
  line.clear();
  bool read_any = false;
  std::uint8_t byte = 0;
  for (;;) {
    std::optional<std::size_t> count = file.Read(std::span<std::uint8_t>(&byte, 1));
    if (!count) return false;
    if (*count == 0) return read_any;
    read_any = true;
    if (byte == '\n') return true;
    line.push_back(static_cast<char>(byte));
  }
}

std::string TempFileName(std::string_view prefix, std::uint32_t number) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(number));
  return std::string(prefix.substr(0, 3)) + hex + ".TMP";
}

std::string RegistryValue::Text() const {
  auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
  return std::string(data.begin(), end);
}

}  // namespace kv::platform
