#pragma once
// Pieces the import benchmarks share: timing, running a program with its own temporary folder and
// measuring it, writing a store's bytes into as many files as it holds messages (the plain writing
// an import is compared with), and counting what landed in a Maildir.

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern "C" char** environ;

namespace kv::bench {

namespace fs = std::filesystem;

inline constexpr double kMegabyte = 1024.0 * 1024.0;
inline constexpr std::size_t kCopyPiece = 64 * 1024;

// The command line every import benchmark takes: [--size MB] [--work DIR] [--runs N] [--keep]
// (--runs only where the benchmark repeats its timings).
struct BenchOptions {
  double megabytes = 200;
  int runs = 1;
  std::optional<fs::path> work;  // --work: where the store and the outputs go
  bool keep = false;             // --keep: leave the work folder
};

// Reads the command line into `options`, whose fields hold the benchmark's defaults. On a bad
// command line prints the usage of `program` and returns false.
inline bool ParseBenchOptions(int argc, char** argv, const char* program, bool takes_runs,
                              BenchOptions& options) {
  bool good = true;
  for (int i = 1; good && i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--keep") {
      options.keep = true;
    } else if (i + 1 < argc && argument == "--size") {
      options.megabytes = std::atof(argv[++i]);
    } else if (takes_runs && i + 1 < argc && argument == "--runs") {
      options.runs = std::atoi(argv[++i]);
    } else if (i + 1 < argc && argument == "--work") {
      options.work = argv[++i];
    } else {
      good = false;
    }
  }
  if (good && options.megabytes > 0 && options.runs > 0) return true;
  std::fprintf(stderr, "usage: %s [--size MB] [--work DIR]%s [--keep]\n", program,
               takes_runs ? " [--runs N]" : "");
  return false;
}

// The folder the benchmark works in: --work (created), or a new folder under /dev/shm named after
// `name`. nullopt, reported, when it cannot be made.
inline std::optional<fs::path> MakeWorkFolder(const BenchOptions& options,
                                              const std::string& name) {
  if (options.work) {
    std::error_code error;
    fs::create_directories(*options.work, error);
    return *options.work;
  }
  std::string pattern = "/dev/shm/kv-" + name + "-bench-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return std::nullopt;
  }
  return fs::path(pattern);
}

struct Totals {
  std::uint64_t messages = 0;
  std::uint64_t bytes = 0;
};

inline double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double CpuSeconds(const struct rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
  int exit_code = -1;
  long peak_rss_kib = 0;
  double seconds = 0;
  double cpu_seconds = 0;  // user and system time
};

// Runs `arguments` (the program first, found on PATH) with TMPDIR set to `tmp`, stdin from
// /dev/null and stdout and stderr into `out_file`.
inline Run RunProgram(std::vector<std::string> arguments, const fs::path& tmp,
                      const fs::path& out_file) {
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
  Run run;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return run;
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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

// Writes `total` bytes read from the files below `from` (at any depth) into `count` files of equal
// size in `to`: what an import cannot beat, creating as many files and writing as many bytes.
// Measured in this process; returns the bytes written.
inline std::uint64_t WriteIntoFiles(const fs::path& from, const fs::path& to, std::uint64_t count,
                                    std::uint64_t total) {
  fs::create_directories(to);
  const std::uint64_t piece = count > 0 ? total / count + 1 : total;
  std::vector<char> buffer(kCopyPiece);
  std::uint64_t written = 0, in_file = 0, file_number = 0;
  int out = -1;
  for (const auto& entry : fs::recursive_directory_iterator(from)) {
    if (!entry.is_regular_file()) continue;
    const int in = ::open(entry.path().c_str(), O_RDONLY);
    ssize_t got = 0;
    while (in >= 0 && written < total && (got = ::read(in, buffer.data(), buffer.size())) > 0) {
      std::size_t offset = 0;
      const auto usable = static_cast<std::size_t>(
          std::min<std::uint64_t>(static_cast<std::uint64_t>(got), total - written));
      while (offset < usable) {
        if (out < 0 || in_file == piece) {
          if (out >= 0) ::close(out);
          out = ::open((to / std::to_string(++file_number)).c_str(), O_WRONLY | O_CREAT | O_EXCL,
                       0600);
          in_file = 0;
          if (out < 0) break;
        }
        const auto chunk =
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

// Plain writing timed in this process: `bytes` read from the files below `store` written into
// `count` files in `to`, which is removed again. `written` receives the bytes written; the run's
// exit code is 1 when they are not `bytes`.
inline Run TimePlainWriting(const fs::path& store, const fs::path& to, std::uint64_t count,
                            std::uint64_t bytes, std::uint64_t& written) {
  const auto start = std::chrono::steady_clock::now();
  struct rusage before {
  }, after{};
  ::getrusage(RUSAGE_SELF, &before);
  written = WriteIntoFiles(store, to, count, bytes);
  ::getrusage(RUSAGE_SELF, &after);
  Run plain;
  plain.seconds = Seconds(start);
  plain.cpu_seconds = CpuSeconds(after) - CpuSeconds(before);
  plain.exit_code = written == bytes ? 0 : 1;
  fs::remove_all(to);
  return plain;
}

// The messages of a Maildir tree (every file in a cur/ or new/ folder) and their bytes.
inline Totals CountMaildir(const fs::path& root) {
  Totals totals;
  if (!fs::is_directory(root)) return totals;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string parent = entry.path().parent_path().filename().string();
    if (entry.is_regular_file() && (parent == "cur" || parent == "new")) {
      ++totals.messages;
      totals.bytes += entry.file_size();
    }
  }
  return totals;
}

inline void PrintRun(const char* what, const Run& run, std::uint64_t bytes) {
  std::printf("%-34s %7.1f MB in %6.2f s = %7.1f MB/s (CPU %5.2f s); peak RSS %5.1f MB; exit %d\n",
              what, static_cast<double>(bytes) / kMegabyte, run.seconds,
              static_cast<double>(bytes) / kMegabyte / run.seconds, run.cpu_seconds,
              static_cast<double>(run.peak_rss_kib) / 1024.0, run.exit_code);
}

}  // namespace kv::bench
