#pragma once
// Reading the Outlook Express 4 folder list: "folders.nch" in the store folder, or, when the store
// has none, the listing of its ".mbx" mailbox files. Both give an OeFolderTable in file order;
// LinkFolderTable then resolves parent numbers into table indices, child lists and display paths.

#include <cstdint>
#include <optional>
#include <string>

#include "common/oe_folder_record.h"
#include "platform/file_system.h"

namespace kv {

// The folder list file in the store folder.
inline constexpr const char* kFoldersFileName = "folders.nch";

// What is wrong with a "folders.nch", and where (a file offset).
struct FoldersFileDamage {
  std::uint64_t offset = 0;
  std::string problem;
};

// What ReadFoldersFile found. `table` without `damage`: the whole file was read. `table` with
// `damage`: the record chain leads to a record that does not lie whole inside the file (a cut
// file); the table holds the used records before it. No `table`: the file is damaged so that none
// of it can be trusted (shorter than its header, a negative next-offset, a chain that comes back
// to a record already read, a read error); `damage` says why.
struct FoldersFileRead {
  std::optional<OeFolderTable> table;
  std::optional<FoldersFileDamage> damage;
};

// Reads the used folder records of an open "folders.nch", in chain order, with `displayPath` set to
// the folder's own name and `parentIndex` -1. An empty table means the file lists no used folder.
//
// The record layout is chosen per file, except that once any file in this process has shown the
// second layout, every later file is read with it (g_bFoldersSecondLayout).
FoldersFileRead ReadFoldersFile(platform::ReadableFile& file);

// One record per file matching `storeDir` + "\*.mbx", in search order: ids 1, 2, 3..., parent 0,
// and name, mailbox name and display path all the file name without its extension. Empty when the
// search finds nothing.
OeFolderTable ListMailboxFiles(platform::FileSystem& files, const std::string& storeDir);

// Display paths of one folder list add up to at most this many bytes; a list whose parent links
// would need more (a chain of thousands of nested folders) is taken as damaged.
inline constexpr std::uint64_t kMaxDisplayPathBytes = 64 * 1024 * 1024;

// Links a table read from "folders.nch": each record's `parentIndex` becomes the index of the last
// record whose `id` equals its `parentId` (-1 when none), and each record reachable from a
// top-level record gets its parent's display path + "/" + its name. Returns the child lists: for
// each record, the indices of the records whose parent it is, in table order. nullopt, with the
// display paths untouched, when the paths would exceed kMaxDisplayPathBytes.
std::optional<OeChildLists> LinkFolderTable(OeFolderTable& table);

}  // namespace kv
