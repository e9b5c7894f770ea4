// The libFuzzer entry of the Netscape summary fuzzer; the run and what counts as a finding:
// netscape_summary_fuzz_run.h.

#include <cstddef>
#include <cstdint>

#include "fuzz/netscape_summary_fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (kv::fuzz::RunSummaryFuzzInput(data, size) < 0) __builtin_trap();
  return 0;
}
