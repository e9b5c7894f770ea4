// The libFuzzer entry of the Outlook Express 5 fuzzer; the run and what counts as a finding:
// oe5_fuzz_run.h.

#include <cstddef>
#include <cstdint>

#include "fuzz/oe5_fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (kv::fuzz::RunOe5FuzzInput(kv::fuzz::DecodeOe5FuzzInput(data, size)) < 0) __builtin_trap();
  return 0;
}
