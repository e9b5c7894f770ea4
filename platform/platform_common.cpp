#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/temp_files.h"
#include "platform/text.h"

namespace kv::platform {
namespace {

// Wildcards as the Windows directory search reads them: "*" followed by "." only runs up to the
// name's last period, "." before a wildcard or at the end also matches the end of the name, and
// "?" matches nothing at a period or at the end. So "*." lists names without an extension and
// "*.*" lists every name.
enum class PatternToken : std::uint8_t { kLiteral, kStar, kDosStar, kDosQuestion, kDosDot };

struct PatternItem {
  PatternToken token;
  char literal;
};

std::vector<PatternItem> Tokenize(std::string_view pattern) {
  std::vector<PatternItem> items;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    bool at_end = i + 1 == pattern.size();
    if (c == '*') {
      items.push_back({next == '.' ? PatternToken::kDosStar : PatternToken::kStar, c});
    } else if (c == '?') {
      items.push_back({PatternToken::kDosQuestion, c});
    } else if (c == '.' && (at_end || next == '*' || next == '?')) {
      items.push_back({PatternToken::kDosDot, c});
    } else {
      items.push_back({PatternToken::kLiteral, c});
    }
  }
  return items;
}

class WildcardMatcher {
 public:
  WildcardMatcher(std::string_view pattern, std::string_view name)
      : items_(Tokenize(pattern)),
        name_(name),
        last_dot_(name.rfind('.')),
        memo_((items_.size() + 1) * (name.size() + 1), kUnknown) {}

  bool Matches() { return MatchFrom(0, 0); }

 private:
  static constexpr std::int8_t kUnknown = -1;

  // Memoised so that patterns with many stars stay polynomial: at most |pattern| * |name| states.
  bool MatchFrom(std::size_t p, std::size_t n) {
    std::int8_t& known = memo_[p * (name_.size() + 1) + n];
    if (known == kUnknown) known = Compute(p, n) ? 1 : 0;
    return known == 1;
  }

  bool Compute(std::size_t p, std::size_t n) {
    if (p == items_.size()) return n == name_.size();
    bool more = n < name_.size();
    switch (items_[p].token) {
      case PatternToken::kStar:
        return MatchFrom(p + 1, n) || (more && MatchFrom(p, n + 1));
      case PatternToken::kDosStar:
        return MatchFrom(p + 1, n) || (more && n != last_dot_ && MatchFrom(p, n + 1));
      case PatternToken::kDosQuestion:
        if (!more || name_[n] == '.') return MatchFrom(p + 1, n);
        return MatchFrom(p + 1, n + 1);
      case PatternToken::kDosDot:
        if (!more) return MatchFrom(p + 1, n);
        return name_[n] == '.' && MatchFrom(p + 1, n + 1);
      case PatternToken::kLiteral:
        return more && ToLowerAscii(items_[p].literal) == ToLowerAscii(name_[n]) &&
               MatchFrom(p + 1, n + 1);
    }
    return false;
  }

  std::vector<PatternItem> items_;
  std::string_view name_;
  std::size_t last_dot_;
  std::vector<std::int8_t> memo_;
};

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  return WildcardMatcher(pattern, name).Matches();
}

bool NameLessIgnoringCase(std::string_view a, std::string_view b) { return LessIgnoringCase(a, b); }

WritableFile::CopyResult WritableFile::CopyFrom(ReadableFile& source, std::uint64_t length,
                                                std::span<std::uint8_t> buffer) {
  CopyResult result;
  while (result.copied < length && !buffer.empty()) {
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(length - result.copied, buffer.size()));
    const std::optional<std::size_t> got = source.Read(buffer.first(want));
    if (!got || *got == 0) break;
    if (!Write(buffer.first(*got))) {
      result.write_failed = true;
      break;
    }
    result.copied += *got;
  }
  return result;
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
  // A name for every message a filter hands over: formatted without printf.
  char hex[8];
  char* const end = std::to_chars(hex, hex + sizeof hex, number, 16).ptr;
  std::string name(prefix.substr(0, 3));
  for (const char* digit = hex; digit != end; ++digit) {
    name.push_back(*digit >= 'a' ? static_cast<char>(*digit - 'a' + 'A') : *digit);
  }
  name += ".TMP";
  return name;
}

std::string RegistryValue::Text() const {
  auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
  return std::string(data.begin(), end);
}

}  // namespace kv::platform

namespace kv::platform {

std::string FormatDiagnostic(const Diagnostic& diagnostic) {
  std::string line;
  auto append = [&line](const std::string& separator, const std::string& text) {
    if (text.empty()) return;
    if (!line.empty()) line += separator;
    line += text;
  };
  append("", diagnostic.folder);
  std::string where = diagnostic.file;
  if (diagnostic.offset) where += " at offset " + std::to_string(*diagnostic.offset);
  append(": ", where);
  append(": ", diagnostic.problem);
  if (!diagnostic.lost.empty()) append("; ", "lost: " + diagnostic.lost);
  return line;
}

}  // namespace kv::platform
