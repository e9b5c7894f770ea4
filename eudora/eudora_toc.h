#pragma once
// The summary file (".toc") beside a Eudora mailbox: a 104-byte header, then one 218-byte record
// per message in mailbox order. The filter reads a message's state, priority and two option bytes
// from its record; the record's offset and length of the message in the mailbox tell whether the
// summary still matches the mailbox.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/byte_view.h"
#include "platform/file_system.h"

namespace kv {

inline constexpr std::uint64_t kTocHeaderSize = 104;  // not read
inline constexpr std::uint64_t kTocRecordSize = 218;

// The fields of one record the filter uses.
struct TocRecord {
  std::uint32_t offset = 0;   // where the message starts in the mailbox
  std::uint32_t length = 0;   // its length in the mailbox
  std::uint8_t state = 0;     // 0 unread, 1-4 received, 8 sent, other above 4: not yet sent
  std::uint8_t encoding = 0;  // "=" (0x3D): quoted-printable was asked for
  std::uint8_t mime = 0;      // 0: the message is sent as MIME
  std::uint8_t priority = 0;  // 1, 2 highest/high; 4, 5 low/lowest; others normal

  bool IsReceived() const { return state <= 4; }
  bool IsUnread() const { return state == 0; }
  bool IsUnsent() const { return state > 4 && state != 8; }
  // The priority class the options record carries: 2 high, 1 low, 0 normal.
  std::int32_t PriorityClass() const;
  // The option bytes the host's message options record carries.
  std::uint8_t QpOption() const { return encoding == 0x3D ? 2 : 0; }
  std::uint8_t MimeOption() const { return mime == 0 ? 1 : 0; }
};

// Decodes a record of kTocRecordSize bytes; nullopt when `record` is shorter.
std::optional<TocRecord> DecodeTocRecord(ByteView record);

// An open summary file, read record by record.
class TocFile {
 public:
  explicit TocFile(std::unique_ptr<platform::ReadableFile> file) : file_(std::move(file)) {}

  // The record of message `index` (0-based); nullopt when the file ends inside it or before it,
  // or cannot be read.
  std::optional<TocRecord> Read(std::uint64_t index);
  // How many whole records the file holds; nullopt when its size is unknown.
  std::optional<std::uint64_t> RecordCount() const;

 private:
  std::unique_ptr<platform::ReadableFile> file_;
};

}  // namespace kv
