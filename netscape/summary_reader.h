#pragma once
// The reader of a Netscape summary file (mailbox name + ".snm"): lists a folder's messages with
// their byte range in the mailbox file and their status, and gives the folder name the summary
// stores.
//
// The summary is a big-endian object file: a 24-byte header pointing at a class table, whose
// entries give the root node of one object index per class. Three classes matter: folder
// information (31), message key lists (29) and message headers (30). An index is a tree of nodes;
// its leaves hold (object offset, object key) pairs. A message is listed when the folder
// information counts any message and its header's key occurs in one of the key lists.
//
// The file is mapped read-only and decoded in place through bounds-checked views: an object, node
// or block is read only when all its bytes lie inside the file, the index walk is bounded in depth
// and in the bytes it may read, and a damaged, cut or hostile summary lists fewer messages or none.
// What is left out is reported through the diagnostics service, naming the summary file.
//
// One reader serves one folder at a time: Open, step with NextMessage, Close, Open the next.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/file_system.h"

namespace kv {

// Message kind of an outgoing message; every other kind is incoming.
inline constexpr std::uint16_t kOutgoingMessageKind = 33;
// Message flag bit set once the message has been read.
inline constexpr std::uint32_t kMessageReadFlag = 0x1;

// One listed message: where it lies in the mailbox file and its status.
struct MessageEntry {
  std::uint32_t position = 0;  // byte offset of the message in the mailbox file
  std::uint32_t length = 0;    // its length in bytes
  std::uint32_t flags = 0;     // bit 0: read
  std::uint16_t kind = 0;      // kOutgoingMessageKind for outgoing messages
};

class SummaryReader {
 public:
  // `files` and `diagnostics` must outlive the reader.
  SummaryReader(platform::FileSystem& files, platform::Diagnostics& diagnostics);
  SummaryReader(const SummaryReader&) = delete;
  SummaryReader& operator=(const SummaryReader&) = delete;
  ~SummaryReader();

  // Reads the summary at `path`. True when at least one message is listed; the file then stays
  // mapped until Close. False when nothing is listed, and the reader is then closed and empty; also
  // false, changing nothing, while a summary is still open. `folder` (a display path) only names
  // the folder in reports.
  bool Open(const std::string& path, const std::string& folder = {});
  // Unmaps the file and empties the lists and the folder name; the current entry is kept.
  void Close();
  bool IsOpen() const { return mapping_ != nullptr; }

  std::size_t MessageCount() const { return messages_.size(); }
  // With `first`, makes the first entry current, otherwise the one after the current entry. False
  // when there is none (the current entry then stays as it was).
  bool NextMessage(bool first);

  const MessageEntry& CurrentEntry() const { return current_; }
  std::uint32_t CurrentPosition() const { return current_.position; }
  std::uint32_t CurrentLength() const { return current_.length; }

  // The folder name the summary stores; the summary's own path when its folder information names
  // none, empty when it has no folder information.
  const std::string& FolderName() const { return folder_name_; }

  // Status of the current entry.
  bool IsIncoming() const { return current_.kind != kOutgoingMessageKind; }
  bool IsUnread() const { return IsIncoming() && (current_.flags & kMessageReadFlag) == 0; }
  // Outgoing and in a folder named "Drafts" in any letter case: not sent yet.
  bool IsUnsent() const;

 private:
  platform::FileSystem& files_;
  platform::Diagnostics& diagnostics_;
  std::unique_ptr<platform::MappedFile> mapping_;
  std::string folder_name_;
  std::vector<MessageEntry> messages_;
  std::size_t cursor_ = 0;  // index of the current entry while one is current
  bool has_current_ = false;
  MessageEntry current_;
};

}  // namespace kv
