#include "host/problem_report.h"

namespace kv::host {

ProblemReport::ProblemReport(std::FILE* err, platform::CodePage& code_page)
    : err_(err), code_page_(code_page) {}

void ProblemReport::Report(const platform::Diagnostic& diagnostic) {
  const std::string text = code_page_.ToUtf8(platform::FormatDiagnostic(diagnostic));
  if (diagnostic.kind == platform::DiagnosticKind::kOutputFailure) {
    // Shown once, by the command that stops on it, with what to do about it.
    if (!output_failure_) output_failure_ = text;
    return;
  }
  ++skipped_;
  if (before_line_) before_line_();
  std::fprintf(err_, "kvimport: not imported: %s\n", text.c_str());
}

}  // namespace kv::host
