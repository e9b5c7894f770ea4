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
bool ValueMarks(const std::string& line) {
  std::size_t i = kValueOffset;
  while (i < line.size() && (IsBlank(line[i]) || line[i] == '\r' || line[i] == '\n')) ++i;
  return i < line.size() && line[i] == '1';
}

}  // namespace

bool ScanStatusHeader(platform::FileSystem& files, const std::string& path, bool& status_mark) {
  status_mark = false;
  auto file = files.OpenForReading(path, platform::OpenMode::kText);
  if (!file) return false;
  std::string line;
  while (platform::ReadLine(*file, line)) {
    if (line.empty()) return true;
    if (IsBlank(line[0]) || line.size() <= kNameLength) continue;
    if (platform::EqualsIgnoringCase(std::string_view(line).substr(0, kNameLength),
                                     kStatusHeaderName)) {
      status_mark = ValueMarks(line);
    }
  }
  return false;
}

}  // namespace kv
