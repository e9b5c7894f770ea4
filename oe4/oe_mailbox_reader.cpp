#include "oe4/oe_mailbox_reader.h"

#include "app/import_filter.h"
#include "app/process_state.h"
#include "common/folder_select_dlg.h"
#include "common/message_files.h"

namespace kv {
namespace {

// Mailbox record: the marker word, then three words not interpreted, then the message text.
constexpr std::uint64_t kRecordHeaderSize = 12;
// A record of this many bytes or fewer, counted from after its marker through the next one, holds
// no message.
constexpr std::uint64_t kShortestRecord = 16;

// Index file: the header before the first record is not interpreted.
constexpr std::uint64_t kFirstIndexRecord = 0x50;
constexpr std::uint64_t kIndexFlagsOffset = 0;    // one byte of flags
constexpr std::uint64_t kIndexLengthOffset = 16;  // 32-bit length of the index record

// Index flags.
constexpr std::uint8_t kFlagSkipped = 0x01;  // deleted: neither record produces an item
constexpr std::uint8_t kFlagUnread = 0x02;
constexpr std::uint8_t kFlagReceived = 0x10;

constexpr const char* kTempPrefix = "imp";

bool IsUnsent(std::uint8_t flags) {
  return flags == 0x08 || flags == 0x0A || flags == 0x0C || flags == 0x0E;
}

std::uint32_t LittleEndian32(const std::uint8_t (&bytes)[4]) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

}  // namespace

OeMailboxReader::OeMailboxReader(platform::FileSystem& files, platform::TempFiles& temp,
                                 platform::UserInterface& ui)
    : files_(files), temp_(temp), ui_(ui) {}

void OeMailboxReader::Reset(const std::string& dir) {
  CloseFiles();
  nextFolderRequested = false;
  current = 0;
  storeDir = dir;
}

void OeMailboxReader::FreeTable() {
  records.clear();
  CloseFiles();
}

void OeMailboxReader::CloseFiles() {
  mbxFile.reset();
  idxFile.reset();
}

bool OeMailboxReader::First(std::string& messageFile, std::string& folderName) {
  current = 0;
  CloseFiles();
  markerPending = true;
  return Next(messageFile, folderName);
}

bool OeMailboxReader::Next(std::string& messageFile, std::string& folderName) {
  ui_.ShowWaitCursor();
  if (mbxFile && !nextFolderRequested && current < records.size()) {
    if (ReadNextMessage(messageFile)) {
      folderName = records[current].displayPath;
      return true;
    }
    ++current;
    markerPending = true;
  }
  if (nextFolderRequested) {
    nextFolderRequested = false;
    ++current;
    markerPending = true;
  }
  for (; current < records.size(); ++current) {
    const OeFolderRecord& record = records[current];
    if (!OpenFolderFiles(record)) continue;
    folderName = record.displayPath;
    if (ReadFirstMessage(messageFile)) return true;
    mbxFile.reset();
    if (g_bReportEmptyFolders && markerPending) {
      // Stays on this folder: the next step opens it again, finds it empty again and moves on.
      messageFile = kEmptyFolderMarker;
      markerPending = false;
      return true;
    }
    markerPending = true;
  }
  return false;
}

bool OeMailboxReader::OpenFolderFiles(const OeFolderRecord& record) {
  CloseFiles();
  const std::string base = storeDir + "\\" + record.mailboxName;
  std::unique_ptr<platform::ReadableFile> mbx = files_.OpenForReading(base + ".mbx");
  ui_.ShowWaitCursor();
  std::unique_ptr<platform::ReadableFile> idx = files_.OpenForReading(base + ".idx");
  if (!mbx || !idx) return false;
  mbxFile = std::make_unique<ChunkedReader>(std::move(mbx));
  idxFile = std::make_unique<ChunkedReader>(std::move(idx));
  return true;
}

bool OeMailboxReader::ReadFirstMessage(std::string& messageFile) {
  ui_.ShowWaitCursor();
  if (!mbxFile) return false;
  idxOffset = kFirstIndexRecord;
  if (!mbxFile->ScanWordsUntil(kOeRecordMarker).found) return false;
  return ReadNextMessage(messageFile);
}

bool OeMailboxReader::ReadNextMessage(std::string& messageFile) {
  if (!mbxFile || !idxFile) return false;
  // Each round consumes more than kShortestRecord bytes of the mailbox, so skipped records cannot
  // keep this loop going past the end of the file.
  for (;;) {
    const std::uint64_t start = mbxFile->Tell();
    const ChunkedReader::WordScan record = mbxFile->ScanWordsUntil(kOeRecordMarker);
    if (record.bytes <= kShortestRecord) return false;
    const bool marker_found = record.found;
    const std::uint64_t after = mbxFile->Tell();

    std::optional<IndexEntry> entry = ReadIndexEntry();
    if (!entry) return false;
    if ((entry->flags & kFlagSkipped) != 0) continue;

    unsent = IsUnsent(entry->flags);
    unread = (entry->flags & kFlagUnread) != 0;
    received = (entry->flags & kFlagReceived) != 0;

    const std::optional<std::uint64_t> text_end =
        marker_found ? std::optional<std::uint64_t>(after - 4) : std::nullopt;
    const bool copied = CopyMessageText(start + kRecordHeaderSize, text_end, messageFile);
    mbxFile->Seek(after);
    return copied;
  }
}

// Reads the flags and the length of the index record at idxOffset and moves idxOffset past it. A
// length of 0 leaves idxOffset where it is: the next message then reads the same index record.
std::optional<OeMailboxReader::IndexEntry> OeMailboxReader::ReadIndexEntry() {
  IndexEntry entry;
  std::uint8_t length[4];
  if (!idxFile->Seek(idxOffset + kIndexFlagsOffset) ||
      !idxFile->ReadExactly(std::span<std::uint8_t>(&entry.flags, 1)) ||
      !idxFile->Seek(idxOffset + kIndexLengthOffset) || !idxFile->ReadExactly(length)) {
    return std::nullopt;
  }
  idxOffset += LittleEndian32(length);
  return entry;
}

bool OeMailboxReader::CopyMessageText(std::uint64_t textStart, std::optional<std::uint64_t> textEnd,
                                      std::string& messageFile) {
  const std::string path = MakeTempFileName(temp_, kTempPrefix);
  std::unique_ptr<platform::WritableFile> out =
      path.empty() ? nullptr : files_.OpenForWriting(path);
  if (!out) return false;
  mbxFile->Seek(textStart);
  bool written = mbxFile->CopyTo(
      textEnd, [&out](std::span<const std::uint8_t> piece) { return out->Write(piece); });
  written = out->Close() && written;
  if (!written) {
    // Never handed over, so still ours: a partial message must not reach the host.
    files_.Delete(path);
    return false;
  }
  messageFile = path;
  return true;
}

}  // namespace kv
