// The libFuzzer entry of the Eudora fuzzer; the run and what counts as a finding:
// eudora_fuzz_run.h.

#include <cstddef>
#include <cstdint>

#include "fuzz/eudora_fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (kv::fuzz::RunEudoraFuzzInput(kv::fuzz::DecodeEudoraFuzzInput(data, size)) < 0) {
    __builtin_trap();
  }
  return 0;
}
