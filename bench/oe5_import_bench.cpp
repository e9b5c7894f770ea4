// Imports a large generated Outlook Express 5 store into a Maildir on tmpfs with the kvimport
// program and prints its speed beside the independent reader undbx extracting the same files and
// beside plainly writing the same bytes into as many files as there are messages.
//
//   oe5_import_bench [--size MB] [--work DIR] [--keep]
//
// --size: megabytes of messages to generate (default 200); --work: where the store and the outputs
// go (default a new folder under /dev/shm); --keep: leave the work folder.
//
// Exit 1 when the Maildir does not hold exactly the store's messages (count and bytes); exit 3 when
// the import misses a target: at least twice as fast as undbx, at least half as fast as the plain
// writing, peak memory under 16 MB.

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/oe5_generated_stores.h"

namespace {

namespace fs = std::filesystem;

extern "C" char** environ;

constexpr double kMegabyte = 1024.0 * 1024.0;
constexpr std::size_t kCopyPiece = 64 * 1024;
// The targets.
constexpr double kMinTimesUndbx = 2.0;
constexpr double kMinTimesPlainWriting = 0.5;
constexpr double kMaxPeakMegabytes = 16.0;

struct Totals {
  std::uint64_t messages = 0;
  std::uint64_t bytes = 0;
};

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Writes `total` bytes read from the files of `from` into `count` files of equal size in `to`:
// what the import cannot beat, creating as many files and writing as many bytes.
std::uint64_t WriteIntoFiles(const fs::path& from, const fs::path& to, std::uint64_t count,
                             std::uint64_t total) {
  fs::create_directories(to);
  const std::uint64_t piece = count > 0 ? total / count + 1 : total;
  std::vector<char> buffer(kCopyPiece);
  std::uint64_t written = 0, in_file = 0, file_number = 0;
  int out = -1;
  for (const auto& entry : fs::directory_iterator(from)) {
    int in = ::open(entry.path().c_str(), O_RDONLY);
    ssize_t got = 0;
    while (in >= 0 && written < total && (got = ::read(in, buffer.data(), buffer.size())) > 0) {
      std::size_t offset = 0;
      const std::size_t usable =
          static_cast<std::size_t>(std::min<std::uint64_t>(got, total - written));
      while (offset < usable) {
        if (out < 0 || in_file == piece) {
          if (out >= 0) ::close(out);
          out = ::open((to / std::to_string(++file_number)).c_str(), O_WRONLY | O_CREAT | O_EXCL,
                       0600);
          in_file = 0;
          if (out < 0) break;
        }
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(usable - offset, piece - in_file));
        if (::write(out, buffer.data() + offset, chunk) != static_cast<ssize_t>(chunk)) break;
        offset += chunk;
        in_file += chunk;
        written += chunk;
      }
      if (out < 0) break;
    }
    if (in >= 0) ::close(in);
  }
  if (out >= 0) ::close(out);
  return written;
}

struct ChildRun {
  int exit_code = -1;
  long peak_rss_kib = 0;
  double seconds = 0;
  double cpu_seconds = 0;  // user and system time
};

double CpuSeconds(const struct rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs `arguments` (the program first, found on PATH) with TMPDIR set to `tmp`, stdin from
// /dev/null and stdout into `out_file`.
ChildRun Run(std::vector<std::string> arguments, const fs::path& tmp, const fs::path& out_file) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = {"TMPDIR=" + tmp.string()};
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::strncmp(*variable, "TMPDIR=", 7) != 0) environment.emplace_back(*variable);
  }
  std::vector<char*> envp;
  for (std::string& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);

  // The child's peak RSS counts the memory it shares before exec: give back what the store
  // generation freed, and fork (a new address space) rather than vfork.
  ::malloc_trim(0);
  ChildRun run;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid < 0) return run;
  if (pid == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0 ||
        ::dup2(out, STDERR_FILENO) < 0) {
      ::_exit(127);
    }
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) {
    run.exit_code = WEXITSTATUS(status);
  }
  run.seconds = Seconds(start);
  run.cpu_seconds = CpuSeconds(usage);
  run.peak_rss_kib = usage.ru_maxrss;
  return run;
}

// Messages and bytes in the files below `root` that `counts` accepts.
template <typename Accept>
Totals CountFiles(const fs::path& root, Accept counts) {
  Totals totals;
  if (!fs::is_directory(root)) return totals;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && counts(entry.path())) {
      ++totals.messages;
      totals.bytes += entry.file_size();
    }
  }
  return totals;
}

void PrintRun(const char* what, const ChildRun& run, std::uint64_t bytes) {
  std::printf(
      "%-34s %7.1f MB in %6.2f s = %7.1f MB/s (CPU %5.2f s); peak RSS %5.1f MB; exit %d\n", what,
      static_cast<double>(bytes) / kMegabyte, run.seconds,
      static_cast<double>(bytes) / kMegabyte / run.seconds, run.cpu_seconds,
      static_cast<double>(run.peak_rss_kib) / 1024.0, run.exit_code);
}

int Usage() {
  std::fprintf(stderr, "usage: oe5_import_bench [--size MB] [--work DIR] [--keep]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  double megabytes = 200;
  std::optional<fs::path> work_option;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--keep") {
      keep = true;
    } else if (i + 1 < argc && argument == "--size") {
      megabytes = std::atof(argv[++i]);
    } else if (i + 1 < argc && argument == "--work") {
      work_option = argv[++i];
    } else {
      return Usage();
    }
  }
  if (megabytes <= 0) return Usage();

  fs::path work;
  if (work_option) {
    work = *work_option;
    fs::create_directories(work);
  } else {
    std::string pattern = "/dev/shm/kv-oe5-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      return 1;
    }
    work = pattern;
  }
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
  start = std::chrono::steady_clock::now();
  struct rusage before {}, after {};
  ::getrusage(RUSAGE_SELF, &before);
  const std::uint64_t written =
      WriteIntoFiles(store, work / "files", generated.messages, generated.message_bytes);
  ::getrusage(RUSAGE_SELF, &after);
  ChildRun plain;
  plain.seconds = Seconds(start);
  plain.cpu_seconds = CpuSeconds(after) - CpuSeconds(before);
  plain.exit_code = written == generated.message_bytes ? 0 : 1;
  fs::remove_all(work / "files");

  // The independent reader on the same files.
  ChildRun undbx = Run({"undbx", "--verbosity", "0", store.string(), (work / "undbx").string()},
                       tmp, work / "undbx.out");
  const Totals extracted =
      CountFiles(work / "undbx", [](const fs::path& path) { return path.extension() == ".eml"; });
  fs::remove_all(work / "undbx");

  ChildRun import = Run({KV_KVIMPORT_PATH, "import", "--filter", "oe5", "--store", store.string(),
                         "--to", "maildir:" + maildir.string(), "--quiet"},
                        tmp, work / "import.out");
  const Totals imported = CountFiles(maildir, [](const fs::path& path) {
    const std::string parent = path.parent_path().filename().string();
    return parent == "cur" || parent == "new";
  });

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
      imported.bytes != generated.message_bytes) {
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
  if (!keep && !work_option) fs::remove_all(work);
  return result;
}
