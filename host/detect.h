#pragma once
// kvimport detect: for every user of an old disk (or the registry file given) and every filter,
// the filter's own discovery run with no person present: its location dialog accepted as it
// proposes, the whole store chosen in the folder dialog, every other question answered No. Each
// store found is walked to count its folders and messages; the temporary files are removed.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/filter_classes.h"
#include "host/command_line.h"
#include "host/commands.h"
#include "host/old_disk.h"
#include "platform/services.h"

namespace kv::host {

struct DetectResult {
  std::string user;        // the profile's name (UTF-8); empty with --registry
  std::string profile;     // the profile folder as the old system named it (UTF-8)
  std::string filter;      // the class table's short name
  bool found = false;      // the filter found a store it could read
  std::string store;       // the store folder as the old system names it (UTF-8); empty if none
  std::string local_path;  // where that folder lies on this machine; empty if it does not
  std::size_t folders = 0;
  std::size_t messages = 0;
  std::vector<std::string> problems;  // what went wrong on the way, one line each (UTF-8)
};

// Diagnostics passed on to whichever log is current; the registry keeps one for its life.
class ForwardingDiagnostics final : public platform::Diagnostics {
 public:
  void set_target(platform::Diagnostics* target) { target_ = target; }
  void Report(const platform::Diagnostic& diagnostic) override {
    if (target_ != nullptr) target_->Report(diagnostic);
  }

 private:
  platform::Diagnostics* target_ = nullptr;
};

// Runs `filter_class` against `system` with `files` (drive C: mapped onto the old disk) and
// `temp`. `location`, when given, answers the location dialog (a well-known folder standing in
// for a registry that cannot be read); otherwise the dialog is accepted as proposed.
// `registry_reports` must be the diagnostics the system's registry reports to; it is pointed at
// this run's problems while it lasts.
DetectResult DetectStore(const FilterClass& filter_class, OldSystem& system,
                         platform::FileSystem& files, platform::TempFiles& temp,
                         platform::CodePage& code_page, ForwardingDiagnostics& registry_reports,
                         const std::optional<std::string>& location);

// `kvimport detect`: prints each result (a readable table, or one JSON object per line with
// --json) on `streams.out`, notes on `streams.err`. Exit 0 when any store was found, 3 when none
// was, 2 when the options name no usable disk, profile or registry file.
int RunDetect(const CommandLine& line, platform::CodePage& code_page, platform::TempFiles& temp,
              const CommandStreams& streams);

}  // namespace kv::host
