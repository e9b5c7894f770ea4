#pragma once
// Writes Outlook Express 5 database files for tests, fuzz seeds, the bundled sample and
// benchmarks: "Folders.dbx" and folder files with multi-level index trees, records with direct and
// indirect fields, and body block chains. Written from the format as the mail client lays it out,
// independently of the reader, and checked against files the client wrote:
// - a header of kDbxHeaderSize bytes starting with the file kind's signature; a folder file keeps
//   its message count at 0xC4 and its index root at 0xE4, "Folders.dbx" its folder count at 0xCC
//   and its index root at 0xEC;
// - index nodes: self offset, 0, left child, 0, the entry count in bytes 17 to 19, then entries of
//   (marker, record offset, child node), and one zero word after the last entry;
// - records: self offset, body length L, 0, field count K, 1, then K descriptors (id byte and a
//   24-bit value: the value itself when the id has 0x80 set, else the offset of the field's data
//   in the data area), then the data area;
// - body blocks of 16 + 512 bytes: self offset, 0x200, data length, next block, data.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {
class MemoryFileSystem;
}

namespace kv::testing {

inline constexpr std::size_t kDbxHeaderSize = 0x24BC;
inline constexpr std::uint32_t kDbxBlockCapacity = 0x200;

// Message flags of a folder file's field 1.
inline constexpr std::uint32_t kDbxRead = 0x80;
inline constexpr std::uint32_t kDbxUnsent = 0x08;

// One field of a record: direct (id byte with 0x80, the value in the descriptor) or indirect (id
// byte below 0x80, the data in the data area).
struct DbxField {
  std::uint8_t id = 0;
  std::uint32_t value = 0;  // direct: the 24-bit value
  std::string data;         // indirect: the bytes in the data area
  // Indirect: the descriptor names this data area offset instead of where the data went.
  std::optional<std::uint32_t> offset_override;

  static DbxField Direct(std::uint8_t id, std::uint32_t value);
  static DbxField Word(std::uint8_t id, std::uint32_t value);      // indirect 32-bit word
  static DbxField String(std::uint8_t id, std::string_view text);  // indirect, NUL added
};

struct DbxRecordSpec {
  std::vector<DbxField> fields;
  std::optional<std::uint32_t> length_override;  // replaces L in the header
  std::optional<std::uint8_t> count_override;    // replaces K in the header
};

// An index tree to write: node 0 is the root; children name other nodes by index.
struct DbxIndexEntry {
  std::uint32_t marker = 0;
  std::uint32_t value = 0;  // a record offset (or anything, for damage tests)
  int child = -1;
};
struct DbxIndexNode {
  int left = -1;
  std::vector<DbxIndexEntry> entries;
  std::optional<std::uint32_t> self_override;  // replaces the self offset word
};
struct DbxIndex {
  std::vector<DbxIndexNode> nodes;
};

enum class DbxIndexShape {
  kFlat,          // one node holding every value
  kLeftChain,     // nodes of up to `fanout` entries, each node's left child holding the values
                  // before it; the first entry's marker is the left subtree's value count
  kEntrySubtrees  // every entry of a full node has a child subtree; the left child too
};

// A tree whose in-order walk gives `values`, with nodes of at most `fanout` entries.
DbxIndex MakeIndex(const std::vector<std::uint32_t>& values, DbxIndexShape shape,
                   std::size_t fanout = 3);

// One file being written: space is handed out from the end of the header on.
class DbxFileWriter {
 public:
  enum class Kind { kFolders, kMessages };
  explicit DbxFileWriter(Kind kind);

  // Appends a record and returns its offset.
  std::uint32_t AddRecord(const DbxRecordSpec& record);
  // Appends the text as a chain of blocks of `block_data` bytes each (the last one shorter) and
  // returns the first block's offset; 0 for an empty text.
  std::uint32_t AddText(std::string_view text, std::size_t block_data = kDbxBlockCapacity);
  // Appends one block with the given length word and data, linked to `next`; returns its offset.
  std::uint32_t AddBlock(std::uint32_t length_word, std::string_view data, std::uint32_t next = 0);
  // Appends the nodes of `index`; returns the root node's offset (0 for no nodes).
  std::uint32_t AddIndex(const DbxIndex& index);
  // Sets the index root and the record count header words of this file's kind.
  void SetRoot(std::uint32_t root, std::uint32_t count);

  void Put32(std::uint64_t offset, std::uint32_t value);
  std::uint32_t Get32(std::uint64_t offset) const;
  std::uint64_t size() const { return bytes_.size(); }
  const std::string& bytes() const { return bytes_; }

 private:
  std::uint32_t Allocate(std::size_t size);
  Kind kind_;
  std::string bytes_;
};

struct DbxMessage {
  std::string text;  // as stored: header block and body
  std::uint32_t flags = kDbxRead;
  bool flags_field = true;      // write field 0x81 (direct)
  bool flags_indirect = false;  // write the flags as field 0x01 instead
  bool size_field = true;       // write field 0x91, the text's size
  std::vector<DbxField> extra_fields = {};
};

struct DbxFolder {
  std::uint32_t id = 0;
  std::optional<std::uint32_t> parent_id = {};  // field 0x81; none when absent
  std::optional<std::string> name = {};         // field 0x02
  std::optional<std::string> file = {};         // field 0x03: the file's name
  std::optional<std::uint32_t> count = {};  // field 0x87; default: the number of messages, when any
  std::vector<DbxMessage> messages = {};
  bool file_on_disk = true;  // false: Folders.dbx names the file but it is not written
};

// The bytes of a folder file holding `messages`, indexed in the given shape.
std::string DbxFolderFile(const std::vector<DbxMessage>& messages,
                          DbxIndexShape shape = DbxIndexShape::kFlat, std::size_t fanout = 3);

// A whole store: "Folders.dbx" and one file per folder that has one on disk.
struct DbxStore {
  std::vector<DbxFolder> folders;  // in index order
  DbxIndexShape shape = DbxIndexShape::kFlat;
  std::size_t fanout = 3;

  // Adds a folder below `parent_id` with a file named after it ("<name>.dbx") holding `messages`;
  // returns its id (the next free one from 2).
  std::uint32_t AddFolder(const std::string& name, std::uint32_t parent_id,
                          std::vector<DbxMessage> messages = {});

  std::string FoldersFile() const;
  std::map<std::string, std::string> Files() const;
  // Writes the files under their disk names (DbxDiskName).
  void WriteTo(const std::filesystem::path& dir) const;
  void AddTo(platform::MemoryFileSystem& files, const std::string& dir) const;
};

// The name a file of the store has on a Linux disk: the Windows-1252 name in UTF-8 (only bytes
// below 0x80 and from 0xA0 on, where the two code pages agree with Latin-1; others throw).
std::string DbxDiskName(const std::string& name);

// A store with the local root "Local Folders" (id 1) and nothing else.
DbxStore DbxLocalStore();

// A plain message for tests: headers with a subject naming `n`, a body; `extra_headers` go first.
std::string DbxTestMessage(int n, const std::string& extra_headers = "");

}  // namespace kv::testing
