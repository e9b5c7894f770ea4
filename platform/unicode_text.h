#pragma once
// UTF-16LE, as Windows NT stores registry names and string data, and the comparison of registry
// names without regard to case. Shared by the registry implementations (hive file, export text).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_view.h"

namespace kv::platform {

// UTF-16LE bytes to UTF-8. An odd last byte is dropped (it holds no whole code unit), an unpaired
// surrogate becomes U+FFFD, and NUL code units are kept as NUL bytes.
std::string Utf16leToUtf8(ByteView bytes);

// UTF-8 to UTF-16LE bytes; a malformed sequence becomes U+FFFD. NUL bytes are kept.
std::vector<std::uint8_t> Utf8ToUtf16le(std::string_view text);

// The character as the registry compares names: upper case for ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic, which covers the names Western and Eastern European systems hold.
char32_t RegistryUpperCase(char32_t c);

// Two UTF-8 names equal but for case, as registry key and value names match. Malformed bytes
// compare as themselves.
bool RegistryNamesEqual(std::string_view a, std::string_view b);

// Orders UTF-8 names as the registry lists a key's subkeys: by their upper-case code points.
bool RegistryNameLess(std::string_view a, std::string_view b);

}  // namespace kv::platform
