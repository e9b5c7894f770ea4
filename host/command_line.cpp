#include "host/command_line.h"

#include <cctype>

namespace kv::host {
namespace {

constexpr std::string_view kFilterNames[] = {"eudora", "netscape", "oe5", "oe4"};

bool IsKnownFilter(std::string_view name) {
  for (std::string_view known : kFilterNames) {
    if (name == known) return true;
  }
  return false;
}

ParseResult Fail(std::string error) { return ParseResult{std::nullopt, std::move(error)}; }

// The short options of the common long ones.
std::string_view LongOption(std::string_view argument) {
  struct Short {
    std::string_view short_name;
    std::string_view long_name;
  };
  static constexpr Short kShort[] = {
      {"-f", "--filter"},     {"-s", "--store"},  {"-t", "--to"},
      {"-k", "--keep-empty"}, {"-a", "--append"}, {"-q", "--quiet"},
      {"-v", "--verbose"},    {"-h", "--help"},   {"-V", "--version"}};
  for (const Short& option : kShort) {
    if (argument == option.short_name) return option.long_name;
  }
  return argument;
}

// Walks the arguments, splitting "--name=value" and taking values from the next argument.
class ArgumentReader {
 public:
  explicit ArgumentReader(std::span<const std::string_view> args) : args_(args) {}

  bool AtEnd() const { return index_ >= args_.size(); }
  std::string_view Peek() const { return args_[index_]; }
  std::string_view Take() { return args_[index_++]; }

  // For an option that takes a value: the value after "=" or the next argument.
  std::optional<std::string> Value(std::string_view argument) {
    std::size_t equals = argument.find('=');
    if (equals != std::string_view::npos) return std::string(argument.substr(equals + 1));
    if (AtEnd()) return std::nullopt;
    return std::string(Take());
  }

 private:
  std::span<const std::string_view> args_;
  std::size_t index_ = 0;
};

std::string_view OptionName(std::string_view argument) {
  return argument.substr(0, argument.find('='));
}

bool ParseDrive(const std::string& text, CommandLine& line) {
  if (text.size() < 3 || text[1] != '=' || !std::isalpha(static_cast<unsigned char>(text[0]))) {
    return false;
  }
  line.drives.emplace_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text[0]))),
                           text.substr(2));
  return true;
}

std::string CheckComplete(const CommandLine& line) {
  if (line.command == Command::kHelp || line.command == Command::kVersion) return {};
  if (line.registry && line.disk) return "--registry and --disk exclude each other";
  if (line.user && !line.disk) return "--user belongs to --disk";
  if (line.json && line.command != Command::kDetect) return "--json belongs to detect";
  if (line.server && (line.command == Command::kDetect || line.disk || line.registry)) {
    return "--server runs list and import with --store; it reads no old system's registry";
  }
  if (line.server && line.command == Command::kInfo) {
    return "--server runs list and import; info runs the filter in kvimport";
  }
  if (line.command == Command::kDetect) {
    if (!line.disk && !line.registry) return "detect needs --disk DIR or --registry FILE";
    if (line.destination || line.store || line.start) {
      return "detect takes no --to, --store or --start";
    }
    if (!line.filter.empty() && !IsKnownFilter(line.filter)) {
      return "unknown filter \"" + line.filter + "\" (use eudora, netscape, oe5 or oe4)";
    }
    return {};
  }
  if (line.filter.empty()) return "--filter is required";
  if (!IsKnownFilter(line.filter)) {
    return "unknown filter \"" + line.filter + "\" (use eudora, netscape, oe5 or oe4)";
  }
  if (line.command == Command::kImport && !line.destination) return "--to is required";
  const bool reads_only = line.command == Command::kList || line.command == Command::kInfo;
  if (reads_only && line.destination) return "--to belongs to import";
  if (reads_only && line.append) return "--append belongs to import";
  if (reads_only && line.as_stored) return "--as-stored belongs to import";
  if (line.inbox_given &&
      (line.command != Command::kImport || line.destination->kind != DestinationKind::kMaildir)) {
    return "--inbox belongs to import into maildir: (mbox and .eml have no INBOX)";
  }
  if (line.ui == UiMode::kTty && (line.store || line.start || line.keep_empty)) {
    return "--store, --start and --keep-empty are answered in the dialogs with --ui tty";
  }
  if (line.ui == UiMode::kScript && !line.store && !line.registry && !line.disk) {
    return "--store (or --registry or --disk) is required with --ui script";
  }
  return {};
}

}  // namespace

std::optional<Destination> ParseDestination(std::string_view text) {
  struct Prefix {
    std::string_view text;
    DestinationKind kind;
  };
  static constexpr Prefix kPrefixes[] = {{"maildir:", DestinationKind::kMaildir},
                                         {"mbox:", DestinationKind::kMbox},
                                         {"eml:", DestinationKind::kEml}};
  for (const Prefix& prefix : kPrefixes) {
    if (text.starts_with(prefix.text) && text.size() > prefix.text.size()) {
      return Destination{prefix.kind, std::string(text.substr(prefix.text.size()))};
    }
  }
  return std::nullopt;
}

ParseResult ParseCommandLine(std::span<const std::string_view> args) {
  CommandLine line;
  ArgumentReader reader(args);
  if (reader.AtEnd()) return Fail("no command given (list, import, info, detect or --help)");
  std::string_view command = reader.Take();
  if (command == "--help" || command == "-h" || command == "help") {
    line.command = Command::kHelp;
    return ParseResult{line, {}};
  }
  if (command == "--version" || command == "-V") {
    line.command = Command::kVersion;
    return ParseResult{line, {}};
  }
  if (command == "list") {
    line.command = Command::kList;
  } else if (command == "import") {
    line.command = Command::kImport;
  } else if (command == "info") {
    line.command = Command::kInfo;
    line.keep_empty = true;  // the tree shows empty folders too
  } else if (command == "detect") {
    line.command = Command::kDetect;
  } else {
    return Fail("unknown command \"" + std::string(command) +
                "\" (use list, import, info, detect or --help)");
  }

  while (!reader.AtEnd()) {
    std::string_view argument = LongOption(reader.Take());
    std::string_view name = OptionName(argument);
    bool has_inline_value = name.size() != argument.size();
    auto value = [&]() { return reader.Value(argument); };
    auto flag = [&](bool& target) {
      if (has_inline_value) return false;
      target = true;
      return true;
    };
    std::optional<std::string> text;
    if (name == "--help") {
      line.command = Command::kHelp;
      return ParseResult{line, {}};
    } else if (name == "--version") {
      line.command = Command::kVersion;
      return ParseResult{line, {}};
    } else if (name == "--keep-empty" || name == "--append" || name == "--quiet" ||
               name == "--json" || name == "--as-stored" || name == "--verbose" ||
               name == "--server") {
      bool& target = name == "--keep-empty" ? line.keep_empty
                     : name == "--append"   ? line.append
                     : name == "--json"     ? line.json
                     : name == "--quiet"    ? line.quiet
                     : name == "--verbose"  ? line.verbose
                     : name == "--server"   ? line.server
                                            : line.as_stored;
      if (!flag(target)) return Fail(std::string(name) + " takes no value");
      continue;
    } else if (name != "--filter" && name != "--store" && name != "--start" && name != "--to" &&
               name != "--ui" && name != "--code-page" && name != "--drive" && name != "--inbox" &&
               name != "--registry" && name != "--disk" && name != "--user") {
      return Fail("unknown option \"" + std::string(argument) + "\"");
    }
    text = value();
    if (!text) return Fail(std::string(name) + " needs a value");
    if (name == "--filter") {
      line.filter = *text;
    } else if (name == "--store") {
      if (text->empty()) return Fail("--store needs a folder");
      line.store = *text;
    } else if (name == "--start") {
      line.start = *text;
    } else if (name == "--to") {
      line.destination = ParseDestination(*text);
      if (!line.destination) {
        return Fail("--to must be maildir:PATH, mbox:PATH or eml:PATH, not \"" + *text + "\"");
      }
    } else if (name == "--ui") {
      if (*text == "tty") {
        line.ui = UiMode::kTty;
      } else if (*text == "script") {
        line.ui = UiMode::kScript;
      } else {
        return Fail("--ui must be tty or script");
      }
    } else if (name == "--code-page") {
      if (text->empty()) return Fail("--code-page needs a code page name");
      line.code_page = *text;
      line.code_page_given = true;
    } else if (name == "--drive") {
      if (!ParseDrive(*text, line)) return Fail("--drive must look like C=/path");
    } else if (name == "--inbox") {
      line.inbox = *text;
      line.inbox_given = true;
    } else if (name == "--registry" || name == "--disk" || name == "--user") {
      if (text->empty()) return Fail(std::string(name) + " needs a value");
      (name == "--registry" ? line.registry : name == "--disk" ? line.disk : line.user) = *text;
    }
  }
  std::string error = CheckComplete(line);
  if (!error.empty()) return Fail(std::move(error));
  return ParseResult{line, {}};
}

std::string VersionText() { return std::string("kvimport ") + KV_VERSION + "\n"; }

std::string HelpText() {
  return R"(kvimport: copy the mail of an old Windows mail client's store into Maildir, mbox or .eml files

Usage:
  kvimport --help | --version
  kvimport list   --filter F --store DIR [--start FOLDER] [--keep-empty]
  kvimport import --filter F --store DIR --to maildir:PATH|mbox:PATH|eml:PATH
                  [--start FOLDER] [--keep-empty] [--append] [--as-stored] [--quiet]
                  [--inbox FOLDER]
  kvimport info   --filter F --store DIR [--start FOLDER]
  kvimport import --filter F --to ... --ui tty
  kvimport detect --disk DIR [--user NAME] [--filter F] [--json]
  kvimport list|import|detect ... --disk DIR [--user NAME]          (instead of --store)
  kvimport list|import|detect ... --registry FILE [--drive C=DIR]   (instead of --store)

Filters (F): eudora, netscape, oe5, oe4.

detect runs every filter's own store discovery on an old system drive, for every user profile,
with no questions asked, and prints each store found with its folders and messages (one JSON
object per line with --json). With --disk or --registry, list and import need no --store: the
filter finds its store as it did on the old PC.

list prints one JSON object per item on stdout, in the order the filter walks the store:
  {"folder": ..., "status": ..., "state": ..., "message": {"size": N, "sha256": "..."} or null}
  (eudora adds each message's pieces: "headers", "body", "html", "rich", "attachments")
info prints the store's folder tree (empty folders too) with each folder's messages, bytes and
states, then the totals and the number of problems found (each named on stderr); it writes
nothing else.
import creates every folder and writes every message:
  maildir:PATH  Maildir++ (PATH/cur,new,tmp; folder A/B in PATH/.A.B); the folder named by
                --inbox (default Inbox, In for eudora) becomes the INBOX at PATH itself.
                Unread messages go to new/, read ones to cur/ with flag S, unsent ones to
                cur/ with flags DS.
  mbox:PATH     one mboxrd file per folder: folder A/B in PATH/A/B.mbox; the state is in
                Status: (RO read, O unread) and X-Status: (T draft) headers.
  eml:PATH      one file per message: folder A/B in PATH/A/B/000001.eml, 000002.eml, ...
Maildir and mbox hold LF line ends; .eml files hold the bytes as handed over.
Existing output is never overwritten: a Maildir gains new files, .eml files take the next free
number, and mbox files that exist are refused unless --append is given. A second run into the
same target (mbox: with --append) adds only the messages that are not there yet.

Options (the common ones also as -f, -s, -t, -k, -a, -q, -v, -h, -V):
  -f, --filter F     which filter reads the store
  -s, --store DIR    the store folder; the filter's location dialog is answered with it
  --start FOLDER     import only this folder and those below it (a path such as Inbox/Old, as
                     the folder dialog shows it without its root label; case does not matter);
                     default: everything
  -k, --keep-empty   report empty folders too (clears "Skip Empty Folders"); import creates them
  -t, --to DEST      where import writes: maildir:PATH, mbox:PATH or eml:PATH
  -a, --append       add to existing mbox files
  --as-stored        keep each message's bytes as stored (CR LF line ends) in Maildir and mbox
  --inbox FOLDER     the folder of the store that becomes the Maildir's INBOX (default Inbox;
                     In for eudora)
  -q, --quiet        no progress line and no closing summary
  -v, --verbose      one line on stderr for each message written, naming the file
  -V, --version      the version
  -h, --help         this text
  --ui tty|script    tty: a person answers the dialogs at the terminal (the default when stdin
                     and stdout are terminals and no --store is given); script: the answers
                     come from the options
  --code-page NAME   the code page of the store's file and folder names (default WINDOWS-1252)
  --drive C=/path    where drive C: of the store's own paths lies on this machine
  --disk DIR         an old Windows system drive (mounted or copied): the user's NTUSER.DAT
                     (profiles in Documents and Settings, Users, WINNT\Profiles or
                     Windows\Profiles) is the registry, C: is DIR, %VAR% as the user had them
  --user NAME        which profile of --disk (needed when it has several)
  --registry FILE    the user's registry: a hive (NTUSER.DAT) or a regedit export (.reg)
  --json             detect prints one JSON object per filter and user
  --server           run the filter in the kvfltrs server on the D-Bus session bus (started by
                     the bus; register it once by running kvfltrs); the output is the same

Exit codes:
  0  done
  1  internal error
  2  usage error
  3  store not found, or a dialog was cancelled
  4  output not writable (a full disk, standard output), or it would be overwritten
  5  done, but parts of the store could not be read (each is named on stderr)
  130  interrupted (Ctrl-C or SIGTERM): the messages written so far are complete
)";
}

}  // namespace kv::host
