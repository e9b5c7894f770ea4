// The libFuzzer entry of every fuzzer: CMake builds this file once per fuzzer, with
// KV_FUZZ_RUN_HEADER naming the fuzzer's `*_fuzz_run.h` and KV_FUZZ_RUN its run over the input's
// bytes. A run that returns less than 0 broke a promise: that is a finding, like a crash.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include KV_FUZZ_RUN_HEADER

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (KV_FUZZ_RUN(std::string_view(reinterpret_cast<const char*>(data), size)) < 0) {
    __builtin_trap();
  }
  return 0;
}
