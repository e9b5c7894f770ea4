#pragma once
// Finding and loading an Outlook Express 4 store: the "store root" registry value, the folder table
// from "folders.nch" (or the store's ".mbx" files), and the user's choice of folders to import.

#include <optional>
#include <string>

#include "common/oe_folder_record.h"
#include "oe4/oe_mailbox_reader.h"
#include "platform/services.h"

namespace kv {

// The registry key whose "store root" value names the store's parent folder.
inline constexpr const char* kOeRegistryKey = "Software\\Microsoft\\Outlook Express";

// The store folder the registry names: the data of the first value of kOeRegistryKey whose name,
// lower-cased, is "store root", followed by "\Mail". Empty when the key, the value or its data is
// missing, or when enumeration fails before the value (a value too large for the enumeration's
// buffers ends it). The key is closed before returning.
std::string FindOeStoreFolder(platform::Registry& registry);

// A folder table as read from the store, linked, with its child lists.
struct LoadedFolderTable {
  OeFolderTable table;
  OeChildLists children;
  bool fromFoldersFile = false;  // read from "folders.nch" rather than listed from ".mbx" files
};

// Reads the folder table of `storeDir`: from "folders.nch" when it can be opened, otherwise one
// top-level folder per ".mbx" file. nullopt when "folders.nch" is damaged (see ReadFoldersFile and
// LinkFolderTable) or, without it, no ".mbx" file exists. Damage to "folders.nch", including a cut
// that leaves the folders before it, is reported to `diagnostics`.
std::optional<LoadedFolderTable> LoadFolderTable(platform::FileSystem& files,
                                                 const std::string& storeDir,
                                                 platform::Diagnostics& diagnostics);

// Loads the folder table of reader.storeDir and lets the user choose the subtree to import in the
// folder dialog over `owner`. True with reader.records holding the chosen folders in walk order
// (an empty table when "folders.nch" lists no used folder; the dialog is then not shown). False
// when the store cannot be read, or when the user cancelled, which sets reader.cancelled.
bool BuildFolderTable(const platform::Services& services, platform::WindowHandle owner,
                      OeMailboxReader& reader);

}  // namespace kv
