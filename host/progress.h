#pragma once
// The import's counters, the progress line on a terminal and the closing summary.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kv::host {

struct ImportCounts {
  std::uint64_t folders = 0;   // folders created or written to
  std::uint64_t messages = 0;  // messages written
  std::uint64_t bytes = 0;     // message bytes written (without trailing NUL padding)
  std::uint64_t present = 0;   // messages an earlier run into the same target wrote already
  std::uint64_t skipped = 0;   // items that named no readable message
  std::uint64_t problems = 0;  // parts of the store the filter reported as not handed over
};

// Writes one line that updates itself in place (at most every 100 ms) and a closing summary.
// A disabled reporter writes nothing.
class ProgressReporter {
 public:
  ProgressReporter(std::FILE* stream, bool show_progress, bool show_summary);

  void Update(const std::string& folder, const ImportCounts& counts);
  // Clears the progress line; then, when enabled, writes the summary.
  void Finish(const ImportCounts& counts);
  double ElapsedSeconds() const;
  // Removes the progress line, so that another line can be written; the next update draws it again.
  void ClearLine();

 private:
  std::FILE* stream_;
  bool show_progress_;
  bool show_summary_;
  bool line_shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_update_;
};

// "12 messages (3565158 bytes, 3.4 MB) in 5 folders, 0 items skipped, 1.2 s", with
// ", 2 store problems (see above)" after the folders when the filter reported any and
// ", 7 already there" when an earlier run had written some.
std::string SummaryText(const ImportCounts& counts, double seconds);

}  // namespace kv::host
