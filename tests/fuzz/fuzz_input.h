#pragma once
// The inputs of the filters' fuzzers. Each is an options byte, parts that carry a little-endian
// 32-bit size prefix, and a last part that runs to the end. A size is cut down to what the input
// holds, so every byte string decodes.

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
struct Oe4FuzzInput {
  std::uint8_t options = 0;
  std::string folders, index, mailbox;
};
inline std::string EncodeOe4FuzzInput(const Oe4FuzzInput& input) {
  return std::string(1, static_cast<char>(input.options)) + Sized(input.folders) +
         Sized(input.index) + input.mailbox;
}
inline Oe4FuzzInput DecodeOe4FuzzInput(std::string_view bytes) {
  InputParts in(bytes);
  return {in.Byte(), in.TakeSized(), in.TakeSized(), in.Rest()};
}

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
struct Oe5FuzzInput {
  std::uint8_t options = 0;
  std::string folders, file;
};
inline std::string EncodeOe5FuzzInput(const Oe5FuzzInput& input) {
  return std::string(1, static_cast<char>(input.options)) + Sized(input.folders) + input.file;
}
inline Oe5FuzzInput DecodeOe5FuzzInput(std::string_view bytes) {
  InputParts in(bytes);
  return {in.Byte(), in.TakeSized(), in.Rest()};
}

// The Eudora fuzzer: the folder map, the summary and the mailbox of a store whose mailbox is
// "Mail". An empty folder map stands for the one line that lists the mailbox.
//
//   options(1) | map size(4) | map | summary size(4) | summary | mailbox (the rest)
enum EudoraFuzzOption : std::uint8_t {
  kEudoraKeepEmptyFolders = 0x01,  // "Skip Empty Folders" unchecked
  kEudoraNoSummary = 0x02,         // the store has no "Mail.toc"
};
inline constexpr const char* kEudoraFuzzDefaultMap = "Mail,Mail.mbx,S,N\r\n";
struct EudoraFuzzInput {
  std::uint8_t options = 0;
  std::string map, summary, mailbox;
};
inline std::string EncodeEudoraFuzzInput(const EudoraFuzzInput& input) {
  return std::string(1, static_cast<char>(input.options)) + Sized(input.map) +
         Sized(input.summary) + input.mailbox;
}
inline EudoraFuzzInput DecodeEudoraFuzzInput(std::string_view bytes) {
  InputParts in(bytes);
  return {in.Byte(), in.TakeSized(), in.TakeSized(), in.Rest()};
}

}  // namespace kv::fuzz
