#include "platform/unicode_text.h"

#include <algorithm>
#include <optional>

#include "platform/text.h"

namespace kv::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kSurrogateLast = 0xDFFF;
// Bytes that are not UTF-8 stand for themselves past the Unicode range, so that they never equal
// a decoded character.
constexpr char32_t kRawByte = 0x110000;

void AppendUnit(std::vector<std::uint8_t>& out, char32_t unit) {
  out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

std::u32string UpperCaseName(std::string_view name) {
  std::u32string folded;
  folded.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    std::size_t start = i;
    std::optional<char32_t> c = DecodeUtf8(name, i);
    folded.push_back(c ? RegistryUpperCase(*c) : kRawByte + static_cast<std::uint8_t>(name[start]));
  }
  return folded;
}

}  // namespace

std::string Utf16leToUtf8(ByteView bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  const std::size_t units = bytes.size() / 2;
  for (std::size_t k = 0; k < units; ++k) {
    char32_t unit = *bytes.u16le(2 * k);
    if (unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst && k + 1 < units) {
      char32_t low = *bytes.u16le(2 * (k + 1));
      if (low >= kLowSurrogateFirst && low <= kSurrogateLast) {
        AppendUtf8(out,
                   0x10000 + ((unit - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst));
        ++k;
        continue;
      }
    }
    if (unit >= kHighSurrogateFirst && unit <= kSurrogateLast) unit = kReplacement;
    AppendUtf8(out, unit);
  }
  return out;
}

std::vector<std::uint8_t> Utf8ToUtf16le(std::string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() * 2);
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = DecodeUtf8(text, i).value_or(kReplacement);
    if (c >= 0x10000) {
      c -= 0x10000;
      AppendUnit(out, kHighSurrogateFirst + (c >> 10));
      AppendUnit(out, kLowSurrogateFirst + (c & 0x3FF));
    } else {
      AppendUnit(out, c);
    }
  }
  return out;
}

char32_t RegistryUpperCase(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  // Latin Extended-A pairs its letters: upper case at even code points in two runs, at odd ones in
  // two others.
  bool even_upper = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
  bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if ((even_upper && c % 2 == 1) || (odd_upper && c % 2 == 0)) return c - 1;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;  // Greek small letters
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;                // Cyrillic а..я
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;                // Cyrillic ѐ..џ
  return c;
}

bool RegistryNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin())) return true;
  return UpperCaseName(a) == UpperCaseName(b);
}

bool RegistryNameLess(std::string_view a, std::string_view b) {
  return UpperCaseName(a) < UpperCaseName(b);
}

}  // namespace kv::platform
