#pragma once
// Maildir++ output as mail servers read it by default: the root holds cur/, new/ and tmp/ and is
// the INBOX; folder A/B is the directory .A.B (names in modified UTF-7) with its own cur/, new/,
// tmp/ and an empty "maildirfolder" file. A message is written to tmp/ under a unique name and
// renamed into new/ (unread) or cur/ (with its flags), or, where the system allows, written as a
// file without a name in new/ or cur/ and linked there once whole; either way it appears whole or
// not at all. Its file time is the message's date. Line
// ends are LF unless the bytes are to be kept as handed over. The unique part of each file name
// carries the message's identity ("K" and 32 hexadecimal digits), which mail programs keep when
// they change a message's flags: a later run reads the names in cur/ and new/ to learn which
// messages a folder already holds, so nothing is written twice.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/message_sink.h"
#include "host/output_files.h"

namespace kv::host {

// Where a message of a given state word goes: new/ without an info part for an unread received
// message; cur/ with ":2,S" for read and sent messages and ":2,DS" for unsent ones (a draft is
// the user's own, so it counts as seen).
struct MaildirPlacement {
  bool in_new = false;
  std::string info;  // ":2,S", ":2,DS" or "" in new/
};
MaildirPlacement PlacementForState(std::int32_t state);

class MaildirWriter final : public MessageSink {
 public:
  // `to_lf`: each CR LF of a message becomes LF. `unnamed_files` false: every message goes through
  // tmp/ and a rename, as where the system cannot link a file without a name.
  MaildirWriter(std::string root, std::string inbox, bool to_lf = true, bool unnamed_files = true);

  WriteOutcome Start() override;
  WriteOutcome CreateFolder(const std::string& display_path) override;
  bool AlreadyThere(const std::string& display_path, const MessageIdentity& identity) override;
  WriteOutcome AddMessage(const std::string& display_path,
                          const HandedOverMessage& message) override;
  std::optional<std::string> ShortenedName(const std::string& display_path) const override;
  std::string LastWritten() const override { return last_written_; }
  bool MovedLastFile() const override { return moved_last_; }

 private:
  // Makes the folder directory (relative to the root, "" for the root) a Maildir once per run.
  WriteOutcome MakeMaildir(const std::string& directory);
  std::string FolderPath(const std::string& directory) const;
  // MaildirFolderDirectory of `display_path`, kept for the next message of the same folder.
  const std::string& DirectoryOf(const std::string& display_path);
  // Opens the tmp/, cur/ and new/ directories of `folder` (a path) unless they are open already.
  WriteOutcome OpenFolder(const std::string& folder);
  // AddMessage for a message held in memory.
  WriteOutcome AddHeldMessage(const std::string& folder, const MaildirPlacement& placement,
                              const HandedOverMessage& message);
  // Writes the message as a file without a name in its new/ or cur/ directory (open as
  // `target_descriptor`) and links it there under a new unique name once whole: one file made
  // and no rename. nullopt when the file system or the kernel cannot, and from then on this
  // writer goes through tmp/.
  std::optional<WriteOutcome> LinkUnnamed(const std::string& target_folder, int target_descriptor,
                                          const MaildirPlacement& placement, std::string_view bytes,
                                          const HandedOverMessage& message);
  // "<seconds>.M<microseconds>P<pid>Q<counter>[K<identity>].<host>,S=<size>", new for every
  // call.
  std::string UniqueName(std::uint64_t size, const std::optional<MessageIdentity>& identity = {});

  std::string root_;
  std::string inbox_;
  bool to_lf_;
  bool link_unnamed_;               // until LinkUnnamed finds that it cannot
  bool link_by_descriptor_ = true;  // until the kernel wants the /proc entry instead
  std::string host_;
  long pid_;  // part of every name; asked once
  std::set<std::string> ready_;
  std::map<std::string, MessagesPresent> present_;  // by folder directory
  std::uint64_t counter_ = 0;
  std::string last_written_;
  bool moved_last_ = false;
  std::vector<char> converted_;  // a held message with LF line ends, on its way out
  std::optional<std::pair<std::string, std::string>> last_directory_;  // display path, directory
  // The directories of the folder messages were last written to.
  struct OpenDirectories {
    std::string path;
    FileDescriptor tmp;
    FileDescriptor cur;
    FileDescriptor fresh;  // new/
  } open_;
};

}  // namespace kv::host
