#pragma once
// The input of the Outlook Express 5 fuzzer: one byte of options, then "Folders.dbx" and the one
// folder file "a.dbx" of a store. The size is a little-endian 32-bit prefix, cut down to what the
// input holds, so every byte string decodes.
//
//   options(1) | folders size(4) | Folders.dbx | a.dbx (the rest)
//
// With kGeneratedFoldersFile the store's "Folders.dbx" is not taken from the input but generated:
// the local folders' root and one folder "Inbox" whose file is "a.dbx", with the message count
// kOe5FuzzCount (so the folder file alone is fuzzed).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::fuzz {

enum Oe5FuzzOption : std::uint8_t {
  kOe5KeepEmptyFolders = 0x01,   // "Skip Empty Folders" unchecked
  kGeneratedFoldersFile = 0x02,  // "Folders.dbx" generated, the input's one ignored
};

inline constexpr const char* kOe5FuzzFile = "a.dbx";
inline constexpr std::uint32_t kOe5FuzzCount = 0xFFFF;

struct Oe5FuzzInput {
  std::uint8_t options = 0;
  std::string folders;
  std::string file;
};

inline std::string EncodeOe5FuzzInput(const Oe5FuzzInput& input) {
  std::string size(4, '\0');
  for (int i = 0; i < 4; ++i) size[i] = static_cast<char>((input.folders.size() >> (8 * i)) & 0xFF);
  return std::string(1, static_cast<char>(input.options)) + size + input.folders + input.file;
}

inline Oe5FuzzInput DecodeOe5FuzzInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  auto take = [&rest](std::size_t count) {
    count = std::min(count, rest.size());
    std::string part(rest.substr(0, count));
    rest.remove_prefix(count);
    return part;
  };
  Oe5FuzzInput input;
  const std::string options = take(1);
  input.options = options.empty() ? 0 : static_cast<std::uint8_t>(options[0]);
  const std::string prefix = take(4);
  std::size_t count = 0;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    count |= static_cast<std::size_t>(static_cast<unsigned char>(prefix[i])) << (8 * i);
  }
  input.folders = take(count);
  input.file = take(rest.size());
  return input;
}

}  // namespace kv::fuzz
