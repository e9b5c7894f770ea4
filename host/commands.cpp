#include "host/commands.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "app/filter_classes.h"
#include "host/digest.h"
#include "host/exit_codes.h"
#include "host/filter_conventions.h"
#include "host/filter_walk.h"
#include "host/info_command.h"
#include "host/message_headers.h"
#include "host/message_sink.h"
#include "host/output_files.h"
#include "host/progress.h"
#include "platform/text.h"

namespace kv::host {
namespace {

using Json = nlohmann::ordered_json;

void Error(const CommandStreams& streams, const std::string& text) {
  std::fprintf(streams.err, "kvimport: %s\n", text.c_str());
}

// What each filter looks for in the store folder, for the message when it found nothing there.
std::string WhatTheFilterLooksFor(const std::string& filter) {
  if (filter == "oe4") return "folders.nch or .mbx/.idx mailbox pairs";
  if (filter == "oe5") return "Folders.dbx and the folders' .dbx files";
  if (filter == "netscape") return "mailbox files, with .snm summaries and .sbd subfolders";
  if (filter == "eudora") return "descmap.pce, or .mbx mailboxes with their .toc summaries";
  return "its store's files";
}

// The folders of the store's folder dialog, in UTF-8, for a message.
std::string StoreFolders(const CommandLine& line, const ui::ScriptedUserInterface& scripted,
                         platform::CodePage& code_page) {
  std::string list;
  for (const std::string& path : scripted.folder_paths()) {
    if (!list.empty()) list += ", ";
    // With --server the dialogs arrive in UTF-8 already.
    list += line.server ? path : code_page.ToUtf8(path);
  }
  return list.empty() ? "(none)" : list;
}

// A folder option that names no folder of the store, refused with the store's folders.
int NoSuchFolder(const CommandLine& line, const ui::ScriptedUserInterface& scripted,
                 const platform::Services& services, const CommandStreams& streams,
                 const std::string& option, const std::string& folder) {
  Error(streams, option + " " + folder + ": the store has no such folder; its folders are: " +
                     StoreFolders(line, scripted, services.code_page));
  return kExitUsage;
}

int StoreNotFound(const CommandLine& line, const ui::ScriptedUserInterface* scripted,
                  const CommandStreams& streams, const platform::Services& services) {
  if (scripted != nullptr && scripted->unknown_folder() && line.start) {
    return NoSuchFolder(line, *scripted, services, streams, "--start", *line.start);
  }
  if (scripted != nullptr && scripted->questions_asked() == 0) {
    Error(streams, "the " + line.filter + " filter has no store reader yet; nothing was imported");
  } else if (line.store) {
    Error(streams, "no " + line.filter + " store in " + *line.store +
                       ": the filter looks there for " + WhatTheFilterLooksFor(line.filter) +
                       " (or a dialog was cancelled; see above). Give the folder that holds them "
                       "with --store.");
  } else {
    std::string where = line.disk       ? "the store the registry of " + *line.disk + " names"
                        : line.registry ? "the store " + *line.registry + " names"
                                        : "the chosen location";
    Error(streams, "store not found or cancelled: " + where + " (the " + line.filter +
                       " filter found no store)");
  }
  return kExitStoreNotFound;
}

std::unique_ptr<ImportFilter> CreateFilter(const CommandLine& line,
                                           const platform::Services& services) {
  const FilterClass* filter_class = FindFilterClass(line.filter);
  return filter_class != nullptr ? filter_class->create(services) : nullptr;
}

Json AutomationJson(const AutomationString& text) { return text ? Json(*text) : Json(nullptr); }

// A handed-over file the host owns: one in the filter's temporary folder. Anything else a filter
// names (it should not) is read, never moved or removed.
bool OwnedByHost(const std::string& path, const platform::Services& services) {
  return IsInsideFolder(path, services.temp.TempPath());
}

// The local path of a file a filter handed over, or nullopt.
std::optional<std::string> HandedOverPath(const std::string& named,
                                          const platform::Services& services) {
  return LocalMessagePath(AutomationString(named), services.files, services.code_page);
}

// The name by which `held` knows the file a filter handed over as `named` (UTF-8): one it holds in
// memory, or one it put on disk when it outgrew memory.
std::optional<std::string> KnownName(const std::string& named, const platform::Services& services,
                                     const platform::HeldTempFiles* held) {
  if (held == nullptr || named.empty()) return std::nullopt;
  if (held->Knows(named)) return named;
  std::string in_code_page = services.code_page.FromUtf8(named);
  if (held->Knows(in_code_page)) return in_code_page;
  return std::nullopt;
}

// Removes a handed-over file that lies in the temporary folder, in memory or on disk.
void RemoveIfOwned(const std::string& named, const platform::Services& services,
                   platform::HeldTempFiles* held) {
  if (std::optional<std::string> name = KnownName(named, services, held)) {
    held->Delete(*name);
    return;
  }
  std::optional<std::string> path = HandedOverPath(named, services);
  if (path && OwnedByHost(*path, services)) RemoveHandedOverFile(*path);
}

// Removes the files of a message taken apart that lie in the temporary folder: its body, HTML and
// rich-text files. Attachments kept in the store stay where they are.
void RemoveParts(const MessageParts& parts, const platform::Services& services,
                 platform::HeldTempFiles* held = nullptr) {
  for (const std::string* named : {&parts.body_file, &parts.html_file, &parts.rich_file}) {
    RemoveIfOwned(*named, services, held);
  }
}

// The size of a message taken apart, which has no whole file: the sum of its text files (body,
// HTML, rich text); nullopt when none of them can be read.
std::optional<std::uint64_t> PartsSize(const MessageParts& parts,
                                       const platform::Services& services) {
  std::optional<std::uint64_t> total;
  for (const std::string* named : {&parts.body_file, &parts.html_file, &parts.rich_file}) {
    std::error_code error;
    std::optional<std::string> path = HandedOverPath(*named, services);
    const std::uintmax_t size = path ? std::filesystem::file_size(*path, error) : 0;
    if (path && !error) total = total.value_or(0) + size;
  }
  return total;
}

Json FileJson(const std::string& named, const platform::Services& services) {
  std::optional<std::string> path = HandedOverPath(named, services);
  std::optional<FileDigest> digest = path ? DigestFile(*path) : std::nullopt;
  if (!digest) return nullptr;
  return Json{{"size", digest->size}, {"sha256", digest->sha256_hex}};
}

// What a message taken apart holds: its header values, its files and its attachment paths; null
// values for an item that is not such a message.
void AddParts(Json& entry, const std::optional<MessageParts>& parts,
              const platform::Services& services) {
  if (!parts) {
    for (const char* key : {"headers", "body", "html", "rich", "attachments"}) entry[key] = nullptr;
    return;
  }
  entry["headers"] = Json{{"from", parts->from},
                          {"to", parts->to},
                          {"subject", parts->subject},
                          {"date", parts->date},
                          {"cc", parts->cc},
                          {"bcc", parts->bcc},
                          {"return_path", parts->return_path},
                          {"sender", parts->sender}};
  entry["body"] = FileJson(parts->body_file, services);
  entry["html"] = FileJson(parts->html_file, services);
  entry["rich"] = FileJson(parts->rich_file, services);
  // A file the filter wrote into its temporary folder (the HTML or rich-text file) is named by its
  // file name alone: the folder is gone after the run, and its name differs from run to run.
  Json attachments = Json::array();
  for (const std::string& named : parts->attachments) {
    std::optional<std::string> path = HandedOverPath(named, services);
    attachments.push_back(path && OwnedByHost(*path, services)
                              ? std::filesystem::path(*path).filename().string()
                              : named);
  }
  entry["attachments"] = std::move(attachments);
  RemoveParts(*parts, services);
}

Json ListEntry(const WalkItem& item, const platform::Services& services, bool in_parts) {
  Json entry;
  entry["folder"] = AutomationJson(item.folder);
  entry["status"] = item.status;
  entry["state"] = item.state;
  entry["message"] = nullptr;
  if (in_parts) AddParts(entry, item.parts, services);
  // A folder item carries no message, whatever file its code 11 names (a filter that reuses one
  // file names it for every item).
  if ((item.status & kItemIsFolder) != 0) return entry;
  if (std::optional<std::string> path =
          LocalMessagePath(item.message_file, services.files, services.code_page)) {
    if (std::optional<FileDigest> digest = DigestFile(*path)) {
      entry["message"] = Json{{"size", digest->size}, {"sha256", digest->sha256_hex}};
    }
    if (OwnedByHost(*path, services)) RemoveHandedOverFile(*path);
  }
  return entry;
}

// Removes the file of an item that is not taken, when the host owns it.
void DiscardItem(const WalkItem& item, const platform::Services& services,
                 platform::HeldTempFiles* held = nullptr) {
  if (item.parts) RemoveParts(*item.parts, services, held);
  if (item.message_file && *item.message_file != kEmptyFolderMarker) {
    RemoveIfOwned(*item.message_file, services, held);
  }
}

// How messages a filter takes apart are rebuilt: where their attachments are looked for, and the
// store's code page.
struct Rebuilding {
  AttachmentFinder finder;
  MimeBuildOptions options;
};

// The folder dialog's root label in UTF-8, when the scripted front saw it; otherwise the output
// takes the first level of the first folder for it.
std::optional<std::string> DialogRoot(const CommandLine& line, const platform::Services& services,
                                      const ui::ScriptedUserInterface* scripted) {
  if (scripted == nullptr || line.server) return std::nullopt;
  return services.code_page.ToUtf8(scripted->folder_root());
}

// The state of one import run: the writer, the counters and the first write error.
class Importer {
 public:
  Importer(MessageSink& sink, const platform::Services& services, ProgressReporter& progress,
           const CommandStreams& streams, bool verbose, const Rebuilding& rebuilding,
           FilterConventions conventions, std::optional<std::string> dialog_root,
           platform::HeldTempFiles* held)
      : held_(held),
        sink_(sink),
        services_(services),
        progress_(progress),
        streams_(streams),
        verbose_(verbose),
        rebuilding_(rebuilding),
        conventions_(conventions),
        output_folders_(conventions.folders_below_root, std::move(dialog_root)) {}

  // Handles one item; false (with error() set) when the output cannot be written. The item's
  // file, when the host owns it, is removed in every case.
  bool Take(const WalkItem& item) {
    std::string folder = output_folders_.Map(item.folder.value_or(""));
    bool marker = (item.status & kItemIsFolder) != 0 ||
                  (item.message_file && *item.message_file == kEmptyFolderMarker);
    std::optional<std::string> path;
    // The name the temporary files know the message by, and its bytes while held in memory.
    std::optional<std::string> known;
    std::optional<std::string_view> held_bytes;
    bool rebuilt = false;
    if (item.parts && !marker) {
      path = Rebuild(folder, *item.parts);
      RemoveParts(*item.parts, services_, held_);
      if (!path) marker = true;  // reported
      rebuilt = path.has_value();
      if (path && held_ != nullptr && held_->Knows(*path)) {
        known = path;
        held_bytes = held_->HeldBytes(*path);
      }
    } else if (!marker) {
      known = KnownName(item.message_file.value_or(""), services_, held_);
      if (known) held_bytes = held_->HeldBytes(*known);
      if (held_bytes) {
        path = known;
      } else {
        path = LocalMessagePath(item.message_file, services_.files, services_.code_page);
      }
    }
    // A rebuilt message is a file the host just made in its temporary folder.
    bool owned = rebuilt || known || (path && OwnedByHost(*path, services_));
    if (!folders_.contains(folder)) {
      error_ = sink_.CreateFolder(folder);
      if (!error_) {
        folders_.insert(folder);
        ++counts_.folders;
        if (std::optional<std::string> name = sink_.ShortenedName(folder)) {
          progress_.ClearLine();
          Error(streams_, "note: folder \"" + folder + "\" is written as " + *name +
                              ": its full name is longer than the file system allows");
        }
      }
    }
    moved_ = false;
    if (!marker && !error_) {
      TakeMessage(folder, item, path, owned, held_bytes);
    }
    if (known) {
      held_->Delete(*known);  // forgotten even when the writer moved the file away
    } else if (owned && !moved_) {
      RemoveHandedOverFile(*path);
    }
    progress_.Update(folder, counts_);
    return !error_;
  }

  const ImportCounts& counts() const { return counts_; }
  void CountProblems(std::uint64_t problems) { counts_.problems = problems; }
  const WriteOutcome& error() const { return error_; }

 private:
  // Writes the message `parts` describe as one MIME message into a new file of the temporary
  // folder. Each attachment that is not found is reported as a part of the store not imported (the
  // message names it in a note). nullopt when the file cannot be written, reported as an output
  // failure.
  std::optional<std::string> Rebuild(const std::string& folder, const MessageParts& parts) {
    const std::string where = services_.code_page.FromUtf8(folder);
    auto output_failure = [&](const std::string& file) {
      services_.diagnostics.Report({platform::DiagnosticKind::kOutputFailure, where, file,
                                    std::nullopt, "the rebuilt message cannot be written",
                                    "the message \"" + parts.subject + "\""});
      return std::nullopt;
    };
    std::string output;
    MimeBuildResult built;
    std::unique_ptr<platform::WritableFile> in_memory;
    if (held_ != nullptr) {
      // Made in memory like the filter's files, and then written once where it goes.
      output = held_->GetTempFileName(held_->TempPath(), "kvm", 0).value_or("");
      if (!output.empty()) in_memory = held_->OpenForWriting(output);
    }
    if (in_memory) {
      built = WriteMimeMessage(parts, rebuilding_.finder, rebuilding_.options, *in_memory, output);
    } else {
      output = services_.temp.TempPath() + "kvimport-XXXXXX";
      const int fd = ::mkostemp(output.data(), O_CLOEXEC);
      if (fd < 0) return output_failure(services_.temp.TempPath());
      built = WriteMimeMessage(parts, rebuilding_.finder, rebuilding_.options, fd, output);
    }
    if (!built.written) {
      if (!held_ || !held_->Delete(output)) RemoveHandedOverFile(output);
      return output_failure(output);
    }
    for (const std::string& missing : built.missing) {
      services_.diagnostics.Report(
          {platform::DiagnosticKind::kSkipped, where, services_.code_page.FromUtf8(missing),
           std::nullopt, "attachment not found",
           services_.code_page.FromUtf8("the file, attached to \"" + parts.subject + "\" of " +
                                        parts.date + "; a note in the message names it")});
    }
    return output;
  }

  // `held_bytes`: the message's bytes, when the file is held in memory (the writer may change
  // them).
  void TakeMessage(const std::string& folder, const WalkItem& item,
                   const std::optional<std::string>& path, bool owned,
                   std::optional<std::string_view> held_bytes) {
    // The file is opened and its first piece read once, for the length, the headers and the
    // writer alike.
    int open_error = 0;
    std::optional<std::uint64_t> length;
    OpenMessageFile open;
    std::optional<std::string_view> held;
    if (held_bytes) held = std::string_view(held_bytes->data(), held_bytes->size());
    if (held) {
      open.size = held->size();
      open.head = held->substr(0, MessageFile::kHeadPiece);
      const std::size_t kept = held->find_last_not_of('\0');
      length = !conventions_.trailing_nul_padding ? held->size()
               : kept == std::string_view::npos   ? 0
                                                  : kept + 1;
    } else if (path && file_.Open(*path, owned, open_error)) {
      length = conventions_.trailing_nul_padding ? file_.LengthWithoutTrailingNuls()
                                                 : std::optional<std::uint64_t>(file_.file().size);
      open = file_.file();
    }
    if (!length) {
      ++counts_.skipped;
      Error(streams_, "skipped an item of folder \"" + folder + "\": " +
                          (item.message_file && !item.message_file->empty()
                               ? "no readable message file " + *item.message_file
                               : std::string("it names no message file")));
      return;
    }
    std::optional<MessageIdentity> identity =
        held ? IdentifyBytes(held->substr(0, static_cast<std::size_t>(*length)))
             : IdentifyMessage(open.fd, open.head, *length);
    if (identity && sink_.AlreadyThere(folder, *identity)) {
      ++counts_.present;
      return;
    }
    MessageHeaders headers(open.head);
    HandedOverMessage message{*path,
                              *length,
                              item.state,
                              MessageTime(headers),
                              EnvelopeSender(headers),
                              owned,
                              identity,
                              held ? std::nullopt : std::optional<OpenMessageFile>(open)};
    message.bytes = held_bytes;
    if (conventions_.separator_line) message.start = SeparatorLineLength(open.head, *length);
    error_ = sink_.AddMessage(folder, message);
    if (!held && !file_.Close() && !error_) {
      error_ = WriteError{sink_.LastWritten(),
                          "the message file could not be closed: " + ErrorText(errno)};
    }
    if (error_) return;
    moved_ = sink_.MovedLastFile();
    if (verbose_) {
      std::fprintf(streams_.err, "kvimport: %s: %s\n", folder.c_str(), sink_.LastWritten().c_str());
    }
    ++counts_.messages;
    counts_.bytes += *length;
  }

  platform::HeldTempFiles* held_;
  MessageSink& sink_;
  const platform::Services& services_;
  ProgressReporter& progress_;
  const CommandStreams& streams_;
  bool verbose_;
  const Rebuilding& rebuilding_;
  FilterConventions conventions_;
  OutputFolders output_folders_;
  std::set<std::string> folders_;
  MessageFile file_;
  bool moved_ = false;  // the sink renamed the current item's file into place
  ImportCounts counts_;
  WriteOutcome error_;
};

bool OutputFailed(const CommandStreams& streams) {
  return streams.problems != nullptr && streams.problems->output_failure().has_value();
}

std::uint64_t StoreProblems(const CommandStreams& streams) {
  return streams.problems != nullptr ? streams.problems->skipped() : 0;
}

// The filter could not write a temporary file: going on would skip mail without end.
int StoppedOnOutputFailure(const CommandStreams& streams) {
  Error(streams, "stopped: the filter cannot write its temporary message file: " +
                     *streams.problems->output_failure() +
                     ". Make room on that disk (or make the folder writable) and run the same "
                     "command again.");
  return kExitOutputError;
}

// Whether --inbox names a folder of the store (as --start does: without regard to ASCII case
// and a trailing "/"), so that the store's own Inbox is never left out of the INBOX by a typo.
bool InboxIsAStoreFolder(const CommandLine& line, const ui::ScriptedUserInterface& scripted,
                         platform::CodePage& code_page) {
  std::string_view inbox = line.inbox;
  while (inbox.size() > 1 && inbox.back() == '/') inbox.remove_suffix(1);
  for (const std::string& path : scripted.folder_paths()) {
    if (platform::EqualsIgnoringCase(line.server ? path : code_page.ToUtf8(path), inbox)) {
      return true;
    }
  }
  return false;
}

int UnknownFilter(const CommandLine& line, const CommandStreams& streams) {
  Error(streams, "unknown filter " + line.filter);
  return kExitUsage;
}

int OutputError(const CommandStreams& streams, const WriteError& error) {
  Error(streams, "cannot write " + error.path + ": " + error.reason);
  return kExitOutputError;
}

}  // namespace

std::string StoreLocation(const std::string& store, platform::CodePage& code_page,
                          std::map<char, std::string>& drive_map) {
  std::string spelled = code_page.FromUtf8(store);
  if (code_page.ToUtf8(spelled) == store) return spelled;
  for (char drive = 'Z'; drive > 'C'; --drive) {
    if (!drive_map.contains(drive)) {
      drive_map[drive] = store;
      return std::string(1, drive) + ":\\";
    }
  }
  return spelled;
}

std::unique_ptr<platform::PosixTempFiles> MakeTempFiles(const CommandLine& line) {
  if (line.command != Command::kImport || line.server || !line.destination) {
    // A folder of this run's own: filters write fixed names ("text.htm"), which two runs at the
    // same time must not share.
    const char* tmpdir = std::getenv("TMPDIR");
    return std::make_unique<platform::PosixTempFiles>(platform::PosixTempFiles::OwnFolder{
        tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp", "kvimport-"});
  }
  std::string parent = line.destination->path;
  if (line.destination->kind == DestinationKind::kMaildir) parent += "/tmp";
  return std::make_unique<platform::PosixTempFiles>(
      platform::PosixTempFiles::OwnFolder{parent, ".kvimport-tmp-"});
}

void QueueDialogAnswers(ui::ScriptedUserInterface& ui, const CommandLine& line,
                        const std::string& location, platform::CodePage& code_page) {
  // With the old system's registry and no --store, the filter's own proposal is taken.
  if (location.empty() && (line.registry || line.disk)) {
    ui.AcceptProposedLocation();
  } else {
    ui.AnswerLocation(location);
  }
  ui::ScriptedUserInterface::FolderAnswer folder;
  if (line.start) folder.path = code_page.FromUtf8(*line.start);
  folder.skip_empty = !line.keep_empty;
  ui.AnswerFolderDialog(folder);
  ui.AnswerMessageBox(platform::kIdNo);
}

int RunList(const CommandLine& line, const platform::Services& services,
            const ui::ScriptedUserInterface* scripted, const CommandStreams& streams) {
  std::unique_ptr<ImportFilter> filter = CreateFilter(line, services);
  if (!filter) return UnknownFilter(line, streams);
  return RunList(line, services, scripted, streams, *filter);
}

int RunList(const CommandLine& line, const platform::Services& services,
            const ui::ScriptedUserInterface* scripted, const CommandStreams& streams,
            ImportFilter& filter) {
  bool interrupted = false;
  bool write_failed = false;
  WalkOutcome outcome = WalkFilter(filter, [&](const WalkItem& item) {
    if (OutputFailed(streams)) {
      DiscardItem(item, services);
      return false;
    }
    std::string text = ListEntry(item, services, line.filter == "eudora")
                           .dump(-1, ' ', false, Json::error_handler_t::replace);
    if (std::fprintf(streams.out, "%s\n", text.c_str()) < 0 || std::ferror(streams.out)) {
      write_failed = true;
      return false;
    }
    interrupted = streams.interrupted != nullptr && *streams.interrupted != 0;
    return !interrupted;
  });
  if (std::fflush(streams.out) != 0 || std::ferror(streams.out)) write_failed = true;
  if (write_failed) {
    Error(streams, "cannot write the list to standard output: " + ErrorText(errno));
    return kExitOutputError;
  }
  if (interrupted) {
    Error(streams, "interrupted; the list is complete up to its last line");
    return kExitInterrupted;
  }
  if (OutputFailed(streams)) return StoppedOnOutputFailure(streams);
  if (outcome == WalkOutcome::kStoreNotFound) {
    return StoreNotFound(line, scripted, streams, services);
  }
  if (std::uint64_t problems = StoreProblems(streams)) {
    Error(streams, "warning: " + std::to_string(problems) + (problems == 1 ? " part" : " parts") +
                       " of the store cannot be read (named above); the list shows the rest");
    return kExitSkippedItems;
  }
  return kExitOk;
}

int RunInfo(const CommandLine& line, const platform::Services& services,
            const ui::ScriptedUserInterface* scripted, const CommandStreams& streams) {
  std::unique_ptr<ImportFilter> filter = CreateFilter(line, services);
  if (!filter) return UnknownFilter(line, streams);
  return RunInfo(line, services, scripted, streams, *filter);
}

int RunInfo(const CommandLine& line, const platform::Services& services,
            const ui::ScriptedUserInterface* scripted, const CommandStreams& streams,
            ImportFilter& filter) {
  if (!FindStore(filter)) return StoreNotFound(line, scripted, streams, services);
  const FilterConventions conventions = ConventionsFor(line.filter);
  OutputFolders folders(conventions.folders_below_root, DialogRoot(line, services, scripted));
  StoreSummary summary;
  MessageFile file;
  bool interrupted = false;
  WalkItems(filter, [&](const WalkItem& item) {
    if (OutputFailed(streams)) {
      DiscardItem(item, services);
      return false;
    }
    const bool marker = (item.status & kItemIsFolder) != 0 ||
                        (item.message_file && *item.message_file == kEmptyFolderMarker);
    std::optional<std::uint64_t> bytes;
    if (!marker && item.parts) {
      bytes = PartsSize(*item.parts, services);
      RemoveParts(*item.parts, services);
    } else if (!marker) {
      if (std::optional<std::string> path =
              LocalMessagePath(item.message_file, services.files, services.code_page)) {
        int error = 0;
        if (file.Open(*path, false, error)) {
          bytes = conventions.trailing_nul_padding ? file.LengthWithoutTrailingNuls()
                                                   : std::optional<std::uint64_t>(file.file().size);
        }
        file.Close();
        if (OwnedByHost(*path, services)) RemoveHandedOverFile(*path);
      }
    }
    summary.Add(folders.Map(item.folder.value_or("")), !marker, item.state, bytes);
    interrupted = streams.interrupted != nullptr && *streams.interrupted != 0;
    return !interrupted;
  });
  std::string text = summary.Text();
  const std::uint64_t problems = StoreProblems(streams);
  if (problems > 0) {
    text += "problems: " + std::to_string(problems) + (problems == 1 ? " part" : " parts") +
            " of the store cannot be read (each named on stderr)\n";
  }
  if (std::fputs(text.c_str(), streams.out) < 0 || std::fflush(streams.out) != 0 ||
      std::ferror(streams.out)) {
    Error(streams, "cannot write to standard output: " + ErrorText(errno));
    return kExitOutputError;
  }
  if (interrupted) {
    Error(streams, "interrupted; the tree shows the folders read so far");
    return kExitInterrupted;
  }
  if (OutputFailed(streams)) return StoppedOnOutputFailure(streams);
  return problems > 0 ? kExitSkippedItems : kExitOk;
}

int RunImport(const CommandLine& line, const platform::Services& services,
              const ui::ScriptedUserInterface* scripted, const CommandStreams& streams,
              platform::HeldTempFiles* held) {
  std::unique_ptr<ImportFilter> filter = CreateFilter(line, services);
  if (!filter) return UnknownFilter(line, streams);
  return RunImport(line, services, scripted, streams, *filter, held);
}

int RunImport(const CommandLine& line, const platform::Services& services,
              const ui::ScriptedUserInterface* scripted, const CommandStreams& streams,
              ImportFilter& filter, platform::HeldTempFiles* held) {
  if (!line.destination) {
    Error(streams, "no destination given");
    return kExitUsage;
  }
  if (!FindStore(filter)) return StoreNotFound(line, scripted, streams, services);
  if (line.inbox_given && !line.inbox.empty() && scripted != nullptr &&
      !scripted->folder_paths().empty() &&
      !InboxIsAStoreFolder(line, *scripted, services.code_page)) {
    return NoSuchFolder(line, *scripted, services, streams, "--inbox", line.inbox);
  }
  const std::string inbox =
      line.inbox_given ? line.inbox : std::string(ConventionsFor(line.filter).inbox);
  std::unique_ptr<MessageSink> sink =
      MakeSink(*line.destination, SinkOptions{line.append, inbox, !line.as_stored});
  if (WriteOutcome started = sink->Start()) return OutputError(streams, *started);

  ProgressReporter progress(streams.err, streams.err_is_terminal && !line.quiet, !line.quiet);
  if (streams.problems != nullptr) streams.problems->set_before_line([&] { progress.ClearLine(); });
  const Rebuilding rebuilding{
      AttachmentFinder(services.files, services.code_page, line.store.value_or("")),
      MimeBuildOptions{MimeCharsetName(line.code_page), &services.code_page,
                       line.destination->kind != DestinationKind::kEml && !line.as_stored, held}};
  Importer importer(*sink, services, progress, streams, line.verbose, rebuilding,
                    ConventionsFor(line.filter), DialogRoot(line, services, scripted), held);
  bool interrupted = false;
  WalkItems(filter, [&](const WalkItem& item) {
    if (OutputFailed(streams)) {
      DiscardItem(item, services, held);
      return false;
    }
    if (!importer.Take(item)) return false;
    interrupted = streams.interrupted != nullptr && *streams.interrupted != 0;
    return !interrupted;
  });
  WriteOutcome finished = sink->Finish();
  importer.CountProblems(StoreProblems(streams));
  progress.Finish(importer.counts());
  if (streams.problems != nullptr) streams.problems->set_before_line(nullptr);

  if (importer.error()) return OutputError(streams, *importer.error());
  if (finished) return OutputError(streams, *finished);
  if (OutputFailed(streams)) return StoppedOnOutputFailure(streams);
  if (interrupted) {
    Error(streams, "interrupted; the messages written to " + line.destination->path +
                       " are complete, the rest of the store was not imported");
    return kExitInterrupted;
  }
  const ImportCounts& counts = importer.counts();
  if (counts.skipped > 0 || counts.problems > 0) {
    std::string what;
    if (counts.problems > 0) {
      what = std::to_string(counts.problems) + (counts.problems == 1 ? " part" : " parts") +
             " of the store could not be read";
    }
    if (counts.skipped > 0) {
      if (!what.empty()) what += " and ";
      what += std::to_string(counts.skipped) + (counts.skipped == 1 ? " item" : " items") +
              " named no readable message";
    }
    Error(streams, "warning: " + what + " (each is named above); everything else is in " +
                       line.destination->path);
    return kExitSkippedItems;
  }
  return kExitOk;
}

}  // namespace kv::host
