// Imports a large generated Netscape Messenger mail directory into a Maildir on tmpfs with the
// kvimport program and prints its speed beside plainly writing the same bytes into as many files as
// there are messages.
//
//   netscape_import_bench [--size MB] [--work DIR] [--keep]
//
// --size: megabytes of messages to generate (default 200); --work: where the store and the outputs
// go (default a new folder under /dev/shm); --keep: leave the work folder.
//
// Exit 1 when the Maildir does not hold the store's messages (their number, and their bytes as
// stored or with the line ends and separator lines a Maildir writer may drop); exit 3 when the
// import misses a target: at least 0.6 times as fast as the plain writing, peak memory under 16 MB.

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string_view>

#include "import_bench_support.h"
#include "support/netscape_generated_stores.h"

namespace {

using namespace kv::bench;

constexpr double kMinTimesPlainWriting = 0.6;
constexpr double kMaxPeakMegabytes = 16.0;

// Whether the Maildir's bytes are the messages' bytes as stored, or as a Maildir writer may keep
// them: without the CR of CR LF, without the separator lines, or both.
bool BytesMatch(std::uint64_t imported, const kv::testing::NsStoreTotals& store) {
  const std::uint64_t all = store.message_bytes;
  for (std::uint64_t dropped_separators : {std::uint64_t{0}, store.separator_bytes}) {
    // Each separator line ends in one CR LF, whose CR is counted among the carriage returns.
    const std::uint64_t separator_crs = dropped_separators == 0 ? 0 : store.messages;
    for (std::uint64_t dropped_crs : {std::uint64_t{0}, store.carriage_returns - separator_crs}) {
      if (imported == all - dropped_separators - dropped_crs) return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  BenchOptions options;
  options.megabytes = 200;
  if (!ParseBenchOptions(argc, argv, "netscape_import_bench", false, options)) return 2;
  const std::optional<fs::path> made = MakeWorkFolder(options, "netscape");
  if (!made) return 1;
  const fs::path work = *made;
  const double megabytes = options.megabytes;
  const fs::path tmp = work / "tmp";
  const fs::path store = work / "store";
  const fs::path maildir = work / "maildir";
  for (const char* old : {"store", "maildir", "files"}) fs::remove_all(work / old);
  fs::create_directories(tmp);

  auto start = std::chrono::steady_clock::now();
  const kv::testing::NsStoreTotals generated =
      kv::testing::WriteNsBenchStore(store, static_cast<std::uint64_t>(megabytes * kMegabyte));
  std::printf("generated %s in %.1f s: %.1f MB of mailboxes and summaries, %llu messages\n",
              store.c_str(), Seconds(start), static_cast<double>(generated.file_bytes) / kMegabyte,
              static_cast<unsigned long long>(generated.messages));

  // Plain writing: the same bytes into as many files, measured in this process.
  std::uint64_t written = 0;
  const Run plain =
      TimePlainWriting(store, work / "files", generated.messages, generated.message_bytes, written);

  const Run import = RunProgram({KV_KVIMPORT_PATH, "import", "--filter", "netscape", "--store",
                                 store.string(), "--to", "maildir:" + maildir.string(), "--quiet"},
                                tmp, work / "import.out");
  const Totals imported = CountMaildir(maildir);

  std::printf("\n%llu messages, %.1f MB of messages, Maildir on %s\n",
              static_cast<unsigned long long>(generated.messages),
              static_cast<double>(generated.message_bytes) / kMegabyte, work.c_str());
  PrintRun("plain writing into as many files:", plain, written);
  PrintRun("kvimport import to maildir:", import, imported.bytes);
  const double times_plain = plain.seconds / import.seconds;
  const double peak = static_cast<double>(import.peak_rss_kib) / 1024.0;
  std::printf(
      "import speed: %.2f x plain writing (target >= %.1f); peak RSS %.1f MB (target < %.0f)\n",
      times_plain, kMinTimesPlainWriting, peak, kMaxPeakMegabytes);

  int result = 0;
  if (import.exit_code != 0 || imported.messages != generated.messages ||
      !BytesMatch(imported.bytes, generated)) {
    std::fprintf(stderr,
                 "netscape_import_bench: FAILED: the Maildir holds %llu messages of %llu bytes, "
                 "the store %llu messages of %llu bytes (kvimport exit %d); kvimport said:\n",
                 static_cast<unsigned long long>(imported.messages),
                 static_cast<unsigned long long>(imported.bytes),
                 static_cast<unsigned long long>(generated.messages),
                 static_cast<unsigned long long>(generated.message_bytes), import.exit_code);
    std::ifstream said(work / "import.out");
    std::string line;
    for (int lines = 0; lines < 20 && std::getline(said, line); ++lines) {
      std::fprintf(stderr, "  %s\n", line.c_str());
    }
    result = 1;
  } else if (plain.exit_code != 0 || times_plain < kMinTimesPlainWriting ||
             peak >= kMaxPeakMegabytes) {
    std::fprintf(stderr, "netscape_import_bench: a target was missed\n");
    result = 3;
  }
  if (!options.keep && !options.work) fs::remove_all(work);
  return result;
}
