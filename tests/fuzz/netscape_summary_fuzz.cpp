// Fuzzes the Netscape summary reader with whole ".snm" files. Any crash, sanitizer report, hang or
// broken promise of the reader (see RunSummaryFuzzInput) is a finding.

#include <cstddef>
#include <cstdint>

#include "fuzz/netscape_summary_fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (kv::fuzz::RunSummaryFuzzInput(data, size) < 0) __builtin_trap();
  return 0;
}
