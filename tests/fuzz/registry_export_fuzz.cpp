// The libFuzzer entry of the registry export fuzzer; the run and what counts as a finding:
// registry_export_fuzz_run.h.

#include <cstddef>
#include <cstdint>

#include "fuzz/registry_export_fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (kv::fuzz::RunRegistryExportFuzzInput(data, size) < 0) __builtin_trap();
  return 0;
}
