// Fuzzes the Eudora mailbox splitter, summary reader and message conversion the way a host meets
// them: a store of one folder map, one mailbox and its summary in memory, confirmed through the
// dialogs, then walked item by item. Any crash, sanitizer report, hang or property naming a file
// that does not exist is a finding.

#include <cstddef>
#include <cstdint>

#include "fuzz/eudora_fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (kv::fuzz::RunEudoraFuzzInput(kv::fuzz::DecodeEudoraFuzzInput(data, size)) < 0) {
    __builtin_trap();
  }
  return 0;
}
