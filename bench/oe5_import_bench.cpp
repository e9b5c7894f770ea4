// Imports a large generated Outlook Express 5 store into a Maildir on tmpfs with the kvimport
// program and prints its speed beside the independent reader undbx extracting the same files and
// beside plainly writing the same bytes into as many files as there are messages.
//
//   oe5_import_bench [--size MB] [--work DIR] [--keep]
//
// --size: megabytes of messages to generate (default 200); --work: where the store and the outputs
// go (default a new folder under /dev/shm); --keep: leave the work folder.
//
// Exit 1 when the Maildir does not hold exactly the store's messages (count, and bytes with LF line
// ends); exit 3 when the import misses a target: at least twice as fast as undbx, at least half as
// fast as the plain writing, peak memory under 16 MB.

#include <cstdlib>
#include <optional>
#include <string_view>

#include "import_bench_support.h"
#include "support/oe5_generated_stores.h"

namespace {

using namespace kv::bench;

// The targets.
constexpr double kMinTimesUndbx = 2.0;
constexpr double kMinTimesPlainWriting = 0.5;
constexpr double kMaxPeakMegabytes = 16.0;

}  // namespace

int main(int argc, char** argv) {
  BenchOptions options;
  options.megabytes = 200;
  if (!ParseBenchOptions(argc, argv, "oe5_import_bench", false, options)) return 2;
  const std::optional<fs::path> made = MakeWorkFolder(options, "oe5");
  if (!made) return 1;
  const fs::path work = *made;
  const double megabytes = options.megabytes;
  const fs::path tmp = work / "tmp";
  const fs::path store = work / "store";
  const fs::path maildir = work / "maildir";
  for (const char* old : {"store", "maildir", "undbx", "files"}) fs::remove_all(work / old);
  fs::create_directories(tmp);

  auto start = std::chrono::steady_clock::now();
  const kv::testing::Oe5StoreTotals generated =
      kv::testing::WriteOe5BenchStore(store, static_cast<std::uint64_t>(megabytes * kMegabyte));
  std::printf(
      "generated %s in %.1f s: %.1f MB in %llu .dbx files and Folders.dbx, %llu messages "
      "(%.1f MB)\n",
      store.c_str(), Seconds(start), static_cast<double>(generated.file_bytes) / kMegabyte,
      static_cast<unsigned long long>(generated.folders),
      static_cast<unsigned long long>(generated.messages),
      static_cast<double>(generated.message_bytes) / kMegabyte);

  // Plain writing: the same bytes into as many files.
  std::uint64_t written = 0;
  const Run plain =
      TimePlainWriting(store, work / "files", generated.messages, generated.message_bytes, written);

  // The independent reader on the same files.
  Run undbx = RunProgram({"undbx", "--verbosity", "0", store.string(), (work / "undbx").string()},
                         tmp, work / "undbx.out");
  Totals extracted;
  fs::create_directories(work / "undbx");
  for (const auto& entry : fs::recursive_directory_iterator(work / "undbx")) {
    if (entry.is_regular_file() && entry.path().extension() == ".eml") {
      ++extracted.messages;
      extracted.bytes += entry.file_size();
    }
  }
  fs::remove_all(work / "undbx");

  Run import = RunProgram({KV_KVIMPORT_PATH, "import", "--filter", "oe5", "--store", store.string(),
                           "--to", "maildir:" + maildir.string(), "--quiet"},
                          tmp, work / "import.out");
  const Totals imported = CountMaildir(maildir);

  std::printf("\n%llu messages, %.1f MB of messages, Maildir on %s\n",
              static_cast<unsigned long long>(generated.messages),
              static_cast<double>(generated.message_bytes) / kMegabyte, work.c_str());
  PrintRun("plain writing into as many files:", plain, written);
  PrintRun("undbx extracting the store:", undbx, extracted.bytes);
  PrintRun("kvimport import to maildir:", import, imported.bytes);
  const double times_undbx = undbx.seconds / import.seconds;
  const double times_plain = plain.seconds / import.seconds;
  const double peak = static_cast<double>(import.peak_rss_kib) / 1024.0;
  std::printf(
      "import speed: %.2f x undbx (target >= %.1f), %.2f x plain writing (target >= %.1f); "
      "peak RSS %.1f MB (target < %.0f)\n",
      times_undbx, kMinTimesUndbx, times_plain, kMinTimesPlainWriting, peak, kMaxPeakMegabytes);

  int result = 0;
  if (import.exit_code != 0 || imported.messages != generated.messages ||
      imported.bytes != generated.message_bytes - generated.carriage_returns) {
    std::fprintf(stderr,
                 "oe5_import_bench: FAILED: the Maildir holds %llu messages of %llu bytes, the "
                 "store %llu messages of %llu bytes (kvimport exit %d)\n",
                 static_cast<unsigned long long>(imported.messages),
                 static_cast<unsigned long long>(imported.bytes),
                 static_cast<unsigned long long>(generated.messages),
                 static_cast<unsigned long long>(generated.message_bytes), import.exit_code);
    result = 1;
  } else if (undbx.exit_code != 0 || extracted.messages != generated.messages) {
    std::fprintf(stderr,
                 "oe5_import_bench: undbx did not extract the store (exit %d, %llu files)\n",
                 undbx.exit_code, static_cast<unsigned long long>(extracted.messages));
    result = 1;
  } else if (times_undbx < kMinTimesUndbx || times_plain < kMinTimesPlainWriting ||
             peak >= kMaxPeakMegabytes) {
    std::fprintf(stderr, "oe5_import_bench: a target was missed\n");
    result = 3;
  }
  if (!options.keep && !options.work) fs::remove_all(work);
  return result;
}
