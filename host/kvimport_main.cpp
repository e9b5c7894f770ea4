// kvimport: the host tool. Picks the real Linux services, answers the filter's dialogs from the
// options or lets a person answer them at the terminal, and runs the subcommand.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string_view>
#include <vector>

#include "host/command_line.h"
#include "host/commands.h"
#include "host/detect.h"
#include "host/exit_codes.h"
#include "host/old_disk.h"
#include "host/problem_report.h"
#include "host/server_mode.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "platform/registry.h"
#include "ui/scripted_ui.h"
#include "ui/terminal/terminal_ui.h"

namespace {

using kv::host::CommandLine;

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int /*signal*/) { g_interrupted = 1; }

// The first SIGINT or SIGTERM asks the import to stop after the current message; a second one
// ends the program at once. System calls are restarted so that no read fails half-way.
void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
using kv::host::UiMode;

UiMode ChooseUi(const CommandLine& line) {
  if (line.ui) return *line.ui;
  bool interactive = ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
  bool answered = line.store || line.registry || line.disk;
  return interactive && !answered ? UiMode::kTty : UiMode::kScript;
}

// "~/" at the start of a destination path, which the shell leaves alone after "maildir:".
void ExpandHome(CommandLine& line) {
  const char* home = std::getenv("HOME");
  if (line.destination && line.destination->path.starts_with("~/") && home != nullptr) {
    line.destination->path = home + line.destination->path.substr(1);
  }
}

// A --store that is missing or not a folder, said plainly before any filter looks at it.
bool StoreFolderUsable(const CommandLine& line) {
  if (!line.store) return true;
  struct stat status {};
  if (::stat(line.store->c_str(), &status) != 0) {
    std::fprintf(stderr, "kvimport: --store %s does not exist\n", line.store->c_str());
    return false;
  }
  if (!S_ISDIR(status.st_mode)) {
    std::fprintf(stderr,
                 "kvimport: --store %s is a file, not a folder: give the folder that holds the "
                 "store's files\n",
                 line.store->c_str());
    return false;
  }
  return true;
}

int Run(CommandLine& line) {
  ExpandHome(line);
  if (!StoreFolderUsable(line)) return kv::host::kExitStoreNotFound;
  UiMode ui_mode = ChooseUi(line);
  if (ui_mode == UiMode::kScript && !line.store && !line.registry && !line.disk) {
    std::fprintf(stderr, "kvimport: --store is required (or --ui tty at a terminal)\n");
    return kv::host::kExitUsage;
  }
  // An old disk says which code page its system used, unless --code-page says otherwise.
  if (line.disk && !line.code_page_given) {
    std::optional<std::string> system_code_page =
        kv::host::SystemCodePage(kv::host::ExamineOldDisk(*line.disk));
    if (system_code_page && *system_code_page != "CP1252") line.code_page = *system_code_page;
  }
  kv::platform::IconvCodePage code_page(line.code_page);
  if (!code_page.valid()) {
    std::fprintf(stderr, "kvimport: unknown code page %s\n", line.code_page.c_str());
    return kv::host::kExitUsage;
  }
  std::unique_ptr<kv::platform::PosixTempFiles> temp_files = kv::host::MakeTempFiles(line);
  kv::platform::PosixTempFiles& temp = *temp_files;
  if (temp.TempPath().empty()) {
    std::fprintf(stderr,
                 "kvimport: no private temporary folder could be made under $TMPDIR or /tmp\n");
    return kv::host::kExitInternalError;
  }
  kv::host::CommandStreams streams{stdout, stderr, ::isatty(STDERR_FILENO) != 0, &g_interrupted};
  if (line.command == kv::host::Command::kDetect) {
    return kv::host::RunDetect(line, code_page, temp, streams);
  }
  kv::host::ProblemReport diagnostics(stderr, code_page);
  streams.problems = &diagnostics;
  // --disk or --registry: the old system's registry, variables and drive C: stand in for this
  // machine's.
  std::optional<kv::host::OldSystem> old_system;
  if (line.disk || line.registry) {
    std::string error;
    old_system = kv::host::OpenOldSystem(line, code_page, diagnostics, error);
    if (!old_system) {
      std::fprintf(stderr, "kvimport: %s\n", error.c_str());
      return kv::host::kExitUsage;
    }
    for (const std::string& note : old_system->notes) {
      std::fprintf(stderr, "kvimport: %s\n", note.c_str());
    }
  }
  kv::platform::PosixFileSystem::Options file_options;
  file_options.code_page = line.code_page;
  if (old_system) file_options.drive_map = old_system->drives;
  for (const auto& [drive, folder] : line.drives) file_options.drive_map[drive] = folder;
  std::string location =
      line.store ? kv::host::StoreLocation(*line.store, code_page, file_options.drive_map) : "";
  kv::platform::PosixFileSystem files(file_options);
  if (old_system && !old_system->registry_readable && !line.store) {
    std::string error;
    location = kv::host::WellKnownLocation(line.filter, files, old_system->environment, error);
    if (!error.empty()) {
      std::fprintf(stderr, "kvimport: %s\n", code_page.ToUtf8(error).c_str());
      return kv::host::kExitStoreNotFound;
    }
  }
  kv::platform::PosixEnvironment process_environment;
  kv::platform::Environment& environment =
      old_system ? static_cast<kv::platform::Environment&>(old_system->environment)
                 : process_environment;
  kv::platform::MemoryRegistry empty_registry;
  kv::platform::Registry& registry = old_system ? *old_system->registry : empty_registry;
  kv::ui::ScriptedUserInterface scripted;
  // With --server the dialogs arrive in UTF-8 and a typed folder goes back in it.
  kv::platform::IconvCodePage utf8("UTF-8");
  kv::platform::CodePage& dialog_code_page = line.server ? utf8 : code_page;
  // The dialogs draw on stderr so that list's output on stdout stays clean.
  kv::ui::TerminalUserInterface terminal(stdin, stderr, &dialog_code_page);
  kv::platform::UserInterface& ui =
      ui_mode == UiMode::kTty ? static_cast<kv::platform::UserInterface&>(terminal) : scripted;
  if (ui_mode == UiMode::kScript) {
    kv::host::QueueDialogAnswers(
        scripted, line, line.server ? code_page.ToUtf8(location) : location, dialog_code_page);
  }

  // An import in this process keeps the filter's temporary files in memory: the host takes each
  // message from there and writes it once. With --server the client reads them by name.
  std::optional<kv::platform::HeldTempFiles> held;
  if (line.command == kv::host::Command::kImport && !line.server && temp.OwnsFolder()) {
    held.emplace(files, temp);
  }
  kv::platform::FileSystem& filter_files =
      held ? static_cast<kv::platform::FileSystem&>(*held) : files;
  kv::platform::TempFiles& filter_temp = held ? static_cast<kv::platform::TempFiles&>(*held) : temp;
  kv::platform::Services services{registry,  filter_files, filter_temp, environment,
                                  code_page, ui,           diagnostics};
  const kv::ui::ScriptedUserInterface* script = ui_mode == UiMode::kScript ? &scripted : nullptr;
  // Dialogs at the terminal keep the default: Ctrl-C there ends the program.
  if (ui_mode == UiMode::kScript) CatchInterrupts();
  if (line.server) {
    return kv::host::RunWithServer(line, services, ui, script, streams, file_options.drive_map);
  }
  if (line.command == kv::host::Command::kList) {
    return kv::host::RunList(line, services, script, streams);
  }
  if (line.command == kv::host::Command::kInfo) {
    return kv::host::RunInfo(line, services, script, streams);
  }
  return kv::host::RunImport(line, services, script, streams, held ? &*held : nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // A file that outgrows the file size limit fails its write (EFBIG) as a full disk does, rather
  // than ending the program in the middle of a message.
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string_view> args(argv + 1, argv + argc);
  kv::host::ParseResult parsed = kv::host::ParseCommandLine(args);
  if (!parsed.command_line) {
    std::fprintf(stderr, "kvimport: %s\nTry 'kvimport --help'.\n", parsed.error.c_str());
    return kv::host::kExitUsage;
  }
  if (parsed.command_line->command == kv::host::Command::kHelp) {
    std::fputs(kv::host::HelpText().c_str(), stdout);
    return kv::host::kExitOk;
  }
  if (parsed.command_line->command == kv::host::Command::kVersion) {
    std::fputs(kv::host::VersionText().c_str(), stdout);
    return kv::host::kExitOk;
  }
  try {
    return Run(*parsed.command_line);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kvimport: internal error: %s\n", error.what());
    return kv::host::kExitInternalError;
  }
}
