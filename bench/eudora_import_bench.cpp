// Imports a large generated Eudora store into a Maildir on tmpfs with the kvimport program, which
// rebuilds every message as one MIME message with its attachments, and prints its speed beside
// plainly writing the store's bytes (mailboxes, summaries, attachment files) into as many files as
// there are messages.
//
//   eudora_import_bench [--size MB] [--work DIR] [--keep]
//
// --size: megabytes of mailboxes and attachment files to generate (default 200); --work: where the
// store and the outputs go (default a new folder under /dev/shm); --keep: leave the work folder.
//
// Exit 1 when the import fails or the Maildir does not hold every message with its attachments
// (base64 makes a message larger than its pieces, never smaller); exit 3 when the import misses a
// target: at least 0.3 times as fast as the plain writing, peak memory under 32 MB beside the
// largest message.

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string_view>

#include "import_bench_support.h"
#include "support/eudora_generated_stores.h"

namespace {

using namespace kv::bench;

constexpr double kMinTimesPlainWriting = 0.3;
constexpr double kMaxPeakMegabytes = 32.0;

// The generator's largest message text (its body files are at most 1 MiB); attachments are
// streamed from their files and cost no memory of their own.
constexpr double kLargestMessageMegabytes = 1.0;

}  // namespace

int main(int argc, char** argv) {
  BenchOptions options;
  options.megabytes = 200;
  if (!ParseBenchOptions(argc, argv, "eudora_import_bench", false, options)) return 2;
  const std::optional<fs::path> made = MakeWorkFolder(options, "eudora");
  if (!made) return 1;
  const fs::path work = *made;
  const double megabytes = options.megabytes;
  const fs::path tmp = work / "tmp";
  const fs::path store = work / "store";
  const fs::path maildir = work / "maildir";
  for (const char* old : {"store", "maildir", "files"}) fs::remove_all(work / old);
  fs::create_directories(tmp);

  auto start = std::chrono::steady_clock::now();
  const kv::testing::EudoraStoreTotals generated =
      kv::testing::WriteEudoraBenchStore(store, static_cast<std::uint64_t>(megabytes * kMegabyte));
  std::printf("generated %s in %.1f s: %.1f MB, %llu messages, %llu attachment files\n",
              store.c_str(), Seconds(start), static_cast<double>(generated.file_bytes) / kMegabyte,
              static_cast<unsigned long long>(generated.messages),
              static_cast<unsigned long long>(generated.attachments));

  // Plain writing: the store's bytes into as many files as it holds messages, in this process.
  std::uint64_t written = 0;
  const Run plain =
      TimePlainWriting(store, work / "files", generated.messages, generated.file_bytes, written);

  const Run import = RunProgram({KV_KVIMPORT_PATH, "import", "--filter", "eudora", "--store",
                                 store.string(), "--to", "maildir:" + maildir.string(), "--quiet"},
                                tmp, work / "import.out");
  const Totals imported = CountMaildir(maildir);

  std::printf("\n%llu messages, %.1f MB of store files, Maildir on %s\n",
              static_cast<unsigned long long>(generated.messages),
              static_cast<double>(generated.file_bytes) / kMegabyte, work.c_str());
  PrintRun("plain writing into as many files:", plain, written);
  PrintRun("kvimport import to maildir:", import, imported.bytes);
  const double times_plain = plain.seconds / import.seconds;
  const double peak = static_cast<double>(import.peak_rss_kib) / 1024.0;
  const double largest = kLargestMessageMegabytes;
  std::printf(
      "import speed: %.2f x plain writing (target >= %.1f); peak RSS %.1f MB (target < %.0f MB "
      "+ %.1f MB for the largest message)\n",
      times_plain, kMinTimesPlainWriting, peak, kMaxPeakMegabytes, largest);

  int result = 0;
  // Every attachment was found (exit 0), and each message is at least its share of the store.
  if (import.exit_code != 0 || imported.messages != generated.messages ||
      imported.bytes * 10 < generated.file_bytes * 9) {
    std::fprintf(stderr,
                 "eudora_import_bench: FAILED: the Maildir holds %llu messages of %llu bytes, the "
                 "store %llu messages in %llu bytes (kvimport exit %d); kvimport said:\n",
                 static_cast<unsigned long long>(imported.messages),
                 static_cast<unsigned long long>(imported.bytes),
                 static_cast<unsigned long long>(generated.messages),
                 static_cast<unsigned long long>(generated.file_bytes), import.exit_code);
    std::ifstream said(work / "import.out");
    std::string line;
    for (int lines = 0; lines < 20 && std::getline(said, line); ++lines) {
      std::fprintf(stderr, "  %s\n", line.c_str());
    }
    result = 1;
  } else if (plain.exit_code != 0 || times_plain < kMinTimesPlainWriting ||
             peak >= kMaxPeakMegabytes + largest) {
    std::fprintf(stderr, "eudora_import_bench: a target was missed\n");
    result = 3;
  }
  if (!options.keep && !options.work) fs::remove_all(work);
  return result;
}
