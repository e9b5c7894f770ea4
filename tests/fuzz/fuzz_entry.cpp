// The libFuzzer entry of every fuzzer: CMake builds this file once per fuzzer, with KV_FUZZ_RUN
// naming the fuzzer's run over the input's bytes. A run that returns less than 0 broke a promise:
// that is a finding, like a crash.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/registry_export_fuzz_run.h"
#include "fuzz/store_fuzz_runs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (KV_FUZZ_RUN(std::string_view(reinterpret_cast<const char*>(data), size)) < 0) {
    __builtin_trap();
  }
  return 0;
}
