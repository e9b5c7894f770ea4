#include "eudora/profile_file.h"

#include <limits>

#include "eudora/text_lines.h"
#include "platform/text.h"

namespace kv {
namespace {

int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

}  // namespace

ProfileFile ProfileFile::Read(platform::FileSystem& files, const std::string& path) {
  ProfileFile profile;
  std::unique_ptr<platform::ReadableFile> file =
      files.OpenForReading(path, platform::OpenMode::kText);
  if (!file) return profile;
  TextLineReader lines(*file);
  std::string section;
  std::string line;
  for (std::size_t count = 0;
       count < kMaxLines && lines.Next(line, kMaxLineLength) == TextLineReader::Result::kLine;
       ++count) {
    profile.AddLine(line, section);
  }
  return profile;
}

ProfileFile ProfileFile::FromText(std::string_view text) {
  ProfileFile profile;
  std::string section;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    profile.AddLine(text.substr(0, end), section);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return profile;
}

void ProfileFile::AddLine(std::string_view line, std::string& section) {
  line = platform::TrimBlanks(line);
  if (line.empty()) return;
  if (line.front() == '[') {
    const std::size_t close = line.find(']');
    section = platform::ToLowerAscii(platform::TrimBlanks(
        line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1)));
    return;
  }
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  std::string_view value = platform::TrimBlanks(line.substr(equals + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  entries_.push_back({section, platform::ToLowerAscii(platform::TrimBlanks(line.substr(0, equals))),
                      std::string(value)});
}

const std::string* ProfileFile::Find(std::string_view section, std::string_view key) const {
  const std::string wanted_section = platform::ToLowerAscii(platform::TrimBlanks(section));
  const std::string wanted_key = platform::ToLowerAscii(platform::TrimBlanks(key));
  for (const Entry& entry : entries_) {
    if (entry.section == wanted_section && entry.key == wanted_key) return &entry.value;
  }
  return nullptr;
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key,
                                   std::string_view fallback, std::size_t max_length) const {
  const std::string* value = Find(section, key);
  std::string_view text = value != nullptr ? std::string_view(*value) : fallback;
  return std::string(text.substr(0, max_length));
}

std::uint32_t ProfileFile::GetInt(std::string_view section, std::string_view key,
                                  std::uint32_t fallback) const {
  const std::string* value = Find(section, key);
  if (value == nullptr) return fallback;
  std::string_view text = *value;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    if (text.front() == '-') return 0;
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  std::uint64_t number = 0;
  for (char c : text) {
    const int digit = DigitValue(c, base);
    if (digit < 0) break;
    number = number * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (number > std::numeric_limits<std::uint32_t>::max()) {
      return std::numeric_limits<std::uint32_t>::max();
    }
  }
  return static_cast<std::uint32_t>(number);
}

}  // namespace kv
