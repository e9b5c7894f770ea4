#pragma once
// The input of the Eudora fuzzer: one byte of options, then the folder map, the summary and the
// mailbox of a store whose mailbox is "Mail". Sizes are little-endian 32-bit prefixes, cut down to
// what the input holds, so every byte string decodes. An empty folder map stands for the one line
// that lists the mailbox.
//
//   options(1) | map size(4) | map | summary size(4) | summary | mailbox (the rest)

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::fuzz {

enum EudoraFuzzOption : std::uint8_t {
  kEudoraKeepEmptyFolders = 0x01,  // "Skip Empty Folders" unchecked
  kEudoraNoSummary = 0x02,         // the store has no "Mail.toc"
};

inline constexpr const char* kEudoraFuzzDefaultMap = "Mail,Mail.mbx,S,N\r\n";

struct EudoraFuzzInput {
  std::uint8_t options = 0;
  std::string map;
  std::string summary;
  std::string mailbox;
};

inline std::string EncodeEudoraFuzzInput(const EudoraFuzzInput& input) {
  auto size = [](const std::string& part) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((part.size() >> (8 * i)) & 0xFF);
    return bytes;
  };
  return std::string(1, static_cast<char>(input.options)) + size(input.map) + input.map +
         size(input.summary) + input.summary + input.mailbox;
}

inline EudoraFuzzInput DecodeEudoraFuzzInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  auto take = [&rest](std::size_t count) {
    count = std::min(count, rest.size());
    std::string part(rest.substr(0, count));
    rest.remove_prefix(count);
    return part;
  };
  auto take_sized = [&]() {
    const std::string prefix = take(4);
    std::size_t count = 0;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      count |= static_cast<std::size_t>(static_cast<unsigned char>(prefix[i])) << (8 * i);
    }
    return take(count);
  };
  EudoraFuzzInput input;
  const std::string options = take(1);
  input.options = options.empty() ? 0 : static_cast<std::uint8_t>(options[0]);
  input.map = take_sized();
  input.summary = take_sized();
  input.mailbox = take(rest.size());
  return input;
}

}  // namespace kv::fuzz
