#pragma once
// The Outlook Express 4 mailbox reader: walks the folder table folder by folder, reads each
// folder's ".mbx" mailbox in step with its ".idx" index, and copies every message that the index
// does not mark as skipped into a new temporary message file (prefix "imp") for the host.
//
// Mailbox file (".mbx"): read as little-endian 32-bit words from offset 0; the first record marker
// word starts the first record. A record is the marker, 12 bytes not interpreted, the message text,
// and ends where the next marker starts (markers only count at offsets that are multiples of 4).
// Index file (".idx"): records from offset 0x50, the n-th belonging to the n-th mailbox record;
// byte 0 holds the flags, bytes 16-19 the record's length, which leads to the next record.
//
// Damaged files never loop or read out of bounds: a short record, an index record that cannot be
// read or a temporary file that cannot be written ends the folder; the walk goes on with the next.
// A folder whose two files cannot both be opened, or whose mailbox name leads outside the store
// folder, is passed over. Each of these is reported through the diagnostics service with the
// folder, the file, the offset and what was not handed over; a temporary file that cannot be
// written is reported as an output failure. The store is only read.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "common/oe_folder_record.h"
#include "eudora/message_header_scan.h"
#include "platform/chunked_reader.h"
#include "platform/services.h"

namespace kv {

inline constexpr std::uint32_t kOeRecordMarker = 0x7F007F00;
// Mailbox record: after the marker word, three words not interpreted, then the message text.
inline constexpr std::uint64_t kOeRecordHeaderBytes = 12;

class OeMailboxReader {
 public:
  explicit OeMailboxReader(const platform::Services& services);

  // Starts again at folder 0 and produces the first item. An item is a message (`messageFile` the
  // temporary file's path) or a folder marker (`messageFile` "!!!Empty") when the folder holds no
  // message, g_bReportEmptyFolders is set and the folder has not just produced one. `folderName` is
  // the folder's display path. False when no folder yields an item.
  bool First(std::string& messageFile, std::string& folderName);
  // Produces the next item, leaving the current folder first when nextFolderRequested is set.
  bool Next(std::string& messageFile, std::string& folderName);

  // Forgets the open folder and any skip request, starts at folder 0 and reads `dir` from now on.
  void Reset(const std::string& dir);
  // Empties the folder table and closes the folder's files.
  void FreeTable();
  void CloseFiles();

  // The folder table (its size is the folder count) and the walk's state.
  OeFolderTable records;
  bool cancelled = false;            // the user cancelled the folder dialog
  bool nextFolderRequested = false;  // the next step leaves the current folder
  bool markerPending = true;         // the current folder may still produce a folder marker
  bool unread = false;               // last message: index flag 0x02
  bool received = false;             // last message: index flag 0x10
  bool unsent = false;               // last message: index flags 0x08, 0x0A, 0x0C or 0x0E
  bool statusMark = false;           // last message: its host status header begins with "1"
  std::size_t current = 0;           // table index of the current folder
  std::string storeDir;

 private:
  struct IndexEntry {
    std::uint8_t flags = 0;
  };

  enum class CopyResult { kCopied, kReadError, kWriteError };

  // One message on its way from its mailbox record into a temporary file, which is created when
  // its first byte arrives.
  struct TextCopy {
    std::uint64_t skip = kOeRecordHeaderBytes;  // record header bytes still to drop
    std::string path;
    std::unique_ptr<platform::WritableFile> out;
    MessageHeaderScan header;
    bool createFailed = false;
    bool writeFailed = false;
  };

  bool OpenFolderFiles(const OeFolderRecord& record);
  bool ReadFirstMessage(std::string& messageFile);
  bool ReadNextMessage(std::string& messageFile);
  std::optional<IndexEntry> ReadIndexEntry();
  // Hands the next bytes of the record to the message's temporary file; a file that cannot be
  // created or written takes no more bytes and FinishText reports it.
  void TakeText(TextCopy& copy, std::span<const std::uint8_t> piece);
  bool OpenText(TextCopy& copy);
  // Deletes the temporary file of a message that is not handed over, without a word.
  void DropText(TextCopy& copy);
  // Closes the temporary file and hands it over (`messageFile`) when the whole text is in it and
  // `read_whole`; otherwise deletes it and reports why the folder ends here.
  CopyResult FinishText(TextCopy& copy, bool read_whole, std::string& messageFile);

  // Reports that the current folder lost something. `offset` is where in `file` (a name
  // relative to the store folder) the problem lies.
  void Report(platform::DiagnosticKind kind, const std::string& file,
              std::optional<std::uint64_t> offset, const std::string& problem,
              const std::string& lost);
  // Why `file` of the store folder could not be opened: missing, a folder, a device, unreadable.
  std::string WhyNotOpened(const std::string& file);
  // What a folder that ends early loses: `counted` records plus those from the mailbox position
  // `from` on, as "the rest of the folder: N records". Moves the mailbox position.
  std::string RestOfFolder(std::uint64_t from, std::uint64_t counted);

  platform::FileSystem& files_;
  platform::TempFiles& temp_;
  platform::UserInterface& ui_;
  platform::Diagnostics& diagnostics_;
  std::unique_ptr<ChunkedReader> mbxFile;
  std::unique_ptr<ChunkedReader> idxFile;
  std::uint64_t idxOffset = 0;      // file offset of the next index record
  std::uint64_t messageNumber = 0;  // records of the current folder read so far
};

}  // namespace kv
