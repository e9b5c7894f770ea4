#include "eudora/status_header.h"

#include <cstring>

#include "platform/text.h"

namespace kv {
namespace {

constexpr std::size_t kNameLength = sizeof(kStatusHeaderName) - 1;  // 21
// The value starts after the name and one separator character, whatever that character is.
constexpr std::size_t kValueOffset = kNameLength + 1;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The mark a matching line gives: its value, leading white space removed, begins with "1".
bool ValueMarks(std::string_view line) {
  std::size_t i = kValueOffset;
  while (i < line.size() && platform::IsAsciiSpace(line[i])) ++i;
  return i < line.size() && line[i] == '1';
}

// Looks at one line of the header block (without its line end); false at the empty line.
bool ScanLine(std::string_view line, bool& status_mark) {
  if (line.empty()) return false;
  if (IsBlank(line[0]) || line.size() <= kNameLength) return true;
  if (platform::EqualsIgnoringCase(line.substr(0, kNameLength), kStatusHeaderName)) {
    status_mark = ValueMarks(line);
  }
  return true;
}

}  // namespace

bool ScanStatusHeaderText(std::string_view bytes, bool& status_mark) {
  status_mark = false;
  bytes = bytes.substr(0, bytes.find('\x1a'));
  while (!bytes.empty()) {
    const std::size_t newline = bytes.find('\n');
    std::string_view line = bytes.substr(0, newline);
    if (newline == std::string_view::npos) {
      bytes = {};
    } else {
      // Text mode reads the CR of a CR LF as part of the line end.
      if (line.ends_with('\r')) line.remove_suffix(1);
      bytes.remove_prefix(newline + 1);
    }
    if (!ScanLine(line, status_mark)) return true;
  }
  return false;
}

bool ScanStatusHeader(platform::FileSystem& files, const std::string& path, bool& status_mark) {
  status_mark = false;
  auto file = files.OpenForReading(path, platform::OpenMode::kText);
  if (!file) return false;
  std::string line;
  while (platform::ReadLine(*file, line)) {
    if (!ScanLine(line, status_mark)) return true;
  }
  return false;
}

}  // namespace kv
