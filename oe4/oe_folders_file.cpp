#include "oe4/oe_folders_file.h"

#include <array>
#include <cstdint>
#include <set>
#include <unordered_map>
#include <vector>

#include "app/process_state.h"
#include "platform/byte_view.h"

namespace kv {
namespace {

// "folders.nch": a header that is not read, then a chain of folder records linked by file offsets.
constexpr std::uint64_t kFirstRecordOffset = 0x240;
// Offset 8 of the first record: non-zero only in files of the second layout.
constexpr std::uint64_t kLayoutProbeOffset = kFirstRecordOffset + 8;

// Fields of a folder record, as offsets from the record's start.
constexpr std::size_t kSecondLayoutNextOffset = 8;  // second layout: offset of the next record
constexpr std::size_t kFirstLayoutNextOffset = 12;  // first layout: offset of the next record
constexpr std::size_t kFolderNumberOffset = 16;     // the folder's number; 0 = unused record
constexpr std::size_t kNameOffset = 20;             // the folder's name, zero-terminated
constexpr std::size_t kNameSize = 259;
constexpr std::size_t kMailboxNameOffset = 279;  // base name of the .mbx/.idx pair, zero-terminated
constexpr std::size_t kMailboxNameSize = 260;
constexpr std::size_t kParentNumberOffset = 539;  // the parent folder's number
constexpr std::size_t kRecordSize = 543;
// What the chain walk reads of each record: everything up to and including the folder number.
constexpr std::size_t kChainFieldsSize = kFolderNumberOffset + 4;

// Reads exactly `size` bytes at `offset`; nullopt when the file ends first or a read fails.
std::optional<std::vector<std::uint8_t>> ReadAt(platform::ReadableFile& file, std::uint64_t offset,
                                                std::size_t size) {
  if (!file.Seek(offset)) return std::nullopt;
  std::vector<std::uint8_t> bytes(size);
  std::size_t filled = 0;
  while (filled < size) {
    std::optional<std::size_t> count =
        file.Read(std::span<std::uint8_t>(bytes.data() + filled, size - filled));
    if (!count || *count == 0) return std::nullopt;
    filled += *count;
  }
  return bytes;
}

FoldersFileRead Damaged(std::uint64_t offset, std::string problem) {
  return FoldersFileRead{std::nullopt, FoldersFileDamage{offset, std::move(problem)}};
}

// Follows the record chain from the first record and collects the offsets of the used records, in
// chain order. The chain comes from the file, so a record met twice is damage, not a loop to run.
// A record that does not lie whole inside the file ends the chain as a cut: the records before it
// stay. Other damage leaves no table.
FoldersFileRead UsedRecordOffsets(platform::ReadableFile& file, std::vector<std::uint64_t>& used) {
  const std::size_t next_field =
      g_bFoldersSecondLayout ? kSecondLayoutNextOffset : kFirstLayoutNextOffset;
  const std::optional<std::uint64_t> size = file.Size();
  std::set<std::uint64_t> visited;
  std::uint64_t offset = kFirstRecordOffset;
  for (;;) {
    if (!visited.insert(offset).second) {
      return Damaged(offset, "the chain of folder records comes back to this record");
    }
    if (size && (offset > *size || kRecordSize > *size - offset)) {
      FoldersFileRead cut;
      cut.table.emplace();
      cut.damage = FoldersFileDamage{
          offset, offset >= *size ? "the file ends before the folder record that starts here"
                                  : "the file ends inside the folder record that starts here"};
      return cut;
    }
    std::optional<std::vector<std::uint8_t>> fields = ReadAt(file, offset, kChainFieldsSize);
    if (!fields) return Damaged(offset, "read error");
    const ByteView view(*fields);
    if (*view.u32le(kFolderNumberOffset) != 0) used.push_back(offset);
    // Offsets are signed in the file: a negative one cannot be moved to.
    const auto next = static_cast<std::int32_t>(*view.u32le(next_field));
    if (next == 0) return FoldersFileRead{OeFolderTable{}, std::nullopt};
    if (next < 0) return Damaged(offset, "the next-record offset is negative");
    offset = static_cast<std::uint64_t>(next);
  }
}

// The chain walk has made sure that the record lies whole inside the file.
std::optional<OeFolderRecord> ReadRecord(platform::ReadableFile& file, std::uint64_t offset) {
  std::optional<std::vector<std::uint8_t>> bytes = ReadAt(file, offset, kRecordSize);
  if (!bytes) return std::nullopt;
  const ByteView view(*bytes);
  OeFolderRecord record;
  record.id = *view.u32le(kFolderNumberOffset);
  record.name = *view.CString(kNameOffset, kNameSize);
  record.mailboxName = *view.CString(kMailboxNameOffset, kMailboxNameSize);
  record.parentId = *view.u32le(kParentNumberOffset);
  record.parentIndex = -1;
  record.displayPath = record.name;
  return record;
}

std::string WithoutExtension(const std::string& file_name) {
  const std::size_t dot = file_name.rfind('.');
  return dot == std::string::npos ? file_name : file_name.substr(0, dot);
}

}  // namespace

FoldersFileRead ReadFoldersFile(platform::ReadableFile& file) {
  std::optional<std::vector<std::uint8_t>> probe = ReadAt(file, kLayoutProbeOffset, 4);
  if (!probe) return Damaged(0, "the file is shorter than its header and first record");
  if (*ByteView(*probe).u32le(0) != 0) g_bFoldersSecondLayout = true;

  std::vector<std::uint64_t> offsets;
  FoldersFileRead read = UsedRecordOffsets(file, offsets);
  if (!read.table) return read;
  read.table->reserve(offsets.size());
  for (std::uint64_t offset : offsets) {
    std::optional<OeFolderRecord> record = ReadRecord(file, offset);
    if (!record) return Damaged(offset, "read error");
    read.table->push_back(std::move(*record));
  }
  return read;
}

OeFolderTable ListMailboxFiles(platform::FileSystem& files, const std::string& storeDir) {
  OeFolderTable table;
  std::unique_ptr<platform::FileFinder> finder = files.FindFirst(storeDir + "\\*.mbx");
  if (!finder) return table;
  while (std::optional<platform::FindEntry> entry = finder->Next()) {
    OeFolderRecord record;
    record.id = static_cast<std::uint32_t>(table.size() + 1);
    record.parentId = 0;
    record.parentIndex = -1;
    record.name = WithoutExtension(entry->name);
    record.mailboxName = record.name;
    record.displayPath = record.name;
    table.push_back(std::move(record));
  }
  return table;
}

std::optional<OeChildLists> LinkFolderTable(OeFolderTable& table) {
  std::unordered_map<std::uint32_t, int> last_index_with_id;
  for (std::size_t i = 0; i < table.size(); ++i) {
    last_index_with_id[table[i].id] = static_cast<int>(i);
  }
  for (OeFolderRecord& record : table) {
    auto parent = last_index_with_id.find(record.parentId);
    if (parent != last_index_with_id.end()) record.parentIndex = parent->second;
  }

  OeChildLists children(table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i].parentIndex != -1) children[table[i].parentIndex].push_back(static_cast<int>(i));
  }

  // Breadth-first from the top-level folders. Each record sits in exactly one child list, so the
  // walk reaches every record at most once; records on a parent cycle are never reached and keep
  // their own name as display path.
  std::vector<int> order;
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i].parentIndex == -1) order.push_back(static_cast<int>(i));
  }
  // Path lengths first: a long parent chain makes the paths grow with the square of its length.
  std::vector<std::size_t> path_length(table.size());
  std::uint64_t total_length = 0;
  for (std::size_t next = 0; next < order.size(); ++next) {
    const int parent = order[next];
    if (table[parent].parentIndex == -1) path_length[parent] = table[parent].name.size();
    total_length += path_length[parent];
    if (total_length > kMaxDisplayPathBytes) return std::nullopt;
    for (int child : children[parent]) {
      path_length[child] = path_length[parent] + 1 + table[child].name.size();
      order.push_back(child);
    }
  }
  for (int parent : order) {
    for (int child : children[parent]) {
      table[child].displayPath = table[parent].displayPath + "/" + table[child].name;
    }
  }
  return children;
}

}  // namespace kv
