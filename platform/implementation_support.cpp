#include "platform/implementation_support.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/temp_files.h"

namespace kv::platform {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

constexpr std::uint8_t kCtrlZ = 0x1A;  // the C run-time's end-of-file mark in text mode
constexpr std::size_t kTextChunk = 4096;

constexpr std::size_t kShortBaseLength = 8;
constexpr std::size_t kShortExtensionLength = 3;
constexpr std::size_t kAliasStemLength = 6;

// Upper case for ASCII and the Latin-1 letters of the Western code page.
char UpperForAlias(char c) {
  auto byte = static_cast<std::uint8_t>(c);
  if (byte >= 'a' && byte <= 'z') return static_cast<char>(byte - 0x20);
  if (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7) return static_cast<char>(byte - 0x20);
  return c;
}

bool IsShortNameCharacter(char c) {
  return c != ' ' && c != '.' &&
         std::string_view("+,;=[]\"\\/:*?<>|").find(c) == std::string_view::npos;
}

// A name that already has the 8.3 form needs no alias: at most 8 characters, at most one ".",
// then at most 3, none of them blanks or characters the short form forbids.
bool FitsShortForm(std::string_view name) {
  std::size_t dot = name.find('.');
  std::string_view base = name.substr(0, dot);
  std::string_view extension = dot == std::string_view::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > kShortBaseLength) return false;
  if (extension.size() > kShortExtensionLength) return false;
  if (dot != std::string_view::npos && extension.empty()) return false;
  return std::all_of(base.begin(), base.end(), IsShortNameCharacter) &&
         std::all_of(extension.begin(), extension.end(), IsShortNameCharacter);
}

// The characters the alias keeps of a name part: blanks and periods dropped, characters the
// short form forbids turned into "_", letters in upper case.
std::string ShortFormCharacters(std::string_view part) {
  std::string kept;
  for (char c : part) {
    if (c == ' ' || c == '.') continue;
    kept.push_back(std::string_view("+,;=[]").find(c) != std::string_view::npos ? '_'
                                                                                : UpperForAlias(c));
  }
  return kept;
}

struct AliasParts {
  std::string stem;
  std::size_t number;
  std::string extension;
};

std::optional<AliasParts> ParseAlias(std::string_view alias) {
  std::size_t dot = alias.rfind('.');
  std::string_view base = alias.substr(0, dot);
  std::string_view extension = dot == std::string_view::npos ? "" : alias.substr(dot + 1);
  std::size_t tilde = base.rfind('~');
  if (base.size() > kShortBaseLength || extension.size() > kShortExtensionLength ||
      tilde == std::string_view::npos || tilde == 0 || tilde + 1 == base.size()) {
    return std::nullopt;
  }
  std::size_t number = 0;
  for (char c : base.substr(tilde + 1)) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + static_cast<std::size_t>(c - '0');
  }
  if (number == 0) return std::nullopt;
  return AliasParts{ShortFormCharacters(base.substr(0, tilde)), number,
                    ShortFormCharacters(extension)};
}

class TextModeFile final : public ReadableFile {
 public:
  explicit TextModeFile(std::unique_ptr<ReadableFile> binary) : binary_(std::move(binary)) {}

  std::optional<std::size_t> Read(std::span<std::uint8_t> out) override {
    std::size_t produced = 0;
    while (produced < out.size() && !ended_) {
      if (Pending() < 2 && !end_of_raw_) {
        if (!Refill()) return std::nullopt;
      }
      if (Pending() == 0) break;
      std::uint8_t byte = buffer_[next_];
      if (byte == kCtrlZ) {
        ended_ = true;
        break;
      }
      if (byte == '\r' && Pending() >= 2 && buffer_[next_ + 1] == '\n') {
        ++next_;
        byte = '\n';
      }
      ++next_;
      out[produced++] = byte;
    }
    return produced;
  }

  bool Seek(std::uint64_t offset) override {
    if (!binary_->Seek(offset)) return false;
    buffer_.clear();
    next_ = 0;
    ended_ = false;
    end_of_raw_ = false;
    return true;
  }

  std::uint64_t Tell() const override { return binary_->Tell() - Pending(); }
  std::optional<std::uint64_t> Size() const override { return binary_->Size(); }

 private:
  std::size_t Pending() const { return buffer_.size() - next_; }

  // Keeps the unread bytes and appends the next chunk, so a CR at the end of one chunk still
  // sees the LF at the start of the next.
  bool Refill() {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(next_));
    next_ = 0;
    std::size_t kept = buffer_.size();
    buffer_.resize(kept + kTextChunk);
    std::optional<std::size_t> count = binary_->Read(std::span(buffer_).subspan(kept));
    if (!count) {
      buffer_.resize(kept);
      return false;
    }
    buffer_.resize(kept + *count);
    if (*count == 0) end_of_raw_ = true;
    return true;
  }

  std::unique_ptr<ReadableFile> binary_;
  std::vector<std::uint8_t> buffer_;
  std::size_t next_ = 0;
  bool ended_ = false;
  bool end_of_raw_ = false;
};

class SortedFinder final : public FileFinder {
 public:
  explicit SortedFinder(std::vector<FindEntry> entries) : entries_(std::move(entries)) {}
  std::optional<FindEntry> Next() override {
    if (next_ >= entries_.size()) return std::nullopt;
    return entries_[next_++];
  }

 private:
  std::vector<FindEntry> entries_;
  std::size_t next_ = 0;
};

}  // namespace

WindowsPath ParseWindowsPath(std::string_view path) {
  WindowsPath parsed;
  std::size_t i = 0;
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
    parsed.drive = static_cast<char>(path[0] & ~0x20);
    i = 2;
  }
  parsed.rooted = i < path.size() && IsSeparator(path[i]);
  // Drive-relative paths ("C:foo") are taken from the drive's root: there is no current folder.
  if (parsed.drive != 0) parsed.rooted = true;
  while (i < path.size()) {
    while (i < path.size() && IsSeparator(path[i])) ++i;
    std::size_t start = i;
    while (i < path.size() && !IsSeparator(path[i])) ++i;
    std::string_view part = path.substr(start, i - start);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parsed.components.empty() && parsed.components.back() != "..") {
        parsed.components.pop_back();
      } else if (!parsed.rooted) {
        parsed.components.emplace_back(part);
      }
      continue;
    }
    parsed.components.emplace_back(part);
  }
  return parsed;
}

SplitSearchPattern SplitPattern(std::string_view pattern) {
  std::size_t last = pattern.find_last_of("\\/");
  if (last == std::string_view::npos) {
    if (pattern.size() >= 2 && pattern[1] == ':' && IsAsciiLetter(pattern[0])) {
      return {std::string(pattern.substr(0, 2)), std::string(pattern.substr(2))};
    }
    return {"", std::string(pattern)};
  }
  std::string_view folder = pattern.substr(0, last);
  bool folder_is_root = folder.empty() || (folder.size() == 2 && folder[1] == ':');
  if (folder_is_root) folder = pattern.substr(0, last + 1);
  return {std::string(folder), std::string(pattern.substr(last + 1))};
}

bool HasWildcards(std::string_view name) { return name.find_first_of("*?") != std::string::npos; }

std::string ExpandPercentVariables(
    std::string_view text,
    const std::function<std::optional<std::string>(const std::string&)>& lookup) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out.push_back(text[i++]);
      continue;
    }
    std::size_t close = text.find('%', i + 1);
    if (close == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    std::string name(text.substr(i + 1, close - i - 1));
    std::optional<std::string> value = name.empty() ? std::nullopt : lookup(name);
    if (value) {
      out.append(*value);
    } else {
      out.append(text.substr(i, close - i + 1));
    }
    i = close + 1;
  }
  return out;
}

std::unique_ptr<ReadableFile> MakeTextModeFile(std::unique_ptr<ReadableFile> binary) {
  if (!binary) return nullptr;
  return std::make_unique<TextModeFile>(std::move(binary));
}

std::unique_ptr<FileFinder> MakeSortedFinder(std::vector<FindEntry> entries) {
  if (entries.empty()) return nullptr;
  std::sort(entries.begin(), entries.end(), [](const FindEntry& a, const FindEntry& b) {
    if (NameLessIgnoringCase(a.name, b.name)) return true;
    if (NameLessIgnoringCase(b.name, a.name)) return false;
    return a.name < b.name;
  });
  return std::make_unique<SortedFinder>(std::move(entries));
}

std::optional<std::size_t> MatchShortNameAlias(std::string_view alias,
                                               const std::vector<std::string>& names) {
  std::optional<AliasParts> wanted = ParseAlias(alias);
  if (!wanted) return std::nullopt;
  std::size_t digits = std::to_string(wanted->number).size();
  std::size_t stem_length = std::min(kAliasStemLength, kShortBaseLength - 1 - digits);
  std::vector<std::size_t> group;
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string_view name = names[i];
    if (FitsShortForm(name)) continue;
    std::size_t dot = name.rfind('.');
    // A leading period starts the name, not an extension.
    if (dot == 0) dot = std::string_view::npos;
    std::string stem = ShortFormCharacters(name.substr(0, dot));
    std::string extension =
        dot == std::string_view::npos ? "" : ShortFormCharacters(name.substr(dot + 1));
    if (stem.substr(0, stem_length) == wanted->stem &&
        extension.substr(0, kShortExtensionLength) == wanted->extension) {
      group.push_back(i);
    }
  }
  if (wanted->number > group.size()) return std::nullopt;
  std::sort(group.begin(), group.end(), [&names](std::size_t a, std::size_t b) {
    if (NameLessIgnoringCase(names[a], names[b])) return true;
    if (NameLessIgnoringCase(names[b], names[a])) return false;
    return names[a] < names[b];
  });
  return group[wanted->number - 1];
}

std::string JoinPath(const std::string& folder, std::string_view name, char separator) {
  std::string joined = folder;
  if (!joined.empty() && !IsSeparator(joined.back())) joined.push_back(separator);
  joined.append(name);
  return joined;
}

std::optional<std::string> CreateUniqueTempFile(
    const std::string& folder, std::string_view prefix, std::uint32_t start, char separator,
    const std::function<CreateAttempt(const std::string&)>& try_create) {
  constexpr std::uint32_t kNumberLimit = 0xFFFF;  // GetTempFileNameA uses 16-bit numbers
  std::uint32_t number = start & kNumberLimit;
  for (std::uint32_t attempt = 0; attempt < kNumberLimit; ++attempt) {
    if (number == 0) number = 1;
    std::string path = JoinPath(folder, TempFileName(prefix, number), separator);
    switch (try_create(path)) {
      case CreateAttempt::kCreated:
        return path;
      case CreateAttempt::kFailed:
        return std::nullopt;
      case CreateAttempt::kNameTaken:
        break;
    }
    number = (number + 1) & kNumberLimit;
  }
  return std::nullopt;
}

}  // namespace kv::platform
