// Imports a large generated Outlook Express 5 store into a Maildir on tmpfs with the kvimport
// program and prints its speed beside the independent reader undbx extracting the same files and
// beside plainly writing the same bytes into as many files as there are messages. It also times
// the import's system calls alone, with no work between them: the most an import that reads the
// store and writes a Maildir this way can reach.
//
//   oe5_import_bench [--size MB] [--work DIR] [--runs N] [--keep]
//
// --size: megabytes of messages to generate (default 200); --work: where the store and the outputs
// go (default a new folder under /dev/shm); --runs: how often to time the plain writing, undbx and
// the import, in turn, keeping the fastest of each (default 3); --keep: leave the work folder.
//
// Exit 1 when the Maildir does not hold exactly the store's messages (count, and bytes with LF line
// ends); exit 3 when the import misses a target: at least twice as fast as undbx, at least half as
// fast as the plain writing, peak memory under 16 MB.

#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "import_bench_support.h"
#include "support/oe5_generated_stores.h"

namespace {

using namespace kv::bench;

// The targets.
constexpr double kMinTimesUndbx = 2.0;
constexpr double kMinTimesPlainWriting = 0.5;
constexpr double kMaxPeakMegabytes = 16.0;

// The import's system calls without its work: every .dbx file of `store` read in 64 KiB pieces (as
// the filter reads message text), and for each message file of `maildir` one file of its size made
// in `to`, as the import writes a message it holds: created without a name, written at once, its
// time set, linked under a Maildir name and closed. The reads are spread over the messages. The
// exit code is 1 when a call fails (a file system without unnamed files, for one) or the Maildir
// holds no message.
Run TimeSystemCalls(const fs::path& store, const fs::path& maildir, const fs::path& to) {
  std::vector<std::uint64_t> sizes;
  for (const auto& entry : fs::recursive_directory_iterator(maildir)) {
    const std::string parent = entry.path().parent_path().filename().string();
    if (entry.is_regular_file() && (parent == "cur" || parent == "new")) {
      sizes.push_back(entry.file_size());
    }
  }
  std::vector<int> dbx;
  std::uint64_t store_bytes = 0;
  for (const auto& entry : fs::directory_iterator(store)) {
    if (entry.path().extension() != ".dbx") continue;
    dbx.push_back(::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC));
    store_bytes += entry.file_size();
  }
  fs::create_directories(to);
  std::uint64_t largest = 0;
  for (std::uint64_t size : sizes) largest = std::max(largest, size);
  std::vector<char> bytes(largest, 'x'), piece(kCopyPiece);
  const struct timespec times[2] = {{946974600, 0}, {946974600, 0}};
  Run run;
  run.exit_code = sizes.empty() ? 1 : 0;
  const int folder = ::open(to.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  const auto start = std::chrono::steady_clock::now();
  struct rusage before {
  }, after{};
  ::getrusage(RUSAGE_SELF, &before);
  std::size_t file = 0;
  std::uint64_t offset = 0, read = 0;
  for (std::size_t i = 0; i < sizes.size() && run.exit_code == 0; ++i) {
    const std::uint64_t due = store_bytes * (i + 1) / sizes.size();
    while (read < due && file < dbx.size()) {
      const ssize_t got =
          ::pread(dbx[file], piece.data(), piece.size(), static_cast<off_t>(offset));
      if (got <= 0) {
        ++file;
        offset = 0;
        continue;
      }
      offset += static_cast<std::uint64_t>(got);
      read += static_cast<std::uint64_t>(got);
    }
    const int out = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    const std::string name =
        "1796555846.M767163P28448Q" + std::to_string(i) +
        "Ke6776fe4192c928913bc1aead07d8bd3.host,S=" + std::to_string(sizes[i]) + ":2,S";
    if (out < 0 || ::write(out, bytes.data(), sizes[i]) != static_cast<ssize_t>(sizes[i]) ||
        ::futimens(out, times) != 0 ||
        ::linkat(out, "", folder, name.c_str(), AT_EMPTY_PATH) != 0) {
      run.exit_code = 1;
    }
    if (out >= 0) ::close(out);
  }
  ::getrusage(RUSAGE_SELF, &after);
  run.seconds = Seconds(start);
  run.cpu_seconds = CpuSeconds(after) - CpuSeconds(before);
  if (folder >= 0) ::close(folder);
  for (int fd : dbx) {
    if (fd >= 0) ::close(fd);
  }
  fs::remove_all(to);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  BenchOptions options;
  options.megabytes = 200;
  options.runs = 3;
  if (!ParseBenchOptions(argc, argv, "oe5_import_bench", true, options)) return 2;
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

  Run plain, undbx, import;
  std::uint64_t written = 0;
  Totals extracted, imported;
  // The fastest of each; a failed run is kept so that it shows.
  auto keep_fastest = [](Run& fastest, const Run& run, bool first) {
    if (first || run.exit_code != 0 || run.seconds < fastest.seconds) fastest = run;
  };
  for (int run = 0; run < options.runs; ++run) {
    // Plain writing: the same bytes into as many files.
    keep_fastest(plain,
                 TimePlainWriting(store, work / "files", generated.messages,
                                  generated.message_bytes, written),
                 run == 0);

    // The independent reader on the same files.
    keep_fastest(
        undbx,
        RunProgram({"undbx", "--verbosity", "0", store.string(), (work / "undbx").string()}, tmp,
                   work / "undbx.out"),
        run == 0);
    extracted = Totals();
    fs::create_directories(work / "undbx");
    for (const auto& entry : fs::recursive_directory_iterator(work / "undbx")) {
      if (entry.is_regular_file() && entry.path().extension() == ".eml") {
        ++extracted.messages;
        extracted.bytes += entry.file_size();
      }
    }
    fs::remove_all(work / "undbx");

    fs::remove_all(maildir);
    keep_fastest(import,
                 RunProgram({KV_KVIMPORT_PATH, "import", "--filter", "oe5", "--store",
                             store.string(), "--to", "maildir:" + maildir.string(), "--quiet"},
                            tmp, work / "import.out"),
                 run == 0);
    imported = CountMaildir(maildir);
    if (import.exit_code != 0) break;
  }
  const Run calls = TimeSystemCalls(store, maildir, work / "calls");

  std::printf("\n%llu messages, %.1f MB of messages, Maildir on %s; fastest of %d runs:\n",
              static_cast<unsigned long long>(generated.messages),
              static_cast<double>(generated.message_bytes) / kMegabyte, work.c_str(), options.runs);
  PrintRun("plain writing into as many files:", plain, written);
  PrintRun("undbx extracting the store:", undbx, extracted.bytes);
  PrintRun("kvimport import to maildir:", import, imported.bytes);
  PrintRun("its system calls alone:", calls, imported.bytes);
  const double times_undbx = undbx.seconds / import.seconds;
  const double times_plain = plain.seconds / import.seconds;
  const double peak = static_cast<double>(import.peak_rss_kib) / 1024.0;
  std::printf(
      "import speed: %.2f x undbx (target >= %.1f), %.2f x plain writing (target >= %.1f); "
      "peak RSS %.1f MB (target < %.0f)\n",
      times_undbx, kMinTimesUndbx, times_plain, kMinTimesPlainWriting, peak, kMaxPeakMegabytes);
  if (calls.exit_code == 0) {
    std::printf(
        "system calls alone: %.2f x undbx; the import spends %.0f%% of its time above them on "
        "its own work (start-up, index, line ends, identity, dates)\n",
        undbx.seconds / calls.seconds, 100.0 * (1.0 - calls.seconds / import.seconds));
  }

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
