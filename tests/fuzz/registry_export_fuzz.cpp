// Fuzzes the registry export reader (.reg text in either encoding) and the ANSI registry calls
// over what it reads. Any crash, sanitizer report, hang or key left open is a finding.

#include <cstddef>
#include <cstdint>

#include "fuzz/registry_export_fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (kv::fuzz::RunRegistryExportFuzzInput(data, size) < 0) __builtin_trap();
  return 0;
}
