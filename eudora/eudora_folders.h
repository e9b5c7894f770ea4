#pragma once
// The folder hierarchy of a Eudora store. Every folder of the store is a directory holding a
// folder map, "descmap.pce": one line per mailbox or subfolder, "name,file name,type,flag". The
// maps are read once into three parallel lists (display path, file path, type code) in depth-first
// order: a map's own entries in file order, then the content of each of its subfolders in turn.

#include <cstddef>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/file_system.h"

namespace kv {

inline constexpr const char* kFolderMapName = "descmap.pce";

// One index names one entry in all three lists.
struct EudoraFolderLists {
  // "Eudora/In", "Eudora/Projects/Old": the root name, then "/" and each level's name.
  std::vector<std::string> displayPaths;
  // The folder map's directory, "\" and the entry's file name: a mailbox file or a subfolder.
  std::vector<std::string> filePaths;
  // Only the first character counts: "S" and "M" mailboxes, "F" a subfolder; any other entry is
  // walked as a mailbox but has no summary file to check.
  std::vector<std::string> folderTypes;

  std::size_t size() const { return displayPaths.size(); }
  bool empty() const { return displayPaths.empty(); }
  bool IsMailbox(std::size_t index) const;
  bool IsSubfolder(std::size_t index) const;
};

// Splits one folder map line: `name` is the text before the first comma, `fileName` the text
// between the first and the second, `typeCode` the text between the second and the third directly
// followed by everything after the third (fields S and N give SN; further commas stay). False, with
// the three emptied, for a line with fewer than three commas or an empty one of the three fields.
// No blank is trimmed.
bool ParseFolderMapLine(const std::string& line, std::string& name, std::string& fileName,
                        std::string& typeCode);

// Limits on what a store's folder maps can make the reader load: a subfolder that names its own
// directory, or a map listing a subfolder many times, cannot make loading run away.
inline constexpr int kMaxFolderDepth = 64;
inline constexpr std::size_t kMaxFolderEntries = 100000;

// Appends the entries of `directory`\descmap.pce, with `displayPrefix` + "/" before each name, and
// then, recursively, the entries of every subfolder it lists (a subfolder listed twice is loaded
// twice). True when this directory's map was read to its end; false when it cannot be opened
// (nothing appended) or a read error cut it (what was read stays). A subfolder without a readable
// map adds nothing. Lines that are not entries, maps beyond the limits above, and subfolders
// holding mailbox files but no map are reported to `diagnostics`.
bool LoadFolderMap(platform::FileSystem& files, platform::Diagnostics& diagnostics,
                   const std::string& displayPrefix, const std::string& directory,
                   EudoraFolderLists& lists);

// The next entry after `index` whose file path begins with `startPath` (byte for byte), passing
// over subfolder entries when `skipEmptyFolders` is 1; -1 when there is none or `startPath` is
// empty. Since every entry's file path begins with its folder's, this walks the chosen entry and
// everything below it, in list order.
int NextFolderIndex(const EudoraFolderLists& lists, const std::string& startPath, int index,
                    int skipEmptyFolders);

// The folder name the host is given for an entry: the display path without the leading root name
// "Eudora" and "/", trimmed; "NoName" when that leaves nothing.
std::string FolderNameOf(const std::string& displayPath);

// `text` without `prefix` when it starts with it, else `text` unchanged.
std::string StripPrefix(const std::string& text, const std::string& prefix);

}  // namespace kv
