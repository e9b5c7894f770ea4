#include "oe4/oe_mailbox_reader.h"

#include <algorithm>

#include "app/import_filter.h"
#include "app/process_state.h"
#include "common/folder_select_dlg.h"
#include "common/message_files.h"
#include "eudora/message_header_scan.h"
#include "platform/byte_view.h"

namespace kv {
namespace {

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
// The mailbox is read through a window this large: a system call per window, not per message.
constexpr std::size_t kMailboxWindow = 256 * 1024;

bool IsUnsent(std::uint8_t flags) {
  return flags == 0x08 || flags == 0x0A || flags == 0x0C || flags == 0x0E;
}

// A mailbox name that would lead out of the store folder: rooted, with a drive, or with a ".."
// component. Components of two or more dots and blanks count too: Windows trims trailing dots and
// blanks from names, so such a component may end up as "..".
bool LeavesStoreFolder(const std::string& name) {
  if (name.starts_with('\\') || name.starts_with('/')) return true;
  if (name.size() >= 2 && name[1] == ':') return true;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    const std::string_view part(name.data() + start, end - start);
    const std::size_t dots = static_cast<std::size_t>(std::count(part.begin(), part.end(), '.'));
    if (dots >= 2 && part.find_first_not_of(". ") == std::string_view::npos) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

OeMailboxReader::OeMailboxReader(const platform::Services& services)
    : files_(services.files),
      temp_(services.temp),
      ui_(services.ui),
      diagnostics_(services.diagnostics) {}

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
  if (LeavesStoreFolder(record.mailboxName)) {
    Report(platform::DiagnosticKind::kSkipped, record.mailboxName, std::nullopt,
           "the mailbox name leads outside the store folder and is not followed", "the folder");
    return false;
  }
  const std::string mbx_name = record.mailboxName + ".mbx";
  const std::string idx_name = record.mailboxName + ".idx";
  std::unique_ptr<platform::ReadableFile> mbx = files_.OpenForReading(storeDir + "\\" + mbx_name);
  ui_.ShowWaitCursor();
  std::unique_ptr<platform::ReadableFile> idx = files_.OpenForReading(storeDir + "\\" + idx_name);
  if (!mbx || !idx) {
    // One report per folder, naming each file that failed.
    std::string problem = WhyNotOpened(mbx ? idx_name : mbx_name);
    if (!mbx && !idx) problem += "; " + idx_name + ": " + WhyNotOpened(idx_name);
    Report(platform::DiagnosticKind::kSkipped, mbx ? idx_name : mbx_name, std::nullopt, problem,
           "the folder");
    return false;
  }
  mbxFile = std::make_unique<ChunkedReader>(std::move(mbx), kMailboxWindow);
  idxFile = std::make_unique<ChunkedReader>(std::move(idx));
  return true;
}

std::string OeMailboxReader::WhyNotOpened(const std::string& file) {
  const std::optional<platform::FileStatus> status = files_.Status(storeDir + "\\" + file);
  if (!status) return "file missing";
  if (status->IsDirectory()) return "a folder, not a file";
  if ((status->attributes & platform::kAttributeDevice) != 0) {
    return "not a file that holds data (a device or a FIFO)";
  }
  return "file cannot be opened for reading";
}

void OeMailboxReader::Report(platform::DiagnosticKind kind, const std::string& file,
                             std::optional<std::uint64_t> offset, const std::string& problem,
                             const std::string& lost) {
  platform::Diagnostic diagnostic;
  diagnostic.kind = kind;
  if (current < records.size()) diagnostic.folder = records[current].displayPath;
  diagnostic.file = file;
  diagnostic.offset = offset;
  diagnostic.problem = problem;
  diagnostic.lost = lost;
  diagnostics_.Report(diagnostic);
}

std::string OeMailboxReader::RestOfFolder(std::uint64_t from, std::uint64_t counted) {
  // Counts the records from `from` on that are long enough to hold a message. Each round reads at
  // least one word, so this ends at the end of the file.
  mbxFile->Seek(from);
  for (;;) {
    const ChunkedReader::WordScan scan = mbxFile->ScanWordsUntil(kOeRecordMarker);
    if (scan.bytes == 0 || mbxFile->failed()) break;
    if (scan.bytes > kShortestRecord) ++counted;
  }
  if (counted == 0) return "nothing more";
  return "the rest of the folder: " + std::to_string(counted) + " record" +
         (counted == 1 ? "" : "s");
}

bool OeMailboxReader::ReadFirstMessage(std::string& messageFile) {
  ui_.ShowWaitCursor();
  if (!mbxFile) return false;
  idxOffset = kFirstIndexRecord;
  messageNumber = 0;
  const ChunkedReader::WordScan header = mbxFile->ScanWordsUntil(kOeRecordMarker);
  if (!header.found) {
    if (mbxFile->failed()) {
      Report(platform::DiagnosticKind::kSkipped, records[current].mailboxName + ".mbx",
             mbxFile->Tell(), "read error", "the folder");
    }
    return false;
  }
  return ReadNextMessage(messageFile);
}

bool OeMailboxReader::ReadNextMessage(std::string& messageFile) {
  if (!mbxFile || !idxFile) return false;
  const std::string mbx_name = records[current].mailboxName + ".mbx";
  const std::string idx_name = records[current].mailboxName + ".idx";
  // Each round consumes more than kShortestRecord bytes of the mailbox, so skipped records cannot
  // keep this loop going past the end of the file.
  for (;;) {
    const std::uint64_t start = mbxFile->Tell();
    // The index record comes first, so that a message to hand over is copied while the scan for
    // its record's end reads it (each record is read once); what is wrong with either file is
    // reported in the same order as when the record is checked first.
    const std::uint64_t index_offset = idxOffset;
    const std::optional<IndexEntry> entry = ReadIndexEntry();
    TextCopy copy;
    const ChunkedReader::WordScan record =
        entry && (entry->flags & kFlagSkipped) == 0
            ? mbxFile->ScanWordsUntil(
                  kOeRecordMarker,
                  [this, &copy](std::span<const std::uint8_t> piece) { TakeText(copy, piece); })
            : mbxFile->ScanWordsUntil(kOeRecordMarker);
    if (mbxFile->failed()) {
      DropText(copy);
      Report(platform::DiagnosticKind::kSkipped, mbx_name, mbxFile->Tell(), "read error",
             "the rest of the folder");
      return false;
    }
    if (record.bytes == 0) {
      DropText(copy);
      return false;  // the end of the mailbox
    }
    if (record.bytes <= kShortestRecord) {
      DropText(copy);
      Report(platform::DiagnosticKind::kSkipped, mbx_name, start - 4,
             "record " + std::to_string(messageNumber + 1) + " is too short to hold a message (" +
                 std::to_string(record.bytes) + " bytes after its marker)",
             record.found ? RestOfFolder(mbxFile->Tell(), 0)
                          : "the record, cut off by the end of the file");
      return false;
    }
    const bool marker_found = record.found;
    const std::uint64_t after = mbxFile->Tell();

    ++messageNumber;
    if (!entry) {
      Report(platform::DiagnosticKind::kSkipped, idx_name, index_offset,
             "the index has no whole record for mailbox record " + std::to_string(messageNumber),
             RestOfFolder(marker_found ? after : mbxFile->Tell(), 1));
      return false;
    }
    if ((entry->flags & kFlagSkipped) != 0) continue;

    unsent = IsUnsent(entry->flags);
    unread = (entry->flags & kFlagUnread) != 0;
    received = (entry->flags & kFlagReceived) != 0;

    // A record cut off by the end of the file runs to its last byte, a part word included.
    bool read_whole = true;
    if (!marker_found) {
      read_whole =
          mbxFile->CopyTo(std::nullopt, [this, &copy](std::span<const std::uint8_t> piece) {
            TakeText(copy, piece);
            return true;
          });
    }
    const CopyResult copied = FinishText(copy, read_whole, messageFile);
    mbxFile->Seek(after);
    return copied == CopyResult::kCopied;
  }
}

// Reads the flags and the length of the index record at idxOffset and moves idxOffset past it. A
// length of 0 leaves idxOffset where it is: the next message then reads the same index record.
std::optional<OeMailboxReader::IndexEntry> OeMailboxReader::ReadIndexEntry() {
  std::uint8_t fields[kIndexLengthOffset + 4];
  if (!idxFile->Seek(idxOffset) || !idxFile->ReadExactly(fields)) return std::nullopt;
  const ByteView view(fields);
  IndexEntry entry;
  entry.flags = *view.u8(kIndexFlagsOffset);
  idxOffset += *view.u32le(kIndexLengthOffset);
  return entry;
}

void OeMailboxReader::TakeText(TextCopy& copy, std::span<const std::uint8_t> piece) {
  // The record's first bytes are its header, not part of the message.
  const std::size_t header =
      static_cast<std::size_t>(std::min<std::uint64_t>(copy.skip, piece.size()));
  copy.skip -= header;
  piece = piece.subspan(header);
  if (piece.empty() || copy.createFailed || copy.writeFailed) return;
  if (!copy.out && !OpenText(copy)) return;
  // The status header is looked for in the bytes on their way, not in the file afterwards.
  if (!copy.header.done()) copy.header.Feed(piece);
  copy.writeFailed = !copy.out->Write(piece);
}

bool OeMailboxReader::OpenText(TextCopy& copy) {
  copy.path = MakeTempFileName(temp_, kTempPrefix);
  if (!copy.path.empty()) copy.out = files_.OpenForWriting(copy.path);
  copy.createFailed = !copy.out;
  // Making the name made an empty file under it: it must not stay behind in the temporary folder.
  if (copy.createFailed && !copy.path.empty()) files_.Delete(copy.path);
  return !copy.createFailed;
}

void OeMailboxReader::DropText(TextCopy& copy) {
  if (!copy.out) return;
  copy.out->Close();
  copy.out.reset();
  files_.Delete(copy.path);
}

OeMailboxReader::CopyResult OeMailboxReader::FinishText(TextCopy& copy, bool read_whole,
                                                        std::string& messageFile) {
  if (!copy.out && !copy.createFailed) OpenText(copy);
  if (copy.createFailed) {
    Report(platform::DiagnosticKind::kOutputFailure,
           copy.path.empty() ? temp_.TempPath() : copy.path, std::nullopt,
           "a temporary message file cannot be created", "the rest of the folder");
    return CopyResult::kWriteError;
  }
  copy.header.Finish();
  statusMark = copy.header.statusMark();
  const bool write_failed = !copy.out->Close() || copy.writeFailed;
  copy.out.reset();
  if (read_whole && !write_failed) {
    messageFile = copy.path;
    return CopyResult::kCopied;
  }
  // Never handed over, so still ours: a partial message must not reach the host.
  files_.Delete(copy.path);
  if (write_failed) {
    Report(platform::DiagnosticKind::kOutputFailure, copy.path, std::nullopt,
           "the temporary message file cannot be written whole (is its disk full?)",
           "the rest of the folder");
    return CopyResult::kWriteError;
  }
  Report(platform::DiagnosticKind::kSkipped, records[current].mailboxName + ".mbx", mbxFile->Tell(),
         "read error", "the rest of the folder");
  return CopyResult::kReadError;
}

}  // namespace kv
