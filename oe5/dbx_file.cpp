#include "oe5/dbx_file.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "common/message_files.h"
#include "platform/byte_view.h"

namespace kv::dbx {
namespace {

// Node entries are read in batches so that a node claiming millions of entries costs no more
// memory than a small one.
constexpr std::size_t kEntryBatch = 256;
// Field strings (folder names, file names) longer than this are damage, not names.
constexpr std::size_t kMaxFieldString = 64 * 1024;
constexpr std::size_t kStringChunk = 256;

class TreeWalk {
 public:
  TreeWalk(DbxFile& file, std::uint64_t capacity, const char* what)
      : file_(file), capacity_(capacity), what_(what) {}

  void Walk(std::uint32_t offset, int depth) {
    if (offset == 0) return;
    if (depth > kMaxTreeDepth) {
      Lost(offset, "index tree deeper than " + std::to_string(kMaxTreeDepth) + " levels");
      return;
    }
    if (!visited_.insert(offset).second) {
      Lost(offset, "index node reached a second time (the tree loops)");
      return;
    }
    NodeHeader header;
    if (!ReadNode(file_, offset, header)) {
      Lost(offset, offset + std::uint64_t{kNodeHeaderSize} > file_.size()
                       ? "index node lies outside the file"
                       : "index node does not hold its own offset");
      return;
    }
    Walk(header.leftChild, depth + 1);
    const std::uint64_t count = header.entryCount;
    if (count == 0) return;
    const std::uint64_t entries_start = std::uint64_t{offset} + kNodeHeaderSize;
    if (entries_start + count * kNodeEntrySize > file_.size()) {
      Lost(offset,
           "index node's " + std::to_string(count) + " entries run past the end of the file");
      return;
    }
    std::array<NodeEntry, kEntryBatch> batch;
    for (std::uint64_t first = 0; first < count; first += kEntryBatch) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(kEntryBatch, count - first));
      std::span<NodeEntry> entries(batch.data(), n);
      if (!ReadNodeEntries(file_, offset, static_cast<std::uint32_t>(first), entries)) {
        Lost(offset, "index node's entries cannot be read");
        return;
      }
      for (const NodeEntry& entry : entries) {
        if ((entry.marker & 0xFF) == 0) {
          Append(entry.value);
          // Such an entry's child is not walked; if it names one, that subtree is left out.
          if (entry.child != 0) {
            file_.Report(entry.child,
                         "index entry's child node not walked (its marker's low byte is 0)",
                         std::string("the ") + what_ + " listed below it");
          }
          continue;
        }
        if (entry.value != 0) Append(entry.value);
        Walk(entry.child, depth + 1);
      }
    }
  }

  CollectedOffsets result;

 private:
  void Append(std::uint32_t value) {
    if (result.offsets.size() < capacity_) {
      result.offsets.push_back(value);
    } else {
      ++result.beyondCapacity;
    }
  }
  void Lost(std::uint32_t offset, std::string problem) {
    file_.Report(offset, std::move(problem),
                 std::string("the ") + what_ + " listed in this node and below it");
  }

  DbxFile& file_;
  std::uint64_t capacity_;
  const char* what_;
  std::unordered_set<std::uint32_t> visited_;
};

struct Block {
  std::uint32_t length = 0;
  std::uint32_t next = 0;
};

enum class BlockState { kRead, kTooLong, kOutside };

// Reads the block at `offset` through the file's windows; `data` then views the block's data there.
BlockState ReadBlock(DbxFile& file, std::uint32_t offset, Block& block, ByteView& data) {
  const ByteView bytes =
      file.View(offset, kBlockHeaderSize + kMaxBlockData, DbxFile::Window::kText);
  if (bytes.size() < kBlockHeaderSize) return BlockState::kOutside;
  block.length = *bytes.u32le(kBlockLengthOffset);
  block.next = *bytes.u32le(kBlockNextOffset);
  if (block.length > kMaxBlockData) return BlockState::kTooLong;
  const std::optional<ByteView> inside = bytes.Sub(kBlockHeaderSize, block.length);
  if (!inside) return BlockState::kOutside;
  data = *inside;
  return BlockState::kRead;
}

std::optional<std::uint32_t> NextBlock(DbxFile& file, std::uint32_t offset) {
  return file.ReadWord(std::uint64_t{offset} + kBlockNextOffset);
}

struct ChainCopy {
  std::uint64_t blocks = 0;      // blocks written
  std::uint64_t loopLength = 0;  // nonzero when the chain came back to a block it had passed
  bool writeFailed = false;
};

// Copies the chain's data into `out`, at most `block_limit` blocks when given. Without a limit it
// watches for a loop (Brent's method: the offset is compared with a checkpoint that moves to the
// current block whenever the distance walked since it reaches the next power of two), which finds
// any loop within about twice the chain's distinct length using no memory.
ChainCopy CopyChain(DbxFile& file, std::uint32_t first, platform::WritableFile& out,
                    std::optional<std::uint64_t> block_limit, MessageHeaderScan* scan) {
  ChainCopy copy;
  std::uint32_t offset = first;
  std::uint32_t checkpoint = first;
  std::uint64_t power = 1;
  std::uint64_t since_checkpoint = 0;
  while (offset != 0 && (!block_limit || copy.blocks < *block_limit)) {
    Block block;
    ByteView bytes;
    const BlockState state = ReadBlock(file, offset, block, bytes);
    if (state != BlockState::kRead) {
      if (!block_limit) {
        file.Report(
            offset,
            state == BlockState::kTooLong
                ? "message text block of " + std::to_string(block.length) + " bytes, more than 512"
                : std::string("message text block lies outside the file"),
            "the rest of the message text (the message is handed over cut short)");
      }
      break;
    }
    const std::span<const std::uint8_t> data(bytes.data(), bytes.size());
    if (!out.Write(data)) {
      copy.writeFailed = true;
      break;
    }
    if (scan != nullptr && !scan->done()) scan->Feed(data);
    ++copy.blocks;
    offset = block.next;
    if (block_limit || offset == 0) continue;
    ++since_checkpoint;
    if (offset == checkpoint) {
      copy.loopLength = since_checkpoint;
      break;
    }
    if (since_checkpoint == power) {
      checkpoint = offset;
      power *= 2;
      since_checkpoint = 0;
    }
  }
  return copy;
}

// The number of blocks before the first one the chain repeats, given the loop's length: two
// walkers `loop_length` blocks apart meet where the loop begins. nullopt when a header cannot be
// read again.
std::optional<std::uint64_t> BlocksBeforeLoop(DbxFile& file, std::uint32_t first,
                                              std::uint64_t loop_length, std::uint64_t bound,
                                              std::uint32_t& loop_start) {
  std::uint32_t ahead = first;
  for (std::uint64_t i = 0; i < loop_length; ++i) {
    std::optional<std::uint32_t> next = NextBlock(file, ahead);
    if (!next) return std::nullopt;
    ahead = *next;
  }
  std::uint32_t behind = first;
  for (std::uint64_t before = 0; before <= bound; ++before) {
    if (behind == ahead) {
      loop_start = behind;
      return before;
    }
    std::optional<std::uint32_t> a = NextBlock(file, behind);
    std::optional<std::uint32_t> b = NextBlock(file, ahead);
    if (!a || !b) return std::nullopt;
    behind = *a;
    ahead = *b;
  }
  return std::nullopt;
}

void ReportOutput(DbxFile& file, const std::string& temp_path, const std::string& problem) {
  platform::Diagnostic diagnostic;
  diagnostic.kind = platform::DiagnosticKind::kOutputFailure;
  diagnostic.folder = file.folder();
  diagnostic.file = temp_path;
  diagnostic.problem = problem;
  diagnostic.lost = "this message and everything after it";
  file.diagnostics().Report(diagnostic);
}

}  // namespace

DbxFile::DbxFile(std::unique_ptr<platform::ReadableFile> file, std::string path, std::string folder,
                 platform::Diagnostics& diagnostics)
    : file_(std::move(file)),
      path_(std::move(path)),
      folder_(std::move(folder)),
      diagnostics_(&diagnostics) {
  if (file_) size_ = file_->Size().value_or(0);
}

std::optional<DbxFile> DbxFile::Open(platform::FileSystem& files, const std::string& path,
                                     std::string folder, platform::Diagnostics& diagnostics) {
  std::unique_ptr<platform::ReadableFile> file = files.OpenForReading(path);
  if (!file) return std::nullopt;
  return DbxFile(std::move(file), path, std::move(folder), diagnostics);
}

std::size_t DbxFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) {
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ByteView view = View(offset + filled, bytes.size() - filled, Window::kIndex);
    if (view.empty()) break;
    std::copy_n(view.data(), view.size(), bytes.begin() + filled);
    filled += view.size();
  }
  return filled;
}

bool DbxFile::ReadExactlyAt(std::uint64_t offset, std::span<std::uint8_t> bytes) {
  return ReadAt(offset, bytes) == bytes.size();
}

ByteView DbxFile::View(std::uint64_t offset, std::size_t length, Window window) {
  if (!file_ || offset >= size_) return {};
  length = static_cast<std::size_t>(std::min<std::uint64_t>({length, kWindowSize, size_ - offset}));
  for (const Loaded& loaded : windows_) {
    if (loaded.Holds(offset, length)) {
      const auto skip = static_cast<std::size_t>(offset - loaded.start);
      return ByteView(loaded.bytes.data() + skip, length);
    }
  }
  Loaded& loaded = windows_[window == Window::kText ? 1 : 0];
  const bool continues =
      loaded.size > 0 && offset >= loaded.start && offset - loaded.start <= loaded.size;
  const std::size_t wanted =
      window == Window::kText || continues ? kWindowSize : std::max(length, kIndexJump);
  const auto load = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, size_ - offset));
  if (loaded.bytes.empty()) loaded.bytes.resize(kWindowSize);
  loaded.start = offset;
  loaded.size = 0;
  if (!file_->Seek(offset)) return {};
  while (loaded.size < load) {
    std::optional<std::size_t> count =
        file_->Read(std::span(loaded.bytes.data() + loaded.size, load - loaded.size));
    if (!count || *count == 0) break;
    loaded.size += *count;
  }
  return ByteView(loaded.bytes.data(), std::min(length, loaded.size));
}

std::optional<std::uint32_t> DbxFile::ReadWord(std::uint64_t offset) {
  std::array<std::uint8_t, 4> bytes;
  if (!ReadExactlyAt(offset, bytes)) return std::nullopt;
  return ByteView(bytes).u32le(0);
}

void DbxFile::Report(std::optional<std::uint64_t> offset, std::string problem, std::string lost,
                     platform::DiagnosticKind kind) {
  platform::Diagnostic diagnostic;
  diagnostic.kind = kind;
  diagnostic.folder = folder_;
  diagnostic.file = path_;
  diagnostic.offset = offset;
  diagnostic.problem = std::move(problem);
  diagnostic.lost = std::move(lost);
  diagnostics_->Report(diagnostic);
}

bool ReadNode(DbxFile& file, std::uint32_t offset, NodeHeader& header) {
  std::array<std::uint8_t, kNodeHeaderSize> bytes;
  if (!file.ReadExactlyAt(offset, bytes)) return false;
  const ByteView view(bytes);
  header.selfOffset = *view.u32le(kNodeSelfOffset);
  header.leftChild = *view.u32le(kNodeLeftOffset);
  header.entryCount = *view.u32le(kNodeCountOffset) >> 8;
  return header.selfOffset == offset;
}

bool ReadNodeEntries(DbxFile& file, std::uint32_t offset, std::uint32_t first,
                     std::span<NodeEntry> entries) {
  std::array<std::uint8_t, kEntryBatch * kNodeEntrySize> bytes;
  const std::uint64_t start =
      std::uint64_t{offset} + kNodeHeaderSize + std::uint64_t{first} * kNodeEntrySize;
  for (std::size_t done = 0; done < entries.size();) {
    const std::size_t n = std::min(kEntryBatch, entries.size() - done);
    std::span<std::uint8_t> chunk(bytes.data(), n * kNodeEntrySize);
    if (!file.ReadExactlyAt(start + done * kNodeEntrySize, chunk)) return false;
    const ByteView view(chunk);
    for (std::size_t i = 0; i < n; ++i) {
      NodeEntry& entry = entries[done + i];
      entry.marker = *view.u32le(i * kNodeEntrySize + kEntryMarkerOffset);
      entry.value = *view.u32le(i * kNodeEntrySize + kEntryValueOffset);
      entry.child = *view.u32le(i * kNodeEntrySize + kEntryChildOffset);
    }
    done += n;
  }
  return true;
}

CollectedOffsets CollectOffsets(DbxFile& file, std::uint32_t root, std::uint64_t capacity,
                                const char* what) {
  TreeWalk walk(file, capacity, what);
  walk.Walk(root, 0);
  return std::move(walk.result);
}

std::uint32_t SelectPart(std::uint32_t descriptor, DescriptorPart part) {
  switch (part) {
    case DescriptorPart::kIdByte:
      return descriptor & 0xFF;
    case DescriptorPart::kLow16:
      return (descriptor >> 8) & 0xFFFF;
    case DescriptorPart::kWord:
      return descriptor;
    case DescriptorPart::kValue:
      return descriptor >> 8;
  }
  return 0;
}

std::uint64_t DbxRecord::DataBase() const {
  return std::uint64_t{offset} + kRecordHeaderSize + std::uint64_t{fieldCount} * kDescriptorSize;
}

std::uint64_t DbxRecord::DataLength() const {
  const std::uint64_t descriptors_size = std::uint64_t{fieldCount} * kDescriptorSize;
  return bodyLength > descriptors_size ? bodyLength - descriptors_size : 0;
}

std::optional<DbxRecord> ReadRecord(DbxFile& file, std::uint32_t offset) {
  std::array<std::uint8_t, kRecordHeaderSize + 255 * kDescriptorSize> bytes;
  const std::size_t got = file.ReadAt(offset, bytes);
  if (got < kRecordHeaderSize) return std::nullopt;
  const ByteView view(bytes.data(), got);
  DbxRecord record;
  record.offset = offset;
  record.bodyLength = *view.u32le(kRecordLengthOffset);
  record.fieldCount = *view.u8(kRecordFieldCountOffset);
  // Only descriptors wholly inside the body and the file count.
  const std::uint64_t in_body = record.bodyLength / kDescriptorSize;
  const std::uint64_t in_file = (got - kRecordHeaderSize) / kDescriptorSize;
  const std::uint64_t usable = std::min<std::uint64_t>({record.fieldCount, in_body, in_file});
  record.descriptors.reserve(static_cast<std::size_t>(usable));
  for (std::size_t i = 0; i < usable; ++i) {
    record.descriptors.push_back(*view.u32le(kRecordHeaderSize + i * kDescriptorSize));
  }
  return record;
}

std::optional<std::uint32_t> FindField(std::span<const std::uint32_t> descriptors, std::uint8_t id,
                                       DescriptorPart part) {
  for (std::uint32_t descriptor : descriptors) {
    if ((descriptor & 0xFF) == id) return SelectPart(descriptor, part);
  }
  return std::nullopt;
}

std::optional<std::uint32_t> ReadField(DbxFile& file, const DbxRecord& record, std::uint8_t field,
                                       DescriptorPart part) {
  const std::uint8_t number = field & 0x7F;
  if (std::optional<std::uint32_t> at = FindField(record.descriptors, number, part)) {
    if (std::uint64_t{*at} + 4 <= record.DataLength()) {
      if (std::optional<std::uint32_t> value = file.ReadWord(record.DataBase() + *at)) return value;
    }
  }
  return FindField(record.descriptors, number | kDirectFieldBit, part);
}

std::optional<std::string> ReadFieldString(DbxFile& file, const DbxRecord& record,
                                           std::uint8_t id) {
  std::optional<std::uint32_t> at = FindField(record.descriptors, id, DescriptorPart::kValue);
  if (!at || *at >= record.DataLength()) return std::nullopt;
  const std::uint64_t limit = std::min<std::uint64_t>(record.DataLength() - *at, kMaxFieldString);
  std::string text;
  std::array<std::uint8_t, kStringChunk> chunk;
  for (std::uint64_t done = 0; done < limit;) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kStringChunk, limit - done));
    const std::size_t got =
        file.ReadAt(record.DataBase() + *at + done, std::span<std::uint8_t>(chunk.data(), want));
    for (std::size_t i = 0; i < got; ++i) {
      if (chunk[i] == 0) return text;
      text.push_back(static_cast<char>(chunk[i]));
    }
    if (got < want) return std::nullopt;
    done += got;
  }
  return std::nullopt;
}

CopyResult CopyBodyToTemp(DbxFile& file, std::uint32_t firstBlock, platform::FileSystem& files,
                          platform::TempFiles& temp, std::string& messageFile,
                          MessageHeaderScan* scan) {
  messageFile.clear();
  const std::string path = MakeTempFileName(temp, "");
  std::unique_ptr<platform::WritableFile> out = path.empty() ? nullptr : files.OpenForWriting(path);
  if (!out) {
    if (!path.empty()) files.Delete(path);
    ReportOutput(file, path.empty() ? temp.TempPath() : path,
                 "temporary message file cannot be created");
    return CopyResult::kOutputFailed;
  }
  ChainCopy copy = CopyChain(file, firstBlock, *out, std::nullopt, scan);
  if (copy.loopLength != 0 && !copy.writeFailed) {
    // Write the message again, this time stopping before the first repeated block.
    std::uint32_t loop_start = 0;
    std::optional<std::uint64_t> before =
        BlocksBeforeLoop(file, firstBlock, copy.loopLength, copy.blocks, loop_start);
    out->Close();
    out = files.OpenForWriting(path);
    if (!out) {
      files.Delete(path);
      ReportOutput(file, path, "temporary message file cannot be written");
      return CopyResult::kOutputFailed;
    }
    const std::uint64_t distinct = before.value_or(0) + copy.loopLength;
    if (scan != nullptr) *scan = MessageHeaderScan();
    copy = CopyChain(file, firstBlock, *out, distinct, scan);
    file.Report(loop_start, "message text blocks come back to an earlier block",
                "nothing of the text: the message ends before the first repeated block");
  }
  const bool closed = out->Close();
  if (copy.writeFailed || !closed) {
    files.Delete(path);
    ReportOutput(file, path, "temporary message file cannot be written");
    return CopyResult::kOutputFailed;
  }
  if (scan != nullptr) scan->Finish();
  messageFile = path;
  return CopyResult::kCopied;
}

}  // namespace kv::dbx
