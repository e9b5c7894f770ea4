#pragma once
// The input of the Eudora fuzzer: one byte of options, then the folder map, the summary and the
// mailbox of a store whose mailbox is "Mail" (framing: fuzz_input.h). An empty folder map stands
// for the one line that lists the mailbox.
//
//   options(1) | map size(4) | map | summary size(4) | summary | mailbox (the rest)

#include "fuzz/fuzz_input.h"

namespace kv::fuzz {

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
