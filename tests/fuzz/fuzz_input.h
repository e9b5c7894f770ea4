#pragma once
// The framing the fuzzers' inputs share: an options byte, parts that carry a little-endian 32-bit
// size prefix, and a last part that runs to the end. A size is cut down to what the input holds,
// so every byte string decodes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::fuzz {

// `part` after its size prefix.
inline std::string Sized(const std::string& part) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((part.size() >> (8 * i)) & 0xFF);
  return bytes + part;
}

// Takes the parts of an input off its front.
class InputParts {
 public:
  explicit InputParts(std::string_view bytes) : rest_(bytes) {}

  // Up to `count` bytes.
  std::string Take(std::size_t count) {
    count = std::min(count, rest_.size());
    std::string part(rest_.substr(0, count));
    rest_.remove_prefix(count);
    return part;
  }
  // One byte; 0 when none is left.
  std::uint8_t Byte() {
    const std::string byte = Take(1);
    return byte.empty() ? 0 : static_cast<std::uint8_t>(byte[0]);
  }
  // A size prefix (as much of it as there is) and up to that many bytes.
  std::string TakeSized() {
    const std::string prefix = Take(4);
    std::size_t count = 0;
    for (std::size_t i = 0; i < prefix.size(); ++i)
      count |= static_cast<std::size_t>(static_cast<unsigned char>(prefix[i])) << (8 * i);
    return Take(count);
  }
  std::string Rest() { return Take(rest_.size()); }

 private:
  std::string_view rest_;
};

}  // namespace kv::fuzz
