#pragma once
// Small string helpers for single-byte code page text: ASCII case folding only, as the store
// formats compare names.

#include <string>
#include <string_view>

namespace kv {

char ToLowerAscii(char c);
std::string ToLowerAscii(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool StartsWith(std::string_view text, std::string_view prefix);

}  // namespace kv
