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
// The store is only read.

#include <cstdint>
#include <memory>
#include <string>

#include "common/oe_folder_record.h"
#include "platform/chunked_reader.h"
#include "platform/services.h"

namespace kv {

inline constexpr std::uint32_t kOeRecordMarker = 0x7F007F00;

class OeMailboxReader {
 public:
  OeMailboxReader(platform::FileSystem& files, platform::TempFiles& temp,
                  platform::UserInterface& ui);

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
  std::size_t current = 0;           // table index of the current folder
  std::string storeDir;

 private:
  struct IndexEntry {
    std::uint8_t flags = 0;
  };

  bool OpenFolderFiles(const OeFolderRecord& record);
  bool ReadFirstMessage(std::string& messageFile);
  bool ReadNextMessage(std::string& messageFile);
  std::optional<IndexEntry> ReadIndexEntry();
  bool CopyMessageText(std::uint64_t textStart, std::optional<std::uint64_t> textEnd,
                       std::string& messageFile);

  platform::FileSystem& files_;
  platform::TempFiles& temp_;
  platform::UserInterface& ui_;
  std::unique_ptr<ChunkedReader> mbxFile;
  std::unique_ptr<ChunkedReader> idxFile;
  std::uint64_t idxOffset = 0;  // file offset of the next index record
};

}  // namespace kv
