// Fuzzes the Outlook Express 5 readers ("Folders.dbx" and a folder's ".dbx" file: index trees,
// records, fields, text block chains) the way a host meets them: the store in memory, found through
// the registry, confirmed through the folder dialog, then walked item by item. Any crash,
// sanitizer report, hang or handed-over file that does not exist is a finding.

#include <cstddef>
#include <cstdint>

#include "fuzz/oe5_fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (kv::fuzz::RunOe5FuzzInput(kv::fuzz::DecodeOe5FuzzInput(data, size)) < 0) __builtin_trap();
  return 0;
}
