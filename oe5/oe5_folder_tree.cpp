#include "oe5/oe5_folder_tree.h"

#include <algorithm>
#include <unordered_map>

#include "oe5/dbx_file.h"

namespace kv {
namespace {

// Folder record fields of "Folders.dbx".
constexpr std::uint8_t kFieldId = 0x80;           // direct
constexpr std::uint8_t kFieldParentId = 0x81;     // direct
constexpr std::uint8_t kFieldName = 0x02;         // indirect string
constexpr std::uint8_t kFieldFile = 0x03;         // indirect string: the folder's file name
constexpr std::uint8_t kFieldCount = 0x87;        // direct: messages in the folder's file
constexpr std::uint8_t kFieldSecondCount = 0x88;  // direct: carried, not read afterwards

// The id of the local folders' root.
constexpr std::uint32_t kLocalRootId = 1;

std::string FoldersFilePath(const std::string& storeRoot) {
  return storeRoot + "\\" + kOe5FoldersFileName;
}

FolderRecord MakeRecord(dbx::DbxFile& file, const dbx::DbxRecord& record) {
  auto direct = [&record](std::uint8_t id) {
    return dbx::FindField(record.descriptors, id, dbx::DescriptorPart::kLow16).value_or(0);
  };
  FolderRecord folder;
  folder.id = direct(kFieldId);
  folder.parentId = direct(kFieldParentId);
  folder.name = dbx::ReadFieldString(file, record, kFieldName).value_or(kOe5UnnamedFolder);
  folder.file = dbx::ReadFieldString(file, record, kFieldFile).value_or("");
  folder.extra1 = direct(kFieldCount);
  folder.extra2 = direct(kFieldSecondCount);
  return folder;
}

// Without the local folders' root every record stays and the first in path order stands for the
// root: the walk from it reaches only the folders below its path, never itself. Says which folders
// that leaves out, since their messages cannot be chosen.
void ReportMissingLocalRoot(const FolderList& list, platform::Diagnostics& diagnostics) {
  const std::string& top = list[0].path;
  std::size_t left_out = list[0].file.empty() ? 0 : 1;
  for (std::size_t i = 1; i < list.Count(); ++i) {
    if (!list[i].path.starts_with(top)) ++left_out;
  }
  if (left_out == 0) return;
  platform::Diagnostic diagnostic;
  diagnostic.file = kOe5FoldersFileName;
  diagnostic.problem = "no local folders root (folder id 1); the folders below \"" +
                       top.substr(0, 200) + "\" stand for the store";
  diagnostic.lost = std::to_string(left_out) + " folder" + (left_out == 1 ? "" : "s") +
                    " outside them and their messages";
  diagnostics.Report(diagnostic);
}

}  // namespace

std::vector<std::uint32_t> ReadFolderIndex(platform::FileSystem& files,
                                           platform::Diagnostics& diagnostics,
                                           const std::string& path) {
  std::optional<dbx::DbxFile> file = dbx::DbxFile::Open(files, path, "", diagnostics);
  if (!file) return {};
  const std::uint32_t count = file->ReadWord(dbx::kFolderCountOffset).value_or(0);
  if (count == 0) return {};
  const std::uint32_t root = file->ReadWord(dbx::kFolderIndexRootOffset).value_or(0);
  dbx::CollectedOffsets collected = dbx::CollectOffsets(*file, root, count, "folders");
  if (collected.beyondCapacity > 0) {
    file->Report(
        dbx::kFolderIndexRootOffset,
        "folder index lists more folders than the file's count of " + std::to_string(count),
        std::to_string(collected.beyondCapacity) + " folders and their messages");
  }
  return std::move(collected.offsets);
}

std::vector<FolderRecord> LoadFolders(platform::FileSystem& files,
                                      platform::Diagnostics& diagnostics,
                                      const std::string& storeRoot) {
  const std::string path = FoldersFilePath(storeRoot);
  const std::vector<std::uint32_t> offsets = ReadFolderIndex(files, diagnostics, path);
  std::vector<FolderRecord> records;
  if (offsets.empty()) return records;
  std::optional<dbx::DbxFile> file = dbx::DbxFile::Open(files, path, "", diagnostics);
  if (!file) return records;
  for (std::uint32_t offset : offsets) {
    std::optional<dbx::DbxRecord> record = dbx::ReadRecord(*file, offset);
    if (!record) {
      file->Report(offset, "folder record lies outside the file", "the folder and its messages");
      continue;
    }
    records.push_back(MakeRecord(*file, *record));
  }
  return records;
}

std::size_t FindParent(const std::vector<FolderRecord>& records, std::size_t i) {
  if (records[i].id == 0) return records.size();
  for (std::size_t j = 0; j < records.size(); ++j) {
    if (records[j].id == records[i].parentId) return j;
  }
  return records.size();
}

void BuildFolderPaths(std::vector<FolderRecord>& records, const std::string& storeRoot,
                      platform::Diagnostics& diagnostics) {
  const std::size_t n = records.size();
  // FindParent for every record at once: the first record holding each id.
  std::unordered_map<std::uint32_t, std::size_t> first_with_id;
  for (std::size_t j = 0; j < n; ++j) first_with_id.emplace(records[j].id, j);
  std::vector<std::size_t> parent(n, n);
  for (std::size_t i = 0; i < n; ++i) {
    if (records[i].id == 0) continue;
    const auto found = first_with_id.find(records[i].parentId);
    if (found != first_with_id.end()) parent[i] = found->second;
  }

  for (std::size_t i = 0; i < n; ++i) {
    // Names are gathered bottom-up and joined once, so a long chain costs its length, not its
    // square.
    std::vector<std::size_t> chain{i};
    std::size_t length = records[i].name.size();
    bool cut = false;
    std::size_t cur = i;
    for (std::size_t step = 0; step < n; ++step) {
      const std::size_t p = parent[cur];
      if (p == n) break;
      if (length + 1 + records[p].name.size() > kOe5MaxPathBytes) {
        cut = true;
        break;
      }
      length += 1 + records[p].name.size();
      chain.push_back(p);
      cur = p;
    }
    std::string path;
    path.reserve(length);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if (it != chain.rbegin()) path += '/';
      path += records[*it].name;
    }
    records[i].path = std::move(path);
    if (cut) {
      platform::Diagnostic diagnostic;
      diagnostic.folder = records[i].path.substr(0, 200);
      diagnostic.file = kOe5FoldersFileName;
      diagnostic.problem = "folder's parent links run longer than " +
                           std::to_string(kOe5MaxPathBytes) + " bytes of path (they loop)";
      diagnostic.lost = "the upper part of its display path";
      diagnostics.Report(diagnostic);
    }
    if (!records[i].file.empty()) records[i].file = storeRoot + "\\" + records[i].file;
  }
}

void KeepLocalSubtree(std::vector<FolderRecord>& records) {
  std::string prefix;
  for (const FolderRecord& record : records) {
    if (record.id == kLocalRootId) {
      prefix = record.path;
      break;
    }
  }
  std::erase_if(records, [&prefix](const FolderRecord& record) {
    return !std::string_view(record.path).starts_with(prefix);
  });
}

void ClearFilelessCounts(std::vector<FolderRecord>& records) {
  for (FolderRecord& record : records) {
    if (record.file.empty()) record.extra1 = 0;
  }
}

FolderList PrepareFolders(std::vector<FolderRecord> records, const std::string& storeRoot,
                          platform::Diagnostics& diagnostics) {
  const bool has_local_root = std::any_of(
      records.begin(), records.end(), [](const auto& record) { return record.id == kLocalRootId; });
  BuildFolderPaths(records, storeRoot, diagnostics);
  KeepLocalSubtree(records);
  ClearFilelessCounts(records);
  FolderList list;
  for (FolderRecord& record : records) list.Append(std::move(record));
  list.Sort();
  if (!has_local_root && list.Count() > 0) ReportMissingLocalRoot(list, diagnostics);
  return list;
}

}  // namespace kv
