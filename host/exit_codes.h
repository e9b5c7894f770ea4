#pragma once
// The exit codes of kvimport, shown by --help and relied on by scripts.

namespace kv::host {

enum ExitCode : int {
  kExitOk = 0,
  kExitInternalError = 1,  // something the tool did not expect (for example no temporary folder)
  kExitUsage = 2,          // the command line is wrong
  kExitStoreNotFound = 3,  // the filter found no store, or a dialog was cancelled
  kExitOutputError = 4,    // the destination cannot be written, or would be overwritten
  kExitSkippedItems = 5,   // finished, but parts of the store did not come across (each named)
  kExitInterrupted = 130,  // stopped by SIGINT or SIGTERM; what was written is complete
};

}  // namespace kv::host
