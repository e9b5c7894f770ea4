#pragma once
// Writes Outlook Express 4 stores for tests, samples and benchmarks: "folders.nch" in either
// layout, and ".mbx"/".idx" mailbox pairs.
//
// Written from the file layouts alone, independently of the reader, so that the two cannot share
// one misreading:
// - "folders.nch": a 0x240-byte header, then folder records of kFolderRecordStride bytes linked by
//   next-offsets (at +12 in the first layout, at +8 in the second), each with the folder number at
//   +16 (0 = unused), the name (259 bytes) at +20, the mailbox base name (260 bytes) at +279 and
//   the parent number at +539.
// - ".mbx": a header of kMailboxHeaderSize bytes, then per message the marker word 0x7F007F00,
//   three words (message number, record length, text length), the text and NUL padding up to the
//   next 4-byte boundary.
// - ".idx": a 0x50-byte header, then per message a record with the flag byte at +0 and the record
//   length at +16, followed by the message's subject as a zero-terminated, padded tail.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv::platform {
class MemoryFileSystem;
}

namespace kv::testing {

inline constexpr std::size_t kFoldersHeaderSize = 0x240;
inline constexpr std::size_t kFolderRecordStride = 544;
inline constexpr std::size_t kMailboxHeaderSize = 0x3C;
inline constexpr std::size_t kIndexHeaderSize = 0x50;
inline constexpr std::uint32_t kMailboxMarker = 0x7F007F00;

// Index flag bytes.
inline constexpr std::uint8_t kOe4Deleted = 0x01;
inline constexpr std::uint8_t kOe4Unread = 0x02;
inline constexpr std::uint8_t kOe4Received = 0x10;
inline constexpr std::uint8_t kOe4Draft = 0x08;

struct Oe4Message {
  Oe4Message() = default;
  Oe4Message(std::string message_text, std::uint8_t index_flags = kOe4Received,
             std::optional<std::uint32_t> length_override = std::nullopt)
      : text(std::move(message_text)), flags(index_flags), index_length(length_override) {}

  std::string text;  // as stored: header block and body
  std::uint8_t flags = kOe4Received;
  // Replaces the index record's length field (the record itself keeps its real size).
  std::optional<std::uint32_t> index_length;
};

// The bytes of a mailbox file and of its index. With `trailing_marker` the mailbox ends with one
// more marker word after the last record.
std::string Oe4MailboxFile(const std::vector<Oe4Message>& messages, bool trailing_marker = false);
std::string Oe4IndexFile(const std::vector<Oe4Message>& messages);

enum class Oe4Layout { kFirst, kSecond };

struct Oe4FolderEntry {
  std::uint32_t id = 0;  // 0 writes an unused record
  std::string name;
  std::string mailbox;  // base name of the .mbx/.idx pair
  std::uint32_t parent_id = 0;
};

// "folders.nch" with the records chained in the order given. `slots`, when given, places entry i
// in physical record slot slots[i] (chain order then differs from file order); by default entry i
// sits in slot i. The chain starts at slot 0, so slots[0] must be 0.
std::string Oe4FoldersFile(const std::vector<Oe4FolderEntry>& entries, Oe4Layout layout,
                           const std::vector<std::size_t>& slots = {});
// File offset of physical record slot `slot`.
std::uint64_t Oe4FolderRecordOffset(std::size_t slot);

// A whole store: folder list plus mailbox pairs, as file name -> bytes.
struct Oe4Store {
  Oe4Layout layout = Oe4Layout::kFirst;
  bool with_folders_file = true;
  std::vector<Oe4FolderEntry> folders;                       // chain order, unused records included
  std::map<std::string, std::vector<Oe4Message>> mailboxes;  // by mailbox base name

  // Adds a used folder whose mailbox is `mailbox` (default: the name) holding `messages`; returns
  // its number (1, 2, 3 ... in the order added, skipping numbers already taken).
  std::uint32_t AddFolder(const std::string& name, std::uint32_t parent_id = 0,
                          std::vector<Oe4Message> messages = {},
                          std::optional<std::string> mailbox = std::nullopt);
  void AddUnusedRecord();

  std::map<std::string, std::string> Files() const;
  void WriteTo(const std::filesystem::path& dir) const;
  // Adds the files below `dir` ("C:\OE\Mail") of a memory file system.
  void AddTo(platform::MemoryFileSystem& files, const std::string& dir) const;
};

// A plain RFC 822 message for tests: headers with the given subject, a body naming `n`.
std::string Oe4TestMessage(int n, const std::string& extra_headers = "");

}  // namespace kv::testing
