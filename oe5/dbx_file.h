#pragma once
// The reader of the Outlook Express 5 database files (".dbx"): "Folders.dbx", which describes the
// folder tree, and one file per mail folder holding its messages. It knows four things: the header
// words that locate an index tree, the index tree (nodes whose entries carry record offsets), the
// layout of a record with its field descriptors, and the chain of blocks holding a message's text.
//
// Every integer is little-endian; every offset is absolute from the start of the file and is
// distrusted: a node, descriptor, string or block that reaches outside its record or the file is
// treated as absent. No signature, version or checksum is checked; the only consistency test is a
// node's self offset. Loops in the index tree (a visited set and a depth bound) and in block chains
// (cycle detection) end the walk; what was collected or copied before stays valid. Whatever is left
// out is reported through the diagnostics service in the store's terms (folder, file, offset).
//
// The files are only read, through two windows of 64 KiB per open file, one loaded for index nodes
// and records and one for message text: every read is served by whichever window holds its bytes,
// so a chain of neighbouring blocks, records in a row, or records lying between the text they
// describe cost one read per window, not one per block, and memory stays small whatever the file's
// size.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "eudora/message_header_scan.h"
#include "platform/byte_view.h"
#include "platform/services.h"

namespace kv::dbx {

// File header words.
inline constexpr std::uint64_t kFolderCountOffset = 0xCC;       // "Folders.dbx": folder records
inline constexpr std::uint64_t kFolderIndexRootOffset = 0xEC;   // "Folders.dbx": folder index root
inline constexpr std::uint64_t kMessageIndexRootOffset = 0xE4;  // folder file: message index root

// Index node header, 20 bytes at the node's offset; its entries follow directly.
inline constexpr std::size_t kNodeHeaderSize = 20;
inline constexpr std::size_t kNodeSelfOffset = 0;    // must equal the node's own offset
inline constexpr std::size_t kNodeLeftOffset = 8;    // offset of the left child node; 0 = none
inline constexpr std::size_t kNodeCountOffset = 16;  // word whose bytes 1 to 3 count the entries
inline constexpr std::size_t kNodeEntrySize = 12;
inline constexpr std::size_t kEntryMarkerOffset = 0;  // low byte nonzero: walk the entry's child
inline constexpr std::size_t kEntryValueOffset = 4;   // the offset of a record
inline constexpr std::size_t kEntryChildOffset = 8;   // offset of the entry's child node; 0 = none

// Record header, 12 bytes, then the body: K descriptors of 4 bytes and the data area.
inline constexpr std::size_t kRecordHeaderSize = 12;
inline constexpr std::size_t kRecordLengthOffset = 4;       // L, the body's length in bytes
inline constexpr std::size_t kRecordFieldCountOffset = 10;  // K, one byte
inline constexpr std::size_t kDescriptorSize = 4;
inline constexpr std::uint8_t kDirectFieldBit = 0x80;  // in a descriptor's id byte

// Body block header, 16 bytes, then the block's data.
inline constexpr std::size_t kBlockHeaderSize = 16;
inline constexpr std::size_t kBlockLengthOffset = 8;  // D, the data bytes in this block
inline constexpr std::size_t kBlockNextOffset = 12;   // offset of the next block; 0 = last
inline constexpr std::uint32_t kMaxBlockData = 512;   // a longer block ends the chain

// Deeper index trees than this are damage (a real tree is a few levels deep); the walk does not
// descend further, which also bounds the stack.
inline constexpr int kMaxTreeDepth = 128;

// An open DBX file with what its reports need: the file's path as the filter names it and the
// display path of the folder it belongs to (empty for "Folders.dbx").
class DbxFile {
 public:
  DbxFile(std::unique_ptr<platform::ReadableFile> file, std::string path, std::string folder,
          platform::Diagnostics& diagnostics);

  // Opens `path` for reading; nullopt when it cannot be opened.
  static std::optional<DbxFile> Open(platform::FileSystem& files, const std::string& path,
                                     std::string folder, platform::Diagnostics& diagnostics);

  const std::string& path() const { return path_; }
  const std::string& folder() const { return folder_; }
  std::uint64_t size() const { return size_; }
  platform::Diagnostics& diagnostics() { return *diagnostics_; }

  // Fills `bytes` from `offset`; false when the file ends first or cannot be read.
  bool ReadExactlyAt(std::uint64_t offset, std::span<std::uint8_t> bytes);
  // Reads up to bytes.size() bytes at `offset`: the count read, short at the end of the file.
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes);
  // The 32-bit word at `offset`, or nullopt when it is not in the file.
  std::optional<std::uint32_t> ReadWord(std::uint64_t offset);
  enum class Window { kIndex, kText };
  static constexpr std::size_t kWindowSize = 64 * 1024;
  // The `length` bytes at `offset` (at most kWindowSize), or fewer when the file ends or cannot be
  // read first; empty past the end. The view lives in a window and stays valid until the next
  // call. When neither window holds the bytes, `window` is loaded from `offset`: the text window
  // with a whole window (message text runs on), the index window with a whole window when the
  // request continues its bytes and with kIndexJump bytes otherwise, so that scattered nodes and
  // records do not each pull in a whole window.
  ByteView View(std::uint64_t offset, std::size_t length, Window window);
  static constexpr std::size_t kIndexJump = 4 * 1024;

  // Reports that something of this file was left out.
  void Report(std::optional<std::uint64_t> offset, std::string problem, std::string lost,
              platform::DiagnosticKind kind = platform::DiagnosticKind::kSkipped);

 private:
  std::unique_ptr<platform::ReadableFile> file_;
  std::string path_;
  std::string folder_;
  platform::Diagnostics* diagnostics_;
  std::uint64_t size_ = 0;
  struct Loaded {
    std::vector<std::uint8_t> bytes;  // kWindowSize bytes once loaded
    std::uint64_t start = 0;
    std::size_t size = 0;  // of which these hold the file's bytes from `start`
    bool Holds(std::uint64_t offset, std::size_t length) const {
      return offset >= start && offset - start <= size && length <= size - (offset - start);
    }
  };
  Loaded windows_[2];
};

struct NodeHeader {
  std::uint32_t selfOffset = 0;
  std::uint32_t leftChild = 0;
  std::uint32_t entryCount = 0;  // N: bytes 17 to 19 of the header
};

struct NodeEntry {
  std::uint32_t marker = 0;
  std::uint32_t value = 0;
  std::uint32_t child = 0;
};

// Reads the node header at `offset`. False unless all 20 bytes were read and the self offset equals
// `offset`.
bool ReadNode(DbxFile& file, std::uint32_t offset, NodeHeader& header);
// Reads entries `first` .. `first` + entries.size() - 1 of the node at `offset`; false unless all
// of them lie in the file.
bool ReadNodeEntries(DbxFile& file, std::uint32_t offset, std::uint32_t first,
                     std::span<NodeEntry> entries);

// The record offsets of an index tree, in order, and how many more the tree held than the list's
// capacity allowed.
struct CollectedOffsets {
  std::vector<std::uint32_t> offsets;
  std::uint64_t beyondCapacity = 0;
};

// Walks the index tree below `root` in order (the left subtree, then for each entry its value
// followed by its child's subtree) and appends up to `capacity` record offsets. An entry whose
// marker's low byte is 0 adds its value whatever it is and its child is not walked (a child it
// names is reported as left out); otherwise a nonzero value is added and the child is walked. A
// node whose self offset does not match, that is cut off by the end of the file, seen twice or
// deeper than kMaxTreeDepth is left out with its subtree and reported; its siblings are still
// collected. `what` names the records in reports
// ("messages", "folders"). Offsets past the capacity (which may be 0) are counted, not kept.
CollectedOffsets CollectOffsets(DbxFile& file, std::uint32_t root, std::uint64_t capacity,
                                const char* what);

// Which part of a field descriptor a lookup returns.
enum class DescriptorPart : int {
  kIdByte = 0,  // bits 0 to 7
  kLow16 = 1,   // bits 8 to 23
  kWord = 2,    // the whole 32-bit word
  kValue = 3,   // bits 8 to 31
};

// The part `part` selects of `descriptor` (0 for a selector outside 0 to 3).
std::uint32_t SelectPart(std::uint32_t descriptor, DescriptorPart part);

// A record's header and the descriptors that lie inside both its body and the file. Field data is
// read from the file when asked for.
struct DbxRecord {
  std::uint32_t offset = 0;
  std::uint32_t bodyLength = 0;            // L
  std::uint8_t fieldCount = 0;             // K, as the header gives it
  std::vector<std::uint32_t> descriptors;  // the first K, or fewer when the body or file ends

  // File offset of the data area: offset + 12 + 4K.
  std::uint64_t DataBase() const;
  // Length of the data area, L - 4K, or 0 when the descriptors fill the body.
  std::uint64_t DataLength() const;
};

// Reads the record at `offset`; nullopt (reported) when its header is not in the file.
std::optional<DbxRecord> ReadRecord(DbxFile& file, std::uint32_t offset);

// The part `part` of the first descriptor whose id byte equals `id`, or nullopt when none does.
std::optional<std::uint32_t> FindField(std::span<const std::uint32_t> descriptors, std::uint8_t id,
                                       DescriptorPart part);

// The value of field `field` (1 to 0x7F): when stored indirectly (id byte `field`), the 32-bit word
// in the data area at the selected part of its descriptor; otherwise, when stored directly (id
// byte `field` + 0x80), the selected part itself. The indirect form wins when both are present.
// nullopt when neither is, or when the indirect word does not lie inside the data area.
std::optional<std::uint32_t> ReadField(DbxFile& file, const DbxRecord& record, std::uint8_t field,
                                       DescriptorPart part);

// The text of an indirect string field with id byte `id`: from the data area offset its
// descriptor's 24-bit value gives, up to the next NUL. nullopt when the field is absent or the
// text does not end inside the data area.
std::optional<std::string> ReadFieldString(DbxFile& file, const DbxRecord& record, std::uint8_t id);

enum class CopyResult {
  kCopied,        // the temporary file holds the chain's bytes (possibly cut short, reported)
  kOutputFailed,  // no temporary file could be created or written (reported); nothing handed over
};

// Copies the body block chain starting at `firstBlock` into a new temporary message file (empty
// prefix) and sets `messageFile` to its path, which it empties first. A block of more than 512
// bytes, or one that reaches outside the file, ends the chain; a chain that comes back on itself
// ends where it would repeat a block. The file then holds the blocks before that point and is still
// a message; the diagnostics service says what was cut. A file that cannot be written is deleted.
// `scan`, when given, is fed the bytes written (and finished), so that the header block is read
// without opening the file again.
CopyResult CopyBodyToTemp(DbxFile& file, std::uint32_t firstBlock, platform::FileSystem& files,
                          platform::TempFiles& temp, std::string& messageFile,
                          MessageHeaderScan* scan = nullptr);

}  // namespace kv::dbx
