#pragma once
// The input of the Outlook Express 4 fuzzer: one byte of options, then "folders.nch", the ".idx"
// and the ".mbx" of a store whose every folder uses the mailbox pair "a". Sizes are little-endian
// 32-bit prefixes, cut down to what the input holds, so every byte string decodes.
//
//   options(1) | folders size(4) | folders | index size(4) | index | mailbox (the rest)

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::fuzz {

enum Oe4FuzzOption : std::uint8_t {
  kKeepEmptyFolders = 0x01,    // "Skip Empty Folders" unchecked
  kNoFoldersFile = 0x02,       // the store has no "folders.nch": its ".mbx" files are listed
  kSecondLayoutSticky = 0x04,  // a second-layout file was read earlier in the process
};

inline constexpr const char* kOe4FuzzMailbox = "a";

struct Oe4FuzzInput {
  std::uint8_t options = 0;
  std::string folders;
  std::string index;
  std::string mailbox;
};

inline std::string EncodeOe4FuzzInput(const Oe4FuzzInput& input) {
  auto size = [](const std::string& part) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((part.size() >> (8 * i)) & 0xFF);
    return bytes;
  };
  return std::string(1, static_cast<char>(input.options)) + size(input.folders) + input.folders +
         size(input.index) + input.index + input.mailbox;
}

inline Oe4FuzzInput DecodeOe4FuzzInput(const std::uint8_t* data, std::size_t size) {
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
  Oe4FuzzInput input;
  const std::string options = take(1);
  input.options = options.empty() ? 0 : static_cast<std::uint8_t>(options[0]);
  input.folders = take_sized();
  input.index = take_sized();
  input.mailbox = take(rest.size());
  return input;
}

}  // namespace kv::fuzz
