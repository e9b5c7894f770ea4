#include "host/folder_names.h"

#include <xxhash.h>

#include <algorithm>
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

// The longest name one directory entry may have on Linux file systems, in bytes.
constexpr std::size_t kMaxNameBytes = 255;
// A Maildir++ directory keeps its levels whole while its name stays within this many bytes, so
// that a folder and the folders below it agree on the levels they share (room is left for the
// shortened levels of deeper folders).
constexpr std::size_t kKeepWholeBytes = 200;
// A shortened Maildir++ level keeps this many bytes of its encoded name, then "~" and the hash.
constexpr std::size_t kShortLevelBytes = 16;
// A shortened file name (mbox, .eml trees) keeps this many bytes of the name.
constexpr std::size_t kShortFileNameBytes = 200;
// What marks a shortened name, before eight hexadecimal digits of the full name's hash.
constexpr char kShortenedMark = '~';

std::string MaildirLevel(std::string_view level) {
  std::string plain(level);
  std::replace(plain.begin(), plain.end(), '.', '_');
  if (plain.front() == '~') plain.front() = '_';
  return ModifiedUtf7(plain);
}

// "~" and eight hexadecimal digits of the hash of `full`: the same on every run, and different
// for different full names in practice.
std::string ShortenedSuffix(std::string_view full) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::uint64_t hash = XXH3_64bits(full.data(), full.size());
  std::string suffix(1, kShortenedMark);
  for (int shift = 28; shift >= 0; shift -= 4) suffix.push_back(kHex[(hash >> shift) & 0xF]);
  return suffix;
}

// The longest start of `text` that ends on a whole UTF-8 character and, made into a name with
// `encode`, takes at most `limit` bytes.
template <typename Encode>
std::string FittingStart(std::string_view text, std::size_t limit, Encode encode) {
  std::string best;
  std::size_t pos = 0;
  while (pos < text.size()) {
    platform::DecodeUtf8(text, pos);
    std::string candidate = encode(text.substr(0, pos));
    if (candidate.size() > limit) break;
    best = std::move(candidate);
  }
  return best;
}

// A Maildir++ level cut to a readable start and the hash of the display path down to it.
std::string ShortMaildirLevel(std::string_view level, std::string_view path_to_level) {
  std::string start = FittingStart(level, kShortLevelBytes, MaildirLevel);
  if (start.empty()) start = "_";
  return start + ShortenedSuffix(path_to_level);
}

}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return platform::EqualsIgnoringCase(a, b);
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

std::string MaildirFolderDirectory(std::string_view display_path, std::string_view inbox,
                                   bool* shortened) {
  if (shortened != nullptr) *shortened = false;
  std::vector<std::string> levels = FolderLevels(display_path);
  // A folder without a name is not the INBOX: it is "_", as in the other formats.
  if (levels.empty()) levels.emplace_back("_");
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
  std::string path_to_level;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    if (i > 0) path_to_level.push_back('/');
    path_to_level += levels[i];
    if (i < first) continue;
    std::string level = MaildirLevel(levels[i]);
    if (directory.size() + 1 + level.size() > kKeepWholeBytes) {
      level = ShortMaildirLevel(levels[i], path_to_level);
      if (shortened != nullptr) *shortened = true;
    }
    // Too deep for one name even so: the deepest levels that do not fit become one.
    const std::size_t room_for_last = 1 + kShortLevelBytes + 1 + 8;
    if (i + 1 < levels.size() &&
        directory.size() + 1 + level.size() + room_for_last > kMaxNameBytes) {
      directory.push_back('.');
      directory += ShortMaildirLevel(levels.back(), display_path);
      if (shortened != nullptr) *shortened = true;
      return directory;
    }
    directory.push_back('.');
    directory += level;
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
  if (name.size() + reserved_suffix.size() + 1 > kMaxNameBytes) {
    name = FittingStart(name, kShortFileNameBytes,
                        [](std::string_view text) { return std::string(text); }) +
           ShortenedSuffix(level);
  }
  if (!reserved_suffix.empty() && name.size() >= reserved_suffix.size() &&
      EqualsIgnoringAsciiCase(std::string_view(name).substr(name.size() - reserved_suffix.size()),
                              reserved_suffix)) {
    name.push_back('_');
  }
  return name;
}

}  // namespace kv::host
