#pragma once
// The diagnostics service as kvimport gives it to a filter: every report is shown at once as one
// line on the error stream, in UTF-8, and counted, so that the summary and the exit code can say
// that part of the store did not come across. An output failure (the filter cannot write its
// temporary files) is kept so that the command stops instead of skipping on.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "platform/diagnostics.h"
#include "platform/environment.h"

namespace kv::host {

class ProblemReport final : public platform::Diagnostics {
 public:
  // `code_page` converts the filter's texts to UTF-8; both must outlive this object.
  ProblemReport(std::FILE* err, platform::CodePage& code_page);

  void Report(const platform::Diagnostic& diagnostic) override;

  // Called before each line is written: clears a progress line that would otherwise be mixed in.
  void set_before_line(std::function<void()> before_line) { before_line_ = std::move(before_line); }

  // Reports of parts of the store that were not handed over.
  std::uint64_t skipped() const { return skipped_; }
  // The first output failure, as a line for the person (UTF-8); nullopt when none was reported.
  const std::optional<std::string>& output_failure() const { return output_failure_; }

 private:
  std::FILE* err_;
  platform::CodePage& code_page_;
  std::function<void()> before_line_;
  std::uint64_t skipped_ = 0;
  std::optional<std::string> output_failure_;
};

}  // namespace kv::host
