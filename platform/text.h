#pragma once
// Small text helpers every layer shares, so that all of them fold case, trim and decode UTF-8 the
// same way. Case folding is ASCII only: the store formats and the registry compare names without
// regard to ASCII case whatever the code page, and other bytes compare as they are.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kv::platform {

char ToLowerAscii(char c);
std::string ToLowerAscii(std::string_view text);

// True when `a` and `b` are equal but for the case of ASCII letters.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Orders `a` before `b` by bytes (unsigned) after folding ASCII letters to lower case.
bool LessIgnoringCase(std::string_view a, std::string_view b);

// White space as the C library's isspace counts it in the "C" locale (blank, tab, LF, VT, FF, CR),
// without a call per character.
inline bool IsAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// `text` without leading and trailing blanks, tabs, carriage returns and line feeds.
std::string_view TrimBlanks(std::string_view text);

// Decodes one UTF-8 character at `i` and advances past it; nullopt (advancing one byte) for a
// malformed, cut, overlong or surrogate sequence or one beyond U+10FFFF. `i` must be less than
// text.size().
std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& i);

// Appends the UTF-8 bytes of `c`; a surrogate or a value beyond U+10FFFF, which UTF-8 cannot
// carry, is written as U+FFFD.
void AppendUtf8(std::string& out, char32_t c);

}  // namespace kv::platform
