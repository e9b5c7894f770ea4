// Imports a large Outlook Express 4 store into a Maildir with the kvimport program and compares
// its speed with a plain copy of the store's mailbox files. Fails (exit 1) when the Maildir does
// not hold exactly the store's messages, byte for byte in count and size.
//
//   oe4_import_bench [--size MB] [--work DIR] [--store DIR] [--keep]
//
// --size: the store to generate, in megabytes of messages (default 200); --work: where the store,
// the copy and the Maildir go (default a new folder under $TMPDIR or /tmp); --store: import this
// existing store instead (its expected totals then come from `kvimport list`); --keep: leave the
// work folder.

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
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/oe4_generated_stores.h"

namespace {

namespace fs = std::filesystem;

extern "C" char** environ;

constexpr double kMegabyte = 1024.0 * 1024.0;
constexpr std::size_t kCopyPiece = 64 * 1024;

struct Totals {
  std::uint64_t messages = 0;
  std::uint64_t bytes = 0;
};

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Copies every file of `from` into `to` with read and write; returns the bytes copied.
std::uint64_t PlainCopy(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  std::vector<char> buffer(kCopyPiece);
  std::uint64_t total = 0;
  for (const auto& entry : fs::directory_iterator(from)) {
    int in = ::open(entry.path().c_str(), O_RDONLY);
    int out = ::open((to / entry.path().filename()).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ssize_t count = 0;
    while (in >= 0 && out >= 0 && (count = ::read(in, buffer.data(), buffer.size())) > 0) {
      if (::write(out, buffer.data(), static_cast<std::size_t>(count)) != count) break;
      total += static_cast<std::uint64_t>(count);
    }
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
  }
  return total;
}

// Copies the bytes of every file of `from` into `count` files of equal size in `to`: the cost of
// the plain copy when it has to create as many files as the import does.
std::uint64_t CopyIntoFiles(const fs::path& from, const fs::path& to, std::uint64_t count,
                            std::uint64_t total) {
  fs::create_directories(to);
  const std::uint64_t piece = count > 0 ? total / count + 1 : total;
  std::vector<char> buffer(kCopyPiece);
  std::uint64_t copied = 0, in_file = 0, file_number = 0;
  int out = -1;
  for (const auto& entry : fs::directory_iterator(from)) {
    int in = ::open(entry.path().c_str(), O_RDONLY);
    ssize_t count_read = 0;
    while (in >= 0 && (count_read = ::read(in, buffer.data(), buffer.size())) > 0) {
      std::size_t offset = 0;
      while (offset < static_cast<std::size_t>(count_read)) {
        if (out < 0 || in_file == piece) {
          if (out >= 0) ::close(out);
          out = ::open((to / std::to_string(++file_number)).c_str(), O_WRONLY | O_CREAT | O_EXCL,
                       0600);
          in_file = 0;
          if (out < 0) break;
        }
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(
            static_cast<std::size_t>(count_read) - offset, piece - in_file));
        if (::write(out, buffer.data() + offset, chunk) != static_cast<ssize_t>(chunk)) break;
        offset += chunk;
        in_file += chunk;
        copied += chunk;
      }
      if (out < 0) break;
    }
    if (in >= 0) ::close(in);
  }
  if (out >= 0) ::close(out);
  return copied;
}

struct ChildRun {
  int exit_code = -1;
  long peak_rss_kib = 0;
  double seconds = 0;
};

// Runs kvimport with `args`, its temporary folder `tmp`, its stdout into `out_file`.
ChildRun RunKvimport(const std::vector<std::string>& args, const fs::path& tmp,
                     const fs::path& out_file) {
  std::vector<std::string> arguments = {KV_KVIMPORT_PATH};
  arguments.insert(arguments.end(), args.begin(), args.end());
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
    if (in < 0 || out < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0) {
      ::_exit(127);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) {
    run.exit_code = WEXITSTATUS(status);
  }
  run.seconds = Seconds(start);
  run.peak_rss_kib = usage.ru_maxrss;
  return run;
}

// Messages and bytes in a Maildir tree (every file in a cur/ or new/ folder).
Totals CountMaildir(const fs::path& root) {
  Totals totals;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string parent = entry.path().parent_path().filename().string();
    if (entry.is_regular_file() && (parent == "cur" || parent == "new")) {
      ++totals.messages;
      totals.bytes += entry.file_size();
    }
  }
  return totals;
}

// What `kvimport list` reports for an existing store: messages and their sizes as handed over
// (with NUL padding, so the imported bytes may be up to 3 per message fewer).
std::optional<Totals> ListTotals(const fs::path& store, const fs::path& tmp, const fs::path& work) {
  fs::path listing = work / "list.jsonl";
  ChildRun run = RunKvimport({"list", "--filter", "oe4", "--store", store.string()}, tmp, listing);
  if (run.exit_code != 0) return std::nullopt;
  Totals totals;
  std::ifstream in(listing);
  for (std::string line; std::getline(in, line);) {
    std::size_t size = line.find("\"size\":");
    if (size == std::string::npos) continue;
    ++totals.messages;
    totals.bytes += std::strtoull(line.c_str() + size + 7, nullptr, 10);
  }
  return totals;
}

std::uint64_t FolderBytes(const fs::path& dir) {
  std::uint64_t total = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) total += entry.file_size();
  }
  return total;
}

int Usage() {
  std::fprintf(stderr, "usage: oe4_import_bench [--size MB] [--work DIR] [--store DIR] [--keep]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  double megabytes = 200;
  std::optional<fs::path> work_option;
  std::optional<fs::path> store_option;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--keep") {
      keep = true;
    } else if (i + 1 < argc && argument == "--size") {
      megabytes = std::atof(argv[++i]);
    } else if (i + 1 < argc && argument == "--work") {
      work_option = argv[++i];
    } else if (i + 1 < argc && argument == "--store") {
      store_option = argv[++i];
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
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kv-oe4-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      return 1;
    }
    work = pattern;
  }
  const fs::path tmp = work / "tmp";
  const fs::path maildir = work / "maildir";
  fs::create_directories(tmp);
  fs::remove_all(maildir);
  fs::remove_all(work / "copy");

  fs::path store = store_option.value_or(work / "store");
  Totals expected;
  bool exact = !store_option;
  if (store_option) {
    std::optional<Totals> listed = ListTotals(store, tmp, work);
    if (!listed) {
      std::fprintf(stderr, "oe4_import_bench: kvimport list failed on %s\n", store.c_str());
      return 1;
    }
    expected = *listed;
  } else {
    auto start = std::chrono::steady_clock::now();
    fs::remove_all(store);
    const kv::testing::Oe4StoreTotals generated =
        kv::testing::WriteOe4BenchStore(store, static_cast<std::uint64_t>(megabytes * kMegabyte));
    expected = {generated.messages, generated.message_bytes};
    std::printf("generated %s: %llu messages, %.1f MB of messages, in %.1f s\n", store.c_str(),
                static_cast<unsigned long long>(expected.messages),
                static_cast<double>(expected.bytes) / kMegabyte, Seconds(start));
  }
  const std::uint64_t store_bytes = FolderBytes(store);

  auto copy_start = std::chrono::steady_clock::now();
  std::uint64_t copied = PlainCopy(store, work / "copy");
  double copy_seconds = Seconds(copy_start);
  fs::remove_all(work / "copy");

  auto files_start = std::chrono::steady_clock::now();
  std::uint64_t copied_into_files =
      CopyIntoFiles(store, work / "copy", expected.messages, store_bytes);
  double files_seconds = Seconds(files_start);
  fs::remove_all(work / "copy");

  ChildRun import = RunKvimport({"import", "--filter", "oe4", "--store", store.string(), "--to",
                                 "maildir:" + maildir.string(), "--quiet"},
                                tmp, work / "import.out");
  Totals imported = import.exit_code == 0 ? CountMaildir(maildir) : Totals{};

  std::printf("store: %.1f MB in .mbx/.idx/folders.nch files, %llu messages (%.1f MB)\n",
              static_cast<double>(store_bytes) / kMegabyte,
              static_cast<unsigned long long>(expected.messages),
              static_cast<double>(expected.bytes) / kMegabyte);
  std::printf("plain copy (read/write, 64 KiB): %.1f MB in %.2f s = %.1f MB/s\n",
              static_cast<double>(copied) / kMegabyte, copy_seconds,
              static_cast<double>(copied) / kMegabyte / copy_seconds);
  std::printf("plain copy into %llu files:      %.1f MB in %.2f s = %.1f MB/s\n",
              static_cast<unsigned long long>(expected.messages),
              static_cast<double>(copied_into_files) / kMegabyte, files_seconds,
              static_cast<double>(copied_into_files) / kMegabyte / files_seconds);
  std::printf(
      "kvimport import to maildir:      %.1f MB in %.2f s = %.1f MB/s of store, "
      "%.1f MB/s of messages; peak RSS %.1f MB; exit %d\n",
      static_cast<double>(store_bytes) / kMegabyte, import.seconds,
      static_cast<double>(store_bytes) / kMegabyte / import.seconds,
      static_cast<double>(imported.bytes) / kMegabyte / import.seconds,
      static_cast<double>(import.peak_rss_kib) / 1024.0, import.exit_code);
  std::printf("import / copy time: %.2f; import / copy into files time: %.2f\n",
              import.seconds / copy_seconds, import.seconds / files_seconds);

  bool bytes_match = exact ? imported.bytes == expected.bytes
                           : imported.bytes <= expected.bytes &&
                                 imported.bytes + 3 * expected.messages >= expected.bytes;
  bool ok = import.exit_code == 0 && imported.messages == expected.messages && bytes_match;
  if (!ok) {
    std::fprintf(stderr,
                 "oe4_import_bench: FAILED: the Maildir holds %llu messages of %llu bytes, the "
                 "store %llu messages of %llu bytes (kvimport exit %d)\n",
                 static_cast<unsigned long long>(imported.messages),
                 static_cast<unsigned long long>(imported.bytes),
                 static_cast<unsigned long long>(expected.messages),
                 static_cast<unsigned long long>(expected.bytes), import.exit_code);
  }
  if (!keep && !work_option) fs::remove_all(work);
  return ok ? 0 : 1;
}
