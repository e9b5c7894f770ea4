#pragma once
// The Outlook Express 5 folder tree: "Folders.dbx" read into folder records (LoadFolders), then
// prepared for the folder dialog and the walk (PrepareFolders): display paths and file paths, only
// the local folders' subtree kept, sorted by path, and no message count for a folder without file.
//
// A folder record of "Folders.dbx" gives: id (field 0x80, direct, 16 bits), parent id (0x81),
// name (0x02, an indirect string), file name (0x03, an indirect string), message count (0x87,
// direct) and a second number (0x88, carried only). Only these exact id bytes are looked for.

#include <cstdint>
#include <string>
#include <vector>

#include "netscape/folder_list.h"
#include "platform/services.h"

namespace kv {

inline constexpr const char* kOe5FoldersFileName = "Folders.dbx";
// The name a folder record without a name field gets.
inline constexpr const char* kOe5UnnamedFolder = "Unknown";
// A display path longer than this comes from parent links that loop (or a damaged chain); it stops
// growing there and the folder is reported.
inline constexpr std::size_t kOe5MaxPathBytes = 32 * 1024;

// The record offsets of "Folders.dbx" at `path`, at most as many as its header's folder count.
// Empty when the file cannot be opened or counts no folder. Damage is reported.
std::vector<std::uint32_t> ReadFolderIndex(platform::FileSystem& files,
                                           platform::Diagnostics& diagnostics,
                                           const std::string& path);

// The folder records of the store at `storeRoot`, in index order, with `path` still empty and
// `file` the bare file name. Empty when "Folders.dbx" is missing or yields no folder record.
std::vector<FolderRecord> LoadFolders(platform::FileSystem& files,
                                      platform::Diagnostics& diagnostics,
                                      const std::string& storeRoot);

// The index of the first record whose id is record i's parent id, or records.size() for none (also
// for a record whose own id is 0). A record may be its own parent.
std::size_t FindParent(const std::vector<FolderRecord>& records, std::size_t i);

// Sets each record's path to the names from the top-most ancestor reached down to its own,
// joined by "/" (following parent links at most records.size() times, so a loop repeats names),
// and prefixes a non-empty file name with `storeRoot` and "\".
void BuildFolderPaths(std::vector<FolderRecord>& records, const std::string& storeRoot,
                      platform::Diagnostics& diagnostics);

// Keeps only the first record whose id is 1 (the local folders' root) and the records whose paths
// begin with its path, in their order. Without such a record nothing is removed.
void KeepLocalSubtree(std::vector<FolderRecord>& records);

// A folder without a file has no messages: its count becomes 0.
void ClearFilelessCounts(std::vector<FolderRecord>& records);

// BuildFolderPaths, KeepLocalSubtree, ClearFilelessCounts, then the records sorted by path into a
// folder list: record 0 is the local root. Without one (no record has id 1) the first path stands
// for it, and the folders a walk from it cannot reach are reported.
FolderList PrepareFolders(std::vector<FolderRecord> records, const std::string& storeRoot,
                          platform::Diagnostics& diagnostics);

}  // namespace kv
