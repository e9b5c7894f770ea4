#pragma once
// Writes Netscape Messenger mail directories for tests, samples, fuzz seeds and benchmarks: mailbox
// files, their ".snm" summaries and ".sbd" subfolder directories.
//
// Written from the format description, independently of the reader. A summary is big-endian:
// - header (24 bytes): magic 2000016 at +0, class table offset at +8;
// - class table: entry count (16 bits) at +6, entries from +10; an entry is k (1 byte), class id
//   (+1), root node offset (+21), 25 bytes in all, then a tail of 10 + 16 * (k - 1) bytes when
//   k > 0;
// - index node: kind in the high nibble of byte 0 (0x5 root branch, 0x1 branch, 0xD root leaf,
//   0x9 leaf), entry count at +6, entries from +8 (child offsets, or object offset and key pairs);
// - folder information (class 31, 89 bytes): counts at +16 and +20, name offset +81, length +85;
// - message key list (class 29, 26 bytes): key block offset at +22; key block: count at +6, keys
//   from +8;
// - message header (class 30, 62 bytes): position +26, length +38, flags +42, kind (16 bits) +52.

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

inline constexpr std::uint32_t kSnmMagic = 2000016;
inline constexpr std::size_t kSnmHeaderSize = 24;
inline constexpr std::uint32_t kNsFlagRead = 0x1;
inline constexpr std::uint16_t kNsKindIncoming = 0;
inline constexpr std::uint16_t kNsKindOutgoing = 33;

// One message header of a summary.
struct SnmMessage {
  std::uint32_t position = 0;
  std::uint32_t length = 0;
  std::uint32_t flags = 0;
  std::uint16_t kind = kNsKindIncoming;
  std::uint32_t key = 0;
};

struct SnmSummary {
  // The folder name stored in the folder information; nullopt stores none (offset and length 0).
  std::optional<std::string> folder_name;
  // The folder information's two counts; by default the number of messages and of unread ones.
  std::optional<std::pair<std::uint32_t, std::uint32_t>> counts;
  std::vector<SnmMessage> messages;  // in message index order
  // The key blocks, one key list object each; by default one block with every message's key.
  std::optional<std::vector<std::vector<std::uint32_t>>> key_blocks;
  // 0: every index is one root leaf. Otherwise leaves hold at most this many pairs (and branches
  // as many children), under a root branch.
  std::size_t node_fanout = 0;
  // k of every class entry, which sets the length of the entry's tail.
  std::uint8_t class_tail_units = 0;
  // Adds class entries the reader does not use, and a stale first entry for the message class
  // that a later one overrides.
  bool extra_classes = false;
};

// Where the writer put the parts of a summary, for tests that damage one of them.
struct SnmLayout {
  std::string bytes;
  std::uint32_t class_table = 0;
  std::uint32_t folder_info = 0;       // the folder information object
  std::uint32_t folder_info_root = 0;  // root nodes of the three indexes
  std::uint32_t key_list_root = 0;
  std::uint32_t header_root = 0;
  std::vector<std::uint32_t> header_objects;  // one per message, in index order
  std::vector<std::uint32_t> key_blocks;
};

SnmLayout WriteSnm(const SnmSummary& summary);
inline std::string SnmFile(const SnmSummary& summary) { return WriteSnm(summary).bytes; }

// The "From - " separator line that starts every message in a mailbox.
inline constexpr const char* kNsFromLine = "From - Tue Aug 03 10:00:00 1999\r\n";

// A message as the mailbox stores it: its separator line, then its text.
struct NsMessage {
  std::string text;
  std::uint32_t flags = kNsFlagRead;
  std::uint16_t kind = kNsKindIncoming;
  std::string separator = kNsFromLine;
};

struct NsFolder {
  NsFolder() = default;
  NsFolder(std::string folder_name, std::vector<NsMessage> folder_messages = {},
           std::vector<NsFolder> folder_subfolders = {})
      : name(std::move(folder_name)),
        messages(std::move(folder_messages)),
        subfolders(std::move(folder_subfolders)) {}

  std::string name;  // the mailbox file's name
  std::vector<NsMessage> messages;
  std::vector<NsFolder> subfolders;  // written into name + ".sbd"
  bool with_summary = true;
  // The folder name the summary stores; by default `name`. nullopt inside stores none.
  std::optional<std::optional<std::string>> summary_name;
  std::size_t node_fanout = 0;  // see SnmSummary
};

// The mailbox file of `messages` and the summary entries that list them: each message begins with
// its separator line, its position is that line's offset and its key equals its position.
std::pair<std::string, std::vector<SnmMessage>> NsMailbox(const std::vector<NsMessage>& messages);

struct NsMailDirectory {
  std::vector<NsFolder> folders;

  // Every file below the mail directory, by relative path with "/" separators.
  std::map<std::string, std::string> Files() const;
  // Writes the files below `dir`, their names converted from Windows-1252 to UTF-8.
  void WriteTo(const std::filesystem::path& dir) const;
  // Adds the files below `dir` ("C:\Mail") of a memory file system.
  void AddTo(platform::MemoryFileSystem& files, const std::string& dir) const;
};

// A plain message for tests: headers with a subject naming `n`, a body, CR LF line ends.
std::string NsTestMessage(int n, const std::string& extra_headers = "");

}  // namespace kv::testing
