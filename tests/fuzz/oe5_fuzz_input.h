#pragma once
// The input of the Outlook Express 5 fuzzer: one byte of options, then "Folders.dbx" and the one
// folder file "a.dbx" of a store (framing: fuzz_input.h).
//
//   options(1) | folders size(4) | Folders.dbx | a.dbx (the rest)
//
// With kGeneratedFoldersFile the store's "Folders.dbx" is not taken from the input but generated:
// the local folders' root and one folder "Inbox" whose file is "a.dbx", with the message count
// kOe5FuzzCount (so the folder file alone is fuzzed).

#include "fuzz/fuzz_input.h"

namespace kv::fuzz {

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

}  // namespace kv::fuzz
