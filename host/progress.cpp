#include "host/progress.h"

namespace kv::host {
namespace {

constexpr auto kUpdateInterval = std::chrono::milliseconds(100);
constexpr double kMegabyte = 1024.0 * 1024.0;
// The progress line is cut to this width so that it never wraps on a normal terminal.
constexpr std::size_t kLineWidth = 79;

std::string Format(const char* format, double a, double b = 0) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  return buffer;
}

std::string Counted(std::uint64_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

std::string SummaryText(const ImportCounts& counts, double seconds) {
  return Counted(counts.messages, "message") + " (" + Counted(counts.bytes, "byte") + ", " +
         Format("%.1f MB", static_cast<double>(counts.bytes) / kMegabyte) + ") in " +
         Counted(counts.folders, "folder") + ", " +
         (counts.present > 0 ? std::to_string(counts.present) + " already there, " : "") +
         (counts.problems > 0 ? Counted(counts.problems, "store problem") + " (see above), " : "") +
         Counted(counts.skipped, "item") + " skipped, " + Format("%.1f s", seconds);
}

ProgressReporter::ProgressReporter(std::FILE* stream, bool show_progress, bool show_summary)
    : stream_(stream),
      show_progress_(show_progress),
      show_summary_(show_summary),
      start_(std::chrono::steady_clock::now()),
      last_update_(start_ - kUpdateInterval) {}

double ProgressReporter::ElapsedSeconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void ProgressReporter::Update(const std::string& folder, const ImportCounts& counts) {
  if (!show_progress_) return;
  auto now = std::chrono::steady_clock::now();
  if (now - last_update_ < kUpdateInterval) return;
  last_update_ = now;
  double seconds = ElapsedSeconds();
  double megabytes = static_cast<double>(counts.bytes) / kMegabyte;
  std::string numbers =
      " " + std::to_string(counts.messages) + " messages, " +
      Format("%.1f MB, %.1f MB/s", megabytes, seconds > 0 ? megabytes / seconds : 0.0);
  std::string line = folder;
  std::size_t room = kLineWidth > numbers.size() + 1 ? kLineWidth - numbers.size() - 1 : 0;
  if (room > 3 && line.size() > room) line = "..." + line.substr(line.size() - (room - 3));
  line += ":" + numbers;
  std::fprintf(stream_, "\r\033[K%s", line.c_str());
  std::fflush(stream_);
  line_shown_ = true;
}

void ProgressReporter::ClearLine() {
  if (!line_shown_) return;
  std::fprintf(stream_, "\r\033[K");
  line_shown_ = false;
}

void ProgressReporter::Finish(const ImportCounts& counts) {
  ClearLine();
  if (show_summary_) {
    std::fprintf(stream_, "kvimport: imported %s\n", SummaryText(counts, ElapsedSeconds()).c_str());
  }
  std::fflush(stream_);
}

}  // namespace kv::host
