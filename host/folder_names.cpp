#include "host/folder_names.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "platform/implementation_support.h"
#include "platform/text.h"

namespace kv::host {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

void AppendUtf16(char32_t code, std::vector<std::uint16_t>& units) {
  if (code < 0x10000) {
    units.push_back(static_cast<std::uint16_t>(code));
  } else {
    code -= 0x10000;
    units.push_back(static_cast<std::uint16_t>(0xD800 + (code >> 10)));
    units.push_back(static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF)));
  }
}

void AppendBase64Run(const std::vector<std::uint16_t>& units, std::string& out) {
  std::vector<unsigned char> bytes;
  for (std::uint16_t unit : units) {
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
  }
  out.push_back('&');
  std::uint32_t bits = 0;
  int bit_count = 0;
  for (unsigned char b : bytes) {
    bits = (bits << 8) | b;
    bit_count += 8;
    while (bit_count >= 6) {
      bit_count -= 6;
      out.push_back(kBase64[(bits >> bit_count) & 0x3F]);
    }
  }
  if (bit_count > 0) out.push_back(kBase64[(bits << (6 - bit_count)) & 0x3F]);
  out.push_back('-');
}

bool IsPrintableAscii(char32_t code) { return code >= 0x20 && code <= 0x7E; }

std::string MaildirLevel(std::string_view level) {
  std::string plain(level);
  std::replace(plain.begin(), plain.end(), '.', '_');
  if (plain.front() == '~') plain.front() = '_';
  return ModifiedUtf7(plain);
}

}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<std::string> FolderLevels(std::string_view display_path) {
  std::vector<std::string> levels;
  std::size_t start = 0;
  while (start <= display_path.size()) {
    std::size_t slash = display_path.find('/', start);
    if (slash == std::string_view::npos) slash = display_path.size();
    if (slash > start) levels.emplace_back(display_path.substr(start, slash - start));
    start = slash + 1;
  }
  return levels;
}

std::string ModifiedUtf7(std::string_view utf8) {
  std::string out;
  std::vector<std::uint16_t> run;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t code = platform::DecodeUtf8(utf8, pos).value_or(kReplacementCharacter);
    if (IsPrintableAscii(code)) {
      if (!run.empty()) {
        AppendBase64Run(run, out);
        run.clear();
      }
      out.push_back(static_cast<char>(code));
      if (code == '&') out.push_back('-');
    } else {
      AppendUtf16(code, run);
    }
  }
  if (!run.empty()) AppendBase64Run(run, out);
  return out;
}

std::string MaildirFolderDirectory(std::string_view display_path, std::string_view inbox) {
  std::vector<std::string> levels = FolderLevels(display_path);
  std::vector<std::string> inbox_levels = FolderLevels(inbox);
  bool below_inbox =
      !inbox_levels.empty() && levels.size() >= inbox_levels.size() &&
      std::equal(inbox_levels.begin(), inbox_levels.end(), levels.begin(), EqualsIgnoringAsciiCase);
  if (below_inbox && levels.size() == inbox_levels.size()) return "";
  std::string directory;
  std::size_t first = 0;
  if (below_inbox) {
    directory = ".INBOX";
    first = inbox_levels.size();
  }
  for (std::size_t i = first; i < levels.size(); ++i) {
    directory.push_back('.');
    directory += MaildirLevel(levels[i]);
  }
  return directory;
}

std::string SafeFileName(std::string_view level, std::string_view reserved_suffix) {
  if (level.empty() || level == ".") return "_";
  if (level == "..") return "__";
  std::string name(level);
  for (char& c : name) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  }
  if (!reserved_suffix.empty() && name.size() >= reserved_suffix.size() &&
      EqualsIgnoringAsciiCase(std::string_view(name).substr(name.size() - reserved_suffix.size()),
                              reserved_suffix)) {
    name.push_back('_');
  }
  return name;
}

}  // namespace kv::host
