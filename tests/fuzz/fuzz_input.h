#pragma once
// The inputs of the filters' fuzzers. Each is an options byte, parts that carry a little-endian
// 32-bit size prefix, and a last part that runs to the end. A size is cut down to what the input
// holds, so every byte string decodes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::fuzz {

struct FuzzInput {
  std::uint8_t options = 0;
  std::vector<std::string> parts;  // as many as the fuzzer's layout has, some maybe empty
};

// The options byte, then `parts`, each but the last after its size prefix.
inline std::string EncodeFuzzInput(std::uint8_t options, const std::vector<std::string>& parts) {
  std::string bytes(1, static_cast<char>(options));
  for (std::size_t i = 0; i < parts.size(); ++i) {
    for (int b = 0; i + 1 < parts.size() && b < 4; ++b)
      bytes += static_cast<char>((parts[i].size() >> (8 * b)) & 0xFF);
    bytes += parts[i];
  }
  return bytes;
}

// The options byte (0 when there is none) and `count` parts: a missing byte of a size prefix
// counts as 0, a missing byte of a part is not there.
inline FuzzInput DecodeFuzzInput(std::string_view bytes, std::size_t count) {
  auto take = [&bytes](std::size_t size) {
    const std::string_view part = bytes.substr(0, std::min(size, bytes.size()));
    bytes.remove_prefix(part.size());
    return std::string(part);
  };
  const std::string options = take(1);
  FuzzInput input{options.empty() ? std::uint8_t{0} : static_cast<std::uint8_t>(options[0]), {}};
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t size = bytes.size();
    if (i + 1 < count) {
      const std::string prefix = take(4);
      size = 0;
      for (std::size_t b = 0; b < prefix.size(); ++b)
        size |= static_cast<std::size_t>(static_cast<unsigned char>(prefix[b])) << (8 * b);
    }
    input.parts.push_back(take(size));
  }
  return input;
}

// The Outlook Express 4 fuzzer: "folders.nch", the ".idx" and the ".mbx" of a store whose every
// folder uses the mailbox pair "a".
//
//   options(1) | folders size(4) | folders | index size(4) | index | mailbox (the rest)
enum Oe4FuzzOption : std::uint8_t {
  kKeepEmptyFolders = 0x01,    // "Skip Empty Folders" unchecked
  kNoFoldersFile = 0x02,       // the store has no "folders.nch": its ".mbx" files are listed
  kSecondLayoutSticky = 0x04,  // a second-layout file was read earlier in the process
};
inline constexpr const char* kOe4FuzzMailbox = "a";

// The Outlook Express 5 fuzzer: "Folders.dbx" and the one folder file "a.dbx" of a store. With
// kGeneratedFoldersFile the store's "Folders.dbx" is not taken from the input but generated: the
// local folders' root and one folder "Inbox" whose file is "a.dbx", with the message count
// kOe5FuzzCount (so the folder file alone is fuzzed).
//
//   options(1) | folders size(4) | Folders.dbx | a.dbx (the rest)
enum Oe5FuzzOption : std::uint8_t {
  kOe5KeepEmptyFolders = 0x01,   // "Skip Empty Folders" unchecked
  kGeneratedFoldersFile = 0x02,  // "Folders.dbx" generated, the input's one ignored
};
inline constexpr const char* kOe5FuzzFile = "a.dbx";
inline constexpr std::uint32_t kOe5FuzzCount = 0xFFFF;

// The Eudora fuzzer: the folder map, the summary and the mailbox of a store whose mailbox is
// "Mail". An empty folder map stands for the one line that lists the mailbox.
//
//   options(1) | map size(4) | map | summary size(4) | summary | mailbox (the rest)
enum EudoraFuzzOption : std::uint8_t {
  kEudoraKeepEmptyFolders = 0x01,  // "Skip Empty Folders" unchecked
  kEudoraNoSummary = 0x02,         // the store has no "Mail.toc"
};
inline constexpr const char* kEudoraFuzzDefaultMap = "Mail,Mail.mbx,S,N\r\n";

}  // namespace kv::fuzz
