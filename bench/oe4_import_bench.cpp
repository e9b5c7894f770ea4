// Imports a large generated Outlook Express 4 store into a Maildir on tmpfs with the kvimport
// program, as a user would (default options, the temporary folder left at its default), and prints
// its speed beside plainly writing the same bytes into as many files as there are messages.
//
//   oe4_import_bench [--size MB] [--work DIR] [--runs N] [--keep]
//
// --size: megabytes of messages to generate (default 250); --work: where the store and the outputs
// go (default a new folder under /dev/shm); --runs: how often to time the plain writing and the
// import, the fastest of each counting (default 3; the machine may be shared); --keep: leave the
// work folder.
//
// Exit 1 when the Maildir does not hold the store's messages (their number, and their bytes with
// each CR LF made LF); exit 3 when the import misses a target: at least 0.6 times as fast as the
// plain writing, peak memory under 16 MB.

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string_view>

#include "import_bench_support.h"
#include "support/oe4_generated_stores.h"

namespace {

using namespace kv::bench;

constexpr double kMinTimesPlainWriting = 0.6;
constexpr double kMaxPeakMegabytes = 16.0;

}  // namespace

int main(int argc, char** argv) {
  BenchOptions options;
  options.megabytes = 250;
  options.runs = 3;
  if (!ParseBenchOptions(argc, argv, "oe4_import_bench", true, options)) return 2;
  const std::optional<fs::path> made = MakeWorkFolder(options, "oe4");
  if (!made) return 1;
  const fs::path work = *made;
  const int runs = options.runs;
  const double megabytes = options.megabytes;
  const fs::path tmp = work / "tmp";
  const fs::path store = work / "store";
  const fs::path maildir = work / "maildir";
  for (const char* old : {"store", "maildir", "files"}) fs::remove_all(work / old);
  fs::create_directories(tmp);

  auto start = std::chrono::steady_clock::now();
  const kv::testing::Oe4StoreTotals generated =
      kv::testing::WriteOe4BenchStore(store, static_cast<std::uint64_t>(megabytes * kMegabyte));
  std::printf("generated %s in %.1f s: %.1f MB of .mbx/.idx/folders.nch files, %llu messages\n",
              store.c_str(), Seconds(start), static_cast<double>(generated.file_bytes) / kMegabyte,
              static_cast<unsigned long long>(generated.messages));
  // What the Maildir must hold: each message without its padding and with LF line ends.
  const std::uint64_t expected_bytes = generated.message_bytes - generated.crlf_pairs;

  Run plain, import;
  std::uint64_t written = 0;
  Totals imported;
  for (int run = 0; run < runs; ++run) {
    // Plain writing: the same bytes into as many files, measured in this process.
    const Run this_plain =
        TimePlainWriting(store, work / "files", generated.messages, expected_bytes, written);

    fs::remove_all(maildir);
    const Run this_import =
        RunProgram({KV_KVIMPORT_PATH, "import", "--filter", "oe4", "--store", store.string(),
                    "--to", "maildir:" + maildir.string(), "--quiet"},
                   tmp, work / "import.out");
    imported = CountMaildir(maildir);
    std::printf("run %d: plain writing %.2f s (CPU %.2f s), import %.2f s (CPU %.2f s)\n", run + 1,
                this_plain.seconds, this_plain.cpu_seconds, this_import.seconds,
                this_import.cpu_seconds);
    if (run == 0 || this_plain.seconds < plain.seconds) plain = this_plain;
    if (run == 0 || this_import.seconds < import.seconds || this_import.exit_code != 0) {
      import = this_import;
    }
    if (this_import.exit_code != 0) break;
  }

  std::printf("\n%llu messages, %.1f MB of messages, Maildir on %s; fastest of %d runs:\n",
              static_cast<unsigned long long>(generated.messages),
              static_cast<double>(expected_bytes) / kMegabyte, work.c_str(), runs);
  PrintRun("plain writing into as many files:", plain, written);
  PrintRun("kvimport import to maildir:", import, imported.bytes);
  const double times_plain = plain.seconds / import.seconds;
  const double peak = static_cast<double>(import.peak_rss_kib) / 1024.0;
  std::printf(
      "import speed: %.2f x plain writing (target >= %.1f); peak RSS %.1f MB (target < %.0f)\n",
      times_plain, kMinTimesPlainWriting, peak, kMaxPeakMegabytes);

  int result = 0;
  if (import.exit_code != 0 || imported.messages != generated.messages ||
      imported.bytes != expected_bytes) {
    std::fprintf(stderr,
                 "oe4_import_bench: FAILED: the Maildir holds %llu messages of %llu bytes, the "
                 "store %llu messages of %llu bytes with LF line ends (kvimport exit %d); kvimport "
                 "said:\n",
                 static_cast<unsigned long long>(imported.messages),
                 static_cast<unsigned long long>(imported.bytes),
                 static_cast<unsigned long long>(generated.messages),
                 static_cast<unsigned long long>(expected_bytes), import.exit_code);
    std::ifstream said(work / "import.out");
    std::string line;
    for (int lines = 0; lines < 20 && std::getline(said, line); ++lines) {
      std::fprintf(stderr, "  %s\n", line.c_str());
    }
    result = 1;
  } else if (plain.exit_code != 0 || times_plain < kMinTimesPlainWriting ||
             peak >= kMaxPeakMegabytes) {
    std::fprintf(stderr, "oe4_import_bench: a target was missed\n");
    result = 3;
  }
  if (!options.keep && !options.work) fs::remove_all(work);
  return result;
}
