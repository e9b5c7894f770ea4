#pragma once
// Where a Eudora store lies: the command line Eudora leaves in the registry, directory names
// brought to their long form, and the file names the store's parts are derived by.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/registry.h"

namespace kv {

// The registry key whose value "current" (any case) holds Eudora's command line.
inline constexpr const char* kEudoraRegistryKey = "Software\\Qualcomm\\Eudora\\CommandLine";
// The size of the path buffers the store folder is built in: longer results are not used.
inline constexpr std::size_t kMaxPathLength = 260;

// A path taken apart as _splitpath does: "C:" (or empty), the folders up to and including the last
// "\" or "/", the file name up to its last period, and the extension from that period on.
struct SplitPathParts {
  std::string drive;
  std::string dir;
  std::string fname;
  std::string ext;
};
SplitPathParts SplitPath(std::string_view path);

// The summary file of a mailbox: its drive, folders and base name with the extension ".toc".
std::string SummaryPathFor(std::string_view mailbox_path);

// The mail folder in Eudora's command line (program path, blank, mail folder, blank, settings
// file): the text between the first and the last blank, trimmed. Empty with fewer than two blanks.
std::string StoreFolderFromCommandLine(std::string command_line);

// The long form of the folder path `source`: every folder name replaced by its name as stored on
// disk (looked up one by one from the drive down; "/" separates names as "\" does), joined by "\"
// without a trailing separator. Any name that cannot be looked up as a folder (or a result of
// `size` characters or more) leaves the path as it was, cut to `size` - 1 characters. A last name
// with an extension is not looked up at all and keeps the source, so a folder beside it named
// without the extension is never taken for it.
std::string ExpandLongPath(platform::FileSystem& files, std::string_view source,
                           std::size_t size = kMaxPathLength);

// The store folder the registry names: StoreFolderFromCommandLine of the first value of
// kEudoraRegistryKey named "current" (any case), in its long form. Empty when the key or the value
// is missing or enumeration fails before it. The key is closed before returning.
std::string FindEudoraStoreFolder(platform::Registry& registry, platform::FileSystem& files);

}  // namespace kv
