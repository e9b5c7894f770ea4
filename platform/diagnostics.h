#pragma once
// What a filter left out of a store, and why. Filters keep the dispatch interface exactly as the
// host knows it (a damaged folder is still skipped, a cut message still ends its folder); this
// service is how they say, in the store's own terms, what they did not hand over. The host counts
// and shows the reports; an output failure (a temporary file that cannot be written) makes it stop.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::platform {

enum class DiagnosticKind {
  kSkipped,        // part of the store was not handed over: a folder, messages, the rest of a file
  kOutputFailure,  // the filter could not write what it hands over; the import cannot go on
};

// One report. Texts are in the store's code page, like every other string inside a filter.
struct Diagnostic {
  DiagnosticKind kind = DiagnosticKind::kSkipped;
  std::string folder;  // the folder's display path; empty when the report concerns no one folder
  std::string file;    // the store file (or temporary file) concerned, as the filter names it
  std::optional<std::uint64_t> offset;  // where in `file` the problem lies, when known
  std::string problem;                  // what was wrong: "index record cut off", "file missing"
  std::string
      lost;  // what was not handed over: "the folder", "3 messages", "the rest of the folder"
};

class Diagnostics {
 public:
  virtual ~Diagnostics() = default;
  virtual void Report(const Diagnostic& diagnostic) = 0;
};

// Keeps every report in order: for tests, and for hosts that show them later.
class DiagnosticLog final : public Diagnostics {
 public:
  void Report(const Diagnostic& diagnostic) override { entries_.push_back(diagnostic); }
  const std::vector<Diagnostic>& entries() const { return entries_; }
  void Clear() { entries_.clear(); }

 private:
  std::vector<Diagnostic> entries_;
};

// One line for a person: `folder: file at offset N: problem; lost: what`, leaving out empty parts.
std::string FormatDiagnostic(const Diagnostic& diagnostic);

}  // namespace kv::platform
