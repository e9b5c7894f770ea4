// Fuzzes the Outlook Express 4 readers the way a host meets them: a store of one "folders.nch"
// and one ".idx"/".mbx" pair in memory, found through the registry, confirmed through the folder
// dialog, then walked item by item. Any crash, sanitizer report, hang or handed-over file that does
// not exist is a finding.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/oe4_fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (kv::fuzz::RunOe4FuzzInput(kv::fuzz::DecodeOe4FuzzInput(data, size)) < 0) __builtin_trap();
  return 0;
}
