#pragma once
// The two writers that lay folders out as a directory tree:
//  - mbox: folder A/B is the mboxrd file ROOT/A/B.mbox (a folder's subfolders live in the directory
//    of its name beside its .mbox file). Each message starts with a From_ line (sender and date
//    from its headers, the date in UTC); its state is in "Status:" and "X-Status:" headers as mutt
//    and Dovecot read them (those it brought are replaced); lines matching ">*From " gain a ">";
//    CR LF becomes LF unless the bytes are kept as handed over; a line feed ends an unfinished last
//    line, and an empty line follows every message. A message that cannot be written whole (a full
//    disk) is cut away again, so the file always ends after a whole message. Without appending, a
//    root that already holds .mbox files is refused before anything is written, and so is any
//    file that exists when it is first reached. The file ".kvimport-state" in the root records
//    where each message begins in its mbox file (with its identity) and the size each file had
//    when it was closed, so that a later run with --append adds only what is missing; a message a
//    killed run left unfinished at the end of a file is cut away and written again.
//  - eml: folder A/B is the directory ROOT/A/B holding 000001.eml, 000002.eml, ... in walk order,
//    each the message's bytes as handed over; an existing name is never replaced, the next free
//    number is taken instead. A file appears under its name only whole (it is renamed into place).
//    The file time is the message's date. A later run hashes the .eml files a folder holds to learn
//    which messages are there already; staging files a killed run left behind are removed.
// Levels are made safe as file names with SafeFileName.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "host/message_sink.h"
#include "host/output_files.h"

namespace kv::host {

class MboxWriter final : public MessageSink {
 public:
  MboxWriter(std::string root, bool append, bool to_lf = true);

  // The mbox file of a folder.
  std::string MboxPath(const std::string& display_path) const;

  WriteOutcome Start() override;
  WriteOutcome CreateFolder(const std::string& display_path) override;
  bool AlreadyThere(const std::string& display_path, const MessageIdentity& identity) override;
  WriteOutcome AddMessage(const std::string& display_path,
                          const HandedOverMessage& message) override;
  WriteOutcome Finish() override;
  std::optional<std::string> ShortenedName(const std::string& display_path) const override;
  std::string LastWritten() const override { return current_path_; }

 private:
  // Makes `path` the current file: created, or (once per run) accepted for appending.
  WriteOutcome Open(const std::string& path);
  WriteOutcome CloseCurrent();
  // Appends one line to the state file.
  WriteOutcome Record(char kind, const std::optional<MessageIdentity>& identity,
                      std::uint64_t offset);
  // What the state file says the existing file `path` of `size` bytes holds; cuts away a message
  // a killed run left unfinished at its end.
  MessagesPresent Recorded(const std::string& path, FileDescriptor& file, std::uint64_t& size);
  WriteOutcome WriteMessage(const HandedOverMessage& message);
  WriteOutcome WriteAt(std::string_view bytes);

  std::string root_;
  bool append_;
  bool to_lf_;
  std::set<std::string> accepted_;
  std::map<std::string, MessagesPresent> present_;  // by mbox file
  std::string state_text_;                          // the state file as it was at the start
  FileDescriptor state_;
  std::string current_path_;
  FileDescriptor current_;
  std::uint64_t current_size_ = 0;  // bytes of whole messages in the current file
  std::uint64_t pending_ = 0;       // bytes of the message being written, after current_size_
};

class EmlWriter final : public MessageSink {
 public:
  explicit EmlWriter(std::string root);

  std::string FolderPath(const std::string& display_path) const;

  WriteOutcome Start() override;
  WriteOutcome CreateFolder(const std::string& display_path) override;
  bool AlreadyThere(const std::string& display_path, const MessageIdentity& identity) override;
  WriteOutcome AddMessage(const std::string& display_path,
                          const HandedOverMessage& message) override;
  std::optional<std::string> ShortenedName(const std::string& display_path) const override;
  std::string LastWritten() const override { return last_written_; }

 private:
  std::string root_;
  std::map<std::string, MessagesPresent> present_;  // by folder
  std::string last_written_;
  std::set<std::string> ready_;
  std::map<std::string, unsigned> next_number_;
  unsigned staging_number_ = 0;
};

}  // namespace kv::host
