#pragma once
// The Netscape mail directory walk: every mailbox file without an extension that has a ".snm"
// summary beside it is a folder, and a directory of its name + ".sbd" holds its subfolders in the
// same layout. The walk fills a FolderList with a root record and one record per folder, then sorts
// it.
//
// Paths are built as the directory searches return the names: folder files join with "/" and search
// patterns with "\", so a file reads "C:\Mail/Inbox.sbd/Work"; the file system accepts both.
// A directory that cannot be searched contributes nothing. What the walk passes over although it
// may hold mail (a mailbox without its summary, a folder whose name holds a dot, a subfolder
// directory whose mailbox is not a folder, folders nested beyond the walk's bounds) is reported
// through the diagnostics service.

#include <string>

#include "netscape/folder_list.h"
#include "platform/diagnostics.h"
#include "platform/file_system.h"

namespace kv {

// Bounds of the walk: a loop of links between ".sbd" directories must not make it endless.
inline constexpr int kMaxNetscapeFolderDepth = 64;
inline constexpr std::size_t kMaxNetscapeFolders = 100000;

// Clears `list`, appends the root record (`rootName` as name and path, `mailDirectory` as file) and
// one record per folder found below `mailDirectory`, breadth first, then sorts the list. True when
// it holds more than the root record.
bool BuildNetscapeFolderList(platform::FileSystem& files, platform::Diagnostics& diagnostics,
                             const std::string& mailDirectory, const std::string& rootName,
                             FolderList& list);

}  // namespace kv
