#pragma once
// The subcommands of kvimport, run against a set of platform services chosen by the caller (the
// real ones in main, fakes or real folders in tests).

#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "app/import_filter.h"
#include "host/command_line.h"
#include "host/problem_report.h"
#include "platform/held_temp_files.h"
#include "platform/posix/posix_temp_files.h"
#include "platform/services.h"
#include "ui/scripted_ui.h"

namespace kv::host {

// Where a command writes. `scripted` is the scripted front when the dialogs are answered from the
// options (null with a person at the terminal); it tells "no store" from "no store reader".
struct CommandStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool err_is_terminal = false;  // show the progress line
  // Set (by a signal handler) when the person asked to stop: the import ends after the current
  // item, keeping what was written. Null: never.
  const volatile std::sig_atomic_t* interrupted = nullptr;
  // The diagnostics service the filter reports to (the one in the services), which counts what was
  // not imported and keeps an output failure. Null: the filter's reports are not looked at.
  ProblemReport* problems = nullptr;
};

// The store folder (a UTF-8 Linux path) as a filter is to be given it: in the store's code page
// when the code page can spell it; otherwise as the root of a free drive letter, which is added to
// `drive_map` pointing at the folder.
std::string StoreLocation(const std::string& store, platform::CodePage& code_page,
                          std::map<char, std::string>& drive_map);

// The temporary files of a run. An import in this process gets a private folder of its own inside
// its target (a Maildir's in its tmp/), so that handing a message over is a rename on one file
// system; it is removed at the end, and one a killed run left there is removed by the next.
// Anything else gets a private folder of its own under $TMPDIR (or /tmp).
std::unique_ptr<platform::PosixTempFiles> MakeTempFiles(const CommandLine& line);

// Queues the scripted front's answers for a run: the location dialog gets `location` (Continue),
// the folder dialog selects --start (in the store's code page, as the tree shows it) or the root
// item, with "Skip Empty Folders" set unless --keep-empty, and question 126 is answered No.
void QueueDialogAnswers(ui::ScriptedUserInterface& ui, const CommandLine& line,
                        const std::string& location, platform::CodePage& code_page);

// `kvimport list`: one JSON object per item on `out`; removes the handed-over files after hashing.
// The filter is made from the class table with `services`, or given.
int RunList(const CommandLine& line, const platform::Services& services,
            const ui::ScriptedUserInterface* scripted, const CommandStreams& streams);
int RunList(const CommandLine& line, const platform::Services& services,
            const ui::ScriptedUserInterface* scripted, const CommandStreams& streams,
            ImportFilter& filter);

// `kvimport info`: the store's folder tree with message counts, sizes and states on `out`, and the
// problems found on `err`; writes nothing else.
int RunInfo(const CommandLine& line, const platform::Services& services,
            const ui::ScriptedUserInterface* scripted, const CommandStreams& streams);
int RunInfo(const CommandLine& line, const platform::Services& services,
            const ui::ScriptedUserInterface* scripted, const CommandStreams& streams,
            ImportFilter& filter);

// `kvimport import`: writes every folder and message to the destination. `held`, when given, is
// the services' file system and temporary files (the filter's temporary files held in memory):
// messages are then taken from memory.
int RunImport(const CommandLine& line, const platform::Services& services,
              const ui::ScriptedUserInterface* scripted, const CommandStreams& streams,
              platform::HeldTempFiles* held = nullptr);
int RunImport(const CommandLine& line, const platform::Services& services,
              const ui::ScriptedUserInterface* scripted, const CommandStreams& streams,
              ImportFilter& filter, platform::HeldTempFiles* held = nullptr);

}  // namespace kv::host
