#pragma once
// The subcommands of kvimport, run against a set of platform services chosen by the caller (the
// real ones in main, fakes or real folders in tests).

#include <cstdio>
#include <string>

#include "app/import_filter.h"
#include "host/command_line.h"
#include "platform/scripted_ui.h"
#include "platform/services.h"

namespace kv::host {

// Where a command writes. `scripted` is the scripted front when the dialogs are answered from the
// options (null with a person at the terminal); it tells "no store" from "no store reader".
struct CommandStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool err_is_terminal = false;  // show the progress line
};

// Queues the scripted front's answers for a run: the location dialog gets the store folder
// (Continue), the folder dialog selects --start or the root item with "Skip Empty Folders" set
// unless --keep-empty, and question 126 is answered No. Text goes to the dialogs in the store's
// code page, as the filters show it.
void QueueDialogAnswers(platform::ScriptedUserInterface& ui, const CommandLine& line,
                        platform::CodePage& code_page);

// `kvimport list`: one JSON object per item on `out`; removes the handed-over files after hashing.
// The filter is made from the class table with `services`, or given.
int RunList(const CommandLine& line, const platform::Services& services,
            const platform::ScriptedUserInterface* scripted, const CommandStreams& streams);
int RunList(const CommandLine& line, const platform::Services& services,
            const platform::ScriptedUserInterface* scripted, const CommandStreams& streams,
            ImportFilter& filter);

// `kvimport import`: writes every folder and message to the destination.
int RunImport(const CommandLine& line, const platform::Services& services,
              const platform::ScriptedUserInterface* scripted, const CommandStreams& streams);
int RunImport(const CommandLine& line, const platform::Services& services,
              const platform::ScriptedUserInterface* scripted, const CommandStreams& streams,
              ImportFilter& filter);

}  // namespace kv::host
