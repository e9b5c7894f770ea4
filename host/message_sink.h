#pragma once
// Where imported messages go: one writer per output format behind one small interface.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "host/command_line.h"
#include "host/message_identity.h"

namespace kv::host {

// Why the output could not be written, naming the file or folder concerned.
struct WriteError {
  std::string path;
  std::string reason;
};
using WriteOutcome = std::optional<WriteError>;  // nullopt: done

// A handed-over file the host has open already, so that a writer need not open and read it again.
struct OpenMessageFile {
  int fd = -1;             // read and write when the message is owned, else read only; not owned
  std::uint64_t size = 0;  // the file's size
  std::string_view head;   // its first bytes (the whole file when head.size() == size)
};

// A message a filter handed over, as the writers take it.
struct HandedOverMessage {
  std::string path;                  // local path of the filter's temporary message file
  std::uint64_t length = 0;          // bytes to keep: the file without its trailing NUL padding
  std::int32_t state = 0;            // the message state word (GetItemExStatus)
  std::optional<std::int64_t> time;  // the message's date, when its headers give one
  std::string sender;                // the envelope sender for a From_ line
  // The file lies in the filter's temporary folder and is the host's: a writer may move it away.
  // A file anywhere else is only copied, and left where it is.
  bool owned = true;
  // What tells this message apart in its target folder on a later run into the same target.
  std::optional<MessageIdentity> identity;
  // Set when the caller has the file open: writers read and change it through this instead of
  // opening `path`, which still names it. The caller closes it after AddMessage.
  std::optional<OpenMessageFile> open = std::nullopt;
  // The file's bytes when the filter's temporary files are held in memory: writers take them from
  // here (from `start` up to `length`) and leave `path` and `open` alone. Valid during AddMessage.
  std::optional<std::string_view> bytes = std::nullopt;
  // Bytes at the start that Maildir and mbox leave out (a mailbox separator line); .eml keeps
  // every byte as handed over.
  std::uint64_t start = 0;
};

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Makes the destination's root ready; called once before anything else.
  virtual WriteOutcome Start() = 0;
  // Makes sure the folder with this display path exists.
  virtual WriteOutcome CreateFolder(const std::string& display_path) = 0;
  // True when the folder already holds a copy of the message with this identity that no earlier
  // call of this run accounted for (a run into the same target before this one wrote it); that
  // copy is then accounted for and the message is not to be written again. What a folder holds
  // is read on the first call for it.
  virtual bool AlreadyThere(const std::string& display_path, const MessageIdentity& identity) = 0;
  // Stores the message in the folder (created as needed). The writer may move an owned file away;
  // the caller removes whatever is left of it afterwards.
  virtual WriteOutcome AddMessage(const std::string& display_path,
                                  const HandedOverMessage& message) = 0;
  // Flushes and closes; called once after the last message.
  virtual WriteOutcome Finish() { return std::nullopt; }
  // The name on disk of a folder whose full name is too long for the file system and was
  // shortened; nullopt when it was not.
  virtual std::optional<std::string> ShortenedName(const std::string& /*display_path*/) const {
    return std::nullopt;
  }
  // The file the last message went to (for mbox, the mbox file).
  virtual std::string LastWritten() const = 0;
  // True when the last AddMessage renamed the handed-over file itself into place, so that nothing
  // of it is left for the caller to remove.
  virtual bool MovedLastFile() const { return false; }
};

struct SinkOptions {
  bool append = false;          // mbox: add to files that existed before
  std::string inbox = "Inbox";  // maildir: the display path kept in the root as INBOX
  // Maildir and mbox: each CR LF becomes LF, as local mail programs keep their folders. False
  // keeps the bytes as handed over.
  bool to_lf = true;
};

std::unique_ptr<MessageSink> MakeSink(const Destination& destination, const SinkOptions& options);

}  // namespace kv::host
