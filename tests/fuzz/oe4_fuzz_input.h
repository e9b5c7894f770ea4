#pragma once
// The input of the Outlook Express 4 fuzzer: one byte of options, then "folders.nch", the ".idx"
// and the ".mbx" of a store whose every folder uses the mailbox pair "a" (framing: fuzz_input.h).
//
//   options(1) | folders size(4) | folders | index size(4) | index | mailbox (the rest)

#include "fuzz/fuzz_input.h"

namespace kv::fuzz {

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

}  // namespace kv::fuzz
