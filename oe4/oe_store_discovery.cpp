#include "oe4/oe_store_discovery.h"

#include "common/folder_select_dlg.h"
#include "oe4/oe_folders_file.h"
#include "platform/text.h"

namespace kv {
namespace {

constexpr const char* kStoreRootValue = "store root";
// Buffer sizes of the value enumeration: a longer name or larger data ends the enumeration.
constexpr std::size_t kValueNameBufferSize = 80;
constexpr std::size_t kValueDataBufferSize = 783;
constexpr const char* kMailSubfolder = "\\Mail";

}  // namespace

std::string FindOeStoreFolder(platform::Registry& registry) {
  std::optional<platform::RegistryKey> key = registry.OpenCurrentUserKey(kOeRegistryKey);
  if (!key) return {};
  std::string folder;
  platform::RegistryValue value;
  for (std::uint32_t index = 0;
       registry.EnumValue(*key, index, kValueNameBufferSize, kValueDataBufferSize, value) ==
       platform::RegistryResult::kSuccess;
       ++index) {
    if (platform::ToLowerAscii(value.name) != kStoreRootValue) continue;
    folder = value.Text();
    if (!folder.empty()) folder += kMailSubfolder;
    break;
  }
  registry.CloseKey(*key);
  return folder;
}

std::optional<LoadedFolderTable> LoadFolderTable(platform::FileSystem& files,
                                                 const std::string& storeDir,
                                                 platform::Diagnostics& diagnostics) {
  LoadedFolderTable loaded;
  std::unique_ptr<platform::ReadableFile> folders_file =
      files.OpenForReading(storeDir + "\\" + kFoldersFileName);
  if (folders_file) {
    FoldersFileRead read = ReadFoldersFile(*folders_file);
    if (read.damage) {
      platform::Diagnostic diagnostic;
      diagnostic.file = kFoldersFileName;
      diagnostic.offset = read.damage->offset;
      diagnostic.problem = read.damage->problem;
      diagnostic.lost = read.table ? "the folders listed from this record on"
                                   : "every folder: the folder list cannot be read";
      diagnostics.Report(diagnostic);
    }
    if (!read.table) return std::nullopt;
    loaded.table = std::move(*read.table);
    std::optional<OeChildLists> children = LinkFolderTable(loaded.table);
    if (!children) {
      diagnostics.Report(platform::Diagnostic{
          platform::DiagnosticKind::kSkipped, "", kFoldersFileName, std::nullopt,
          "the folders' parent links nest too deep for their paths",
          "every folder: the folder list cannot be read"});
      return std::nullopt;
    }
    loaded.children = std::move(*children);
    loaded.fromFoldersFile = true;
    return loaded;
  }
  loaded.table = ListMailboxFiles(files, storeDir);
  if (loaded.table.empty()) return std::nullopt;
  loaded.children.resize(loaded.table.size());
  return loaded;
}

bool BuildFolderTable(const platform::Services& services, platform::WindowHandle owner,
                      OeMailboxReader& reader) {
  reader.cancelled = false;
  services.ui.ShowWaitCursor();
  std::optional<LoadedFolderTable> loaded =
      LoadFolderTable(services.files, reader.storeDir, services.diagnostics);
  if (!loaded) return false;
  if (loaded->table.empty()) {
    reader.records.clear();
    return true;
  }

  COEFolderSelectDlg dialog(services.ui, owner);
  dialog.m_nFolders = static_cast<int>(loaded->table.size());
  dialog.m_pFolders = std::move(loaded->table);
  dialog.m_pChildren = std::move(loaded->children);
  if (dialog.DoModal() != platform::kIdOk) {
    reader.cancelled = true;
    return false;
  }
  reader.records = std::move(dialog.m_pFolders);
  if (dialog.m_nFolders >= 0 &&
      static_cast<std::size_t>(dialog.m_nFolders) < reader.records.size()) {
    reader.records.resize(static_cast<std::size_t>(dialog.m_nFolders));
  }
  return true;
}

}  // namespace kv
