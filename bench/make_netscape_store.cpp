// Writes Netscape mail directories with the tests' store writer:
//   make_netscape_store bench DIR [MB]   a store of at least MB (default 200) megabytes of messages
//   make_netscape_store sample DIR       the bundled sample (samples/netscape/)
//   make_netscape_store fuzz-seeds DIR   the summary fuzzer's seeds
//                                        (tests/fuzz/corpus/netscape_summary_fuzz/)

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/netscape_generated_stores.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: make_netscape_store bench DIR [MB] | sample DIR | fuzz-seeds DIR\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string mode = argv[1];
  const std::filesystem::path dir = argv[2];
  try {
    if (mode == "bench") {
      const unsigned long megabytes = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 200;
      const kv::testing::NsStoreTotals totals =
          kv::testing::WriteNsBenchStore(dir, std::uint64_t{megabytes} * 1024 * 1024);
      std::printf("%s: %.1f MB in %llu messages\n", dir.c_str(),
                  static_cast<double>(totals.file_bytes) / (1024.0 * 1024.0),
                  static_cast<unsigned long long>(totals.messages));
    } else if (mode == "sample") {
      kv::testing::NsSampleStore().WriteTo(dir);
    } else if (mode == "fuzz-seeds") {
      std::filesystem::create_directories(dir);
      for (const auto& [name, bytes] : kv::testing::NsFuzzSeeds()) {
        std::ofstream out(dir / ("seed-" + name), std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      }
    } else {
      return Usage();
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_netscape_store: %s\n", error.what());
    return 1;
  }
  return 0;
}
