#pragma once
// The command line of kvimport: subcommands, options and the help text.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::host {

enum class Command { kHelp, kVersion, kList, kImport, kDetect, kInfo };

enum class DestinationKind { kMaildir, kMbox, kEml };

struct Destination {
  DestinationKind kind = DestinationKind::kMaildir;
  std::string path;
};

enum class UiMode { kScript, kTty };

struct CommandLine {
  Command command = Command::kHelp;
  std::string filter;                // --filter: a class table short name ("oe4")
  std::optional<std::string> store;  // --store: the store folder, a Linux path
  std::optional<std::string> start;  // --start: display path of the folder to start from
  bool keep_empty = false;           // --keep-empty: "Skip Empty Folders" unchecked
  bool append = false;               // --append: add to existing mbox files
  bool quiet = false;                // --quiet: no progress line and no summary
  bool as_stored = false;  // --as-stored: messages keep their bytes (CR LF) in Maildir and mbox too
  bool verbose = false;    // --verbose: one line per message written
  bool server = false;     // --server: the filter runs in kvfltrs on the bus
  std::optional<Destination> destination;  // --to
  std::optional<UiMode> ui;                // --ui, when given
  std::string code_page = "WINDOWS-1252";  // --code-page: the store's code page (iconv name)
  bool code_page_given = false;            // --code-page was given; else --disk reads the system's
  // --drive C=/path: where a Windows drive letter of the store's paths lies on this machine.
  std::vector<std::pair<char, std::string>> drives;
  std::string inbox = "Inbox";  // --inbox: the folder that becomes the Maildir's INBOX
  bool inbox_given = false;     // --inbox was given: it must name a folder of the store
  // --registry FILE: the user's registry (a hive such as NTUSER.DAT, or a regedit export).
  std::optional<std::string> registry;
  // --disk DIR: an old system drive; its profile's NTUSER.DAT is the registry and C: is DIR.
  std::optional<std::string> disk;
  std::optional<std::string> user;  // --user NAME: which profile of --disk
  bool json = false;                // --json: detect prints JSON lines
};

struct ParseResult {
  std::optional<CommandLine> command_line;
  std::string error;  // set when command_line is empty
};

// Parses the arguments after the program name. Options take their value as the next argument or
// after "=". Checks what each subcommand needs, except what depends on the terminal (--ui).
ParseResult ParseCommandLine(std::span<const std::string_view> args);

// "maildir:PATH", "mbox:PATH" or "eml:PATH"; nullopt for anything else or an empty path.
std::optional<Destination> ParseDestination(std::string_view text);

std::string HelpText();
// "kvimport <version>" and a line feed.
std::string VersionText();

}  // namespace kv::host
