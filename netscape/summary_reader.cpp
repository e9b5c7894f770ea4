#include "netscape/summary_reader.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "platform/byte_view.h"
#include "platform/text.h"

namespace kv {
namespace {

// File header: six big-endian words.
constexpr std::uint32_t kSummaryMagic = 2000016;  // 0x001E8490
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kHeaderMagic = 0;       // the magic word
constexpr std::size_t kHeaderClassTable = 8;  // offset of the class table; 0 means none

// Class table: a count, then the class entries one after another.
constexpr std::size_t kClassTableCount = 6;     // 16-bit number of class entries
constexpr std::size_t kClassTableEntries = 10;  // the first entry

// Class entry: a fixed part, then a tail whose length the first byte sets.
constexpr std::size_t kClassEntryTailUnits = 0;  // k: no tail when 0, else 10 + 16 * (k - 1) bytes
constexpr std::size_t kClassEntryId = 1;         // 32-bit class id
constexpr std::size_t kClassEntryRoot = 21;      // offset of the class index's root node; 0: none
constexpr std::size_t kClassEntryFixedSize = 25;
constexpr std::size_t kClassEntryTailBase = 10;
constexpr std::size_t kClassEntryTailStep = 16;

constexpr std::uint32_t kFolderInfoClass = 31;
constexpr std::uint32_t kKeyListClass = 29;
constexpr std::uint32_t kMessageHeaderClass = 30;

// Index node: the kind in the high four bits of the first byte, a count, then the entries.
constexpr std::size_t kNodeKind = 0;
constexpr std::size_t kNodeCount = 6;    // 16-bit entry count n
constexpr std::size_t kNodeEntries = 8;  // n child offsets (branch) or n pairs (leaf)
constexpr std::size_t kBranchEntrySize = 4;
constexpr std::size_t kLeafEntrySize = 8;  // object offset, object key
constexpr std::uint8_t kRootBranch = 0x5;
constexpr std::uint8_t kBranch = 0x1;
constexpr std::uint8_t kRootLeaf = 0xD;
constexpr std::uint8_t kLeaf = 0x9;
// Real indexes are a few levels deep; a deeper one is damaged or built to exhaust the stack.
constexpr int kMaxIndexDepth = 32;

// Folder information object (class 31).
constexpr std::size_t kFolderInfoSize = 89;
constexpr std::size_t kFolderInfoFirstCount = 16;   // first message count
constexpr std::size_t kFolderInfoSecondCount = 20;  // second message count
constexpr std::size_t kFolderInfoNameOffset = 81;   // offset of the folder name text
constexpr std::size_t kFolderInfoNameLength = 85;   // its stated length

// Message key list object (class 29) and the key block it points to.
constexpr std::size_t kKeyListSize = 26;
constexpr std::size_t kKeyListBlock = 22;  // offset of the key block; 0: none
constexpr std::size_t kKeyBlockCount = 6;  // 16-bit key count m
constexpr std::size_t kKeyBlockKeys = 8;   // m 32-bit keys
constexpr std::size_t kKeySize = 4;

// Message header object (class 30).
constexpr std::size_t kMessageHeaderSize = 62;
constexpr std::size_t kMessagePosition = 26;  // byte offset of the message in the mailbox
constexpr std::size_t kMessageLength = 38;    // its length in bytes
constexpr std::size_t kMessageFlags = 42;     // status flags; bit 0: read
constexpr std::size_t kMessageKind = 52;      // 16-bit kind; kOutgoingMessageKind: outgoing

constexpr std::string_view kDraftsFolder = "drafts";

struct IndexPair {
  std::uint32_t object = 0;  // offset of the object
  std::uint32_t key = 0;
};

// Things skipped one at a time, reported together: how many, and where the first one was.
struct SkipTally {
  std::size_t count = 0;
  std::uint64_t first_offset = 0;
  void Add(std::uint64_t offset) {
    if (count++ == 0) first_offset = offset;
  }
};

std::string Hex(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
  return text;
}

std::string Messages(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " message" : " messages");
}

// Decodes one mapped summary: the index walk with its bounds, and the reports of what it could not
// use.
class Decoder {
 public:
  Decoder(ByteView file, platform::Diagnostics& diagnostics, const std::string& path,
          const std::string& folder)
      : file_(file),
        diagnostics_(diagnostics),
        path_(path),
        folder_(folder),
        node_budget_(file.size()) {}

  void Report(const std::string& problem, const std::string& lost,
              std::optional<std::uint64_t> offset = std::nullopt) {
    platform::Diagnostic diagnostic;
    diagnostic.folder = folder_;
    diagnostic.file = path_;
    diagnostic.offset = offset;
    diagnostic.problem = problem;
    diagnostic.lost = lost;
    diagnostics_.Report(diagnostic);
  }

  void ReportTally(const SkipTally& tally, const std::string& what, const std::string& lost) {
    if (tally.count == 0) return;
    Report(std::to_string(tally.count) + " " + what, lost, tally.first_offset);
  }

  // The pairs of the index whose root node is at `root`, depth first and left to right; nullopt
  // when the root is 0, not inside the file, or of no known kind.
  std::optional<std::vector<IndexPair>> CollectIndex(std::uint32_t root) {
    if (root == 0) return std::nullopt;
    visited_.clear();
    std::vector<IndexPair> pairs;
    if (!Collect(root, 0, pairs)) return std::nullopt;
    return pairs;
  }

  // Reports once per index what its walk skipped below the root.
  void ReportIndexSkips(const std::string& index_name) {
    ReportTally(skipped_nodes_,
                "nodes of the " + index_name + " outside the file or of no known kind",
                "the index entries below them");
    ReportTally(repeated_nodes_,
                "nodes of the " + index_name + " reached a second time (a loop or a shared node)",
                "nothing: its entries were read the first time");
    if (too_deep_) {
      Report("the " + index_name + " is nested deeper than " + std::to_string(kMaxIndexDepth) +
                 " levels",
             "the index entries below that depth", too_deep_offset_);
    }
    skipped_nodes_ = {};
    repeated_nodes_ = {};
    too_deep_ = false;
  }

  void ReportBudget() {
    if (!budget_exhausted_) return;
    Report("index nodes overlap: together they hold more bytes than the file",
           "the index entries not yet read", budget_offset_);
  }

  std::optional<std::uint8_t> NodeKind(std::uint32_t offset) const {
    std::optional<std::uint8_t> byte = file_.u8(offset + kNodeKind);
    if (!byte) return std::nullopt;
    return static_cast<std::uint8_t>(*byte >> 4);
  }

  ByteView file() const { return file_; }

 private:
  // The node at `offset` with its `entry_size`-byte entries, when all of it lies inside the file
  // and the walk's byte budget still covers it. In a sound file every node is read once and nodes
  // do not overlap, so all nodes together never hold more bytes than the file.
  std::optional<ByteView> Node(std::uint32_t offset, std::size_t entry_size) {
    std::optional<std::uint16_t> count = file_.u16be(std::size_t{offset} + kNodeCount);
    if (!count) return std::nullopt;
    const std::size_t size = kNodeEntries + entry_size * *count;
    std::optional<ByteView> node = file_.Sub(offset, size);
    if (!node) return std::nullopt;
    if (size > node_budget_) {
      if (!budget_exhausted_) budget_offset_ = offset;
      budget_exhausted_ = true;
      return std::nullopt;
    }
    node_budget_ -= size;
    return node;
  }

  void AppendLeafPairs(ByteView leaf, std::vector<IndexPair>& pairs) {
    const std::size_t count = (leaf.size() - kNodeEntries) / kLeafEntrySize;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = kNodeEntries + i * kLeafEntrySize;
      pairs.push_back({*leaf.u32be(at), *leaf.u32be(at + 4)});
    }
  }

  // In a tree every node has one parent, so a node met again is a loop or a shared node; it is
  // read only the first time. `depth` counts the branches above the node.
  bool Collect(std::uint32_t offset, int depth, std::vector<IndexPair>& pairs) {
    if (budget_exhausted_ || !visited_.insert(offset).second) return false;
    const std::optional<std::uint8_t> kind = NodeKind(offset);
    if (kind == kRootLeaf) {
      std::optional<ByteView> leaf = Node(offset, kLeafEntrySize);
      if (!leaf) return false;
      AppendLeafPairs(*leaf, pairs);
      return true;
    }
    if (kind != kRootBranch && kind != kBranch) return false;
    std::optional<ByteView> branch = Node(offset, kBranchEntrySize);
    if (!branch) return false;
    const std::size_t children = (branch->size() - kNodeEntries) / kBranchEntrySize;
    for (std::size_t i = 0; i < children && !budget_exhausted_; ++i) {
      const std::uint32_t child = *branch->u32be(kNodeEntries + i * kBranchEntrySize);
      const std::optional<std::uint8_t> child_kind = NodeKind(child);
      if (child_kind != kBranch && child_kind != kLeaf) {
        skipped_nodes_.Add(child);
      } else if (visited_.contains(child)) {
        repeated_nodes_.Add(child);
      } else if (child_kind == kBranch && depth + 1 >= kMaxIndexDepth) {
        if (!too_deep_) too_deep_offset_ = child;
        too_deep_ = true;
      } else if (child_kind == kBranch) {
        if (!Collect(child, depth + 1, pairs) && !budget_exhausted_) skipped_nodes_.Add(child);
      } else {
        visited_.insert(child);
        std::optional<ByteView> leaf = Node(child, kLeafEntrySize);
        if (leaf) {
          AppendLeafPairs(*leaf, pairs);
        } else if (!budget_exhausted_) {
          skipped_nodes_.Add(child);
        }
      }
    }
    return true;
  }

  ByteView file_;
  platform::Diagnostics& diagnostics_;
  const std::string& path_;
  const std::string& folder_;
  std::size_t node_budget_;
  bool budget_exhausted_ = false;
  std::uint64_t budget_offset_ = 0;
  std::unordered_set<std::uint32_t> visited_;  // nodes of the current index already met
  SkipTally skipped_nodes_;
  SkipTally repeated_nodes_;
  bool too_deep_ = false;
  std::uint64_t too_deep_offset_ = 0;
};

}  // namespace

SummaryReader::SummaryReader(platform::FileSystem& files, platform::Diagnostics& diagnostics)
    : files_(files), diagnostics_(diagnostics) {}

SummaryReader::~SummaryReader() = default;

void SummaryReader::Close() {
  mapping_.reset();
  folder_name_.clear();
  messages_.clear();
  messages_.shrink_to_fit();
  cursor_ = 0;
  has_current_ = false;
}

bool SummaryReader::NextMessage(bool first) {
  const std::size_t next = first || !has_current_ ? 0 : cursor_ + 1;
  if (next >= messages_.size()) return false;
  cursor_ = next;
  has_current_ = true;
  current_ = messages_[next];
  return true;
}

bool SummaryReader::IsUnsent() const {
  return !IsIncoming() && platform::EqualsIgnoringCase(folder_name_, kDraftsFolder);
}

namespace {

constexpr const char* kLostAll = "the folder's messages";

struct ClassRoots {
  std::uint32_t folder_info = 0;
  std::uint32_t key_lists = 0;
  std::uint32_t headers = 0;
};

struct FolderInfo {
  bool counts_any = false;  // either message count is non-zero
  std::string name;
};

// The class table's roots of the three indexes; the last entry of a class counts.
ClassRoots ReadClassTable(Decoder& decoder, std::uint32_t table) {
  const ByteView file = decoder.file();
  ClassRoots roots;
  const std::optional<std::uint16_t> count = file.u16be(std::size_t{table} + kClassTableCount);
  if (!count) {
    decoder.Report("class table cut off by the end of the file before its entry count",
                   "the indexes", table);
    return roots;
  }
  std::size_t entry = std::size_t{table} + kClassTableEntries;
  std::size_t read = 0;
  for (; read < *count; ++read) {
    std::optional<ByteView> fixed = file.Sub(entry, kClassEntryFixedSize);
    if (!fixed) break;
    const std::uint8_t tail_units = *fixed->u8(kClassEntryTailUnits);
    const std::uint32_t id = *fixed->u32be(kClassEntryId);
    const std::uint32_t root = *fixed->u32be(kClassEntryRoot);
    if (id == kFolderInfoClass) roots.folder_info = root;
    if (id == kKeyListClass) roots.key_lists = root;
    if (id == kMessageHeaderClass) roots.headers = root;
    entry += kClassEntryFixedSize;
    if (tail_units != 0) entry += kClassEntryTailBase + kClassEntryTailStep * (tail_units - 1);
  }
  if (read < *count) {
    decoder.Report("class table cut off by the end of the file after " + std::to_string(read) +
                       " of " + std::to_string(*count) + " class entries",
                   "the indexes of the missing classes", table);
  }
  return roots;
}

// The message counts and the folder name of the first folder information object.
FolderInfo ReadFolderInfo(Decoder& decoder, std::uint32_t root, const std::string& path) {
  const ByteView file = decoder.file();
  FolderInfo result;
  const std::optional<std::vector<IndexPair>> index = decoder.CollectIndex(root);
  decoder.ReportIndexSkips("folder information index");
  if (root == 0) {
    decoder.Report("summary holds no folder information", kLostAll);
    return result;
  }
  if (!index) {
    decoder.Report(
        "root node of the folder information index is outside the file or of no "
        "known kind",
        kLostAll, root);
    return result;
  }
  if (index->empty() || index->front().object == 0) {
    decoder.Report("folder information index names no object", kLostAll, root);
    return result;
  }
  const std::uint32_t at = index->front().object;
  std::optional<ByteView> info = file.Sub(at, kFolderInfoSize);
  if (!info) {
    decoder.Report("folder information lies outside the file", kLostAll, at);
    return result;
  }
  result.counts_any =
      *info->u32be(kFolderInfoFirstCount) != 0 || *info->u32be(kFolderInfoSecondCount) != 0;
  const std::uint32_t name_offset = *info->u32be(kFolderInfoNameOffset);
  const std::uint32_t name_length = *info->u32be(kFolderInfoNameLength);
  // The name is zero-terminated; its stated length only has to fit the file.
  if (name_offset != 0 && name_length != 0 && file.Contains(name_offset, name_length)) {
    result.name = *file.CString(name_offset, file.size() - name_offset);
  } else {
    result.name = path;
  }
  return result;
}

// Every key of every key block the key lists point to, sorted and without duplicates: only
// membership matters.
std::vector<std::uint32_t> ReadKeySet(Decoder& decoder, std::uint32_t root) {
  const ByteView file = decoder.file();
  std::vector<std::uint32_t> keys;
  const std::optional<std::vector<IndexPair>> index = decoder.CollectIndex(root);
  decoder.ReportIndexSkips("message key list index");
  if (!index) {
    decoder.Report(
        "root node of the message key list index is outside the file or of no known "
        "kind",
        kLostAll, root);
    return keys;
  }
  SkipTally skipped;
  std::unordered_set<std::uint32_t> blocks_read;
  // Key blocks overlap only in a damaged file; this caps the keys read at what the file holds.
  std::size_t key_budget = file.size() / kKeySize;
  for (const IndexPair& pair : *index) {
    if (pair.object == 0) continue;
    std::optional<ByteView> list = file.Sub(pair.object, kKeyListSize);
    if (!list) {
      skipped.Add(pair.object);
      continue;
    }
    const std::uint32_t block_offset = *list->u32be(kKeyListBlock);
    // The same block named twice adds no key the set lacks.
    if (block_offset == 0 || blocks_read.contains(block_offset)) continue;
    const std::optional<std::uint16_t> count =
        file.u16be(std::size_t{block_offset} + kKeyBlockCount);
    std::optional<ByteView> block =
        count ? file.Sub(block_offset, kKeyBlockKeys + kKeySize * *count) : std::nullopt;
    if (!block || *count > key_budget) {
      skipped.Add(pair.object);
      continue;
    }
    key_budget -= *count;
    blocks_read.insert(block_offset);
    for (std::size_t i = 0; i < *count; ++i) {
      keys.push_back(*block->u32be(kKeyBlockKeys + i * kKeySize));
    }
  }
  decoder.ReportTally(skipped,
                      "message key lists or their key blocks outside the file or overlapping",
                      "the messages of their keys");
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

// Appends each message header whose key `keys` holds to `messages`, in index order. With no
// message counted the folder lists nothing; the index is still read to say what that leaves out.
void ReadMessages(Decoder& decoder, std::uint32_t root, const FolderInfo& info,
                  const std::vector<std::uint32_t>& keys, std::vector<MessageEntry>& messages) {
  const ByteView file = decoder.file();
  const std::optional<std::vector<IndexPair>> index = decoder.CollectIndex(root);
  decoder.ReportIndexSkips("message header index");
  if (!index) {
    decoder.Report(
        "root node of the message header index is outside the file or of no known "
        "kind",
        kLostAll, root);
    return;
  }
  if (!info.counts_any) {
    const auto listed = static_cast<std::size_t>(std::count_if(
        index->begin(), index->end(), [](const IndexPair& pair) { return pair.object != 0; }));
    if (listed > 0) {
      decoder.Report("folder information counts no messages, yet the message header index lists " +
                         std::to_string(listed),
                     Messages(listed));
    }
    return;
  }
  SkipTally outside;
  SkipTally unkeyed;
  for (const IndexPair& pair : *index) {
    if (pair.object == 0) continue;
    std::optional<ByteView> header = file.Sub(pair.object, kMessageHeaderSize);
    if (!header) {
      outside.Add(pair.object);
    } else if (!std::binary_search(keys.begin(), keys.end(), pair.key)) {
      unkeyed.Add(pair.object);
    } else {
      messages.push_back({*header->u32be(kMessagePosition), *header->u32be(kMessageLength),
                          *header->u32be(kMessageFlags), *header->u16be(kMessageKind)});
    }
  }
  decoder.ReportTally(outside, "message headers outside the file", Messages(outside.count));
  decoder.ReportTally(unkeyed, "message headers whose key no message key list holds",
                      Messages(unkeyed.count));
}

}  // namespace

bool SummaryReader::Open(const std::string& path, const std::string& folder) {
  if (IsOpen()) return false;
  Close();

  std::unique_ptr<platform::MappedFile> mapping = files_.MapReadOnly(path);
  if (!mapping) {
    diagnostics_.Report({platform::DiagnosticKind::kSkipped, folder, path, std::nullopt,
                         "summary file cannot be read", kLostAll});
    return false;
  }
  const ByteView file = mapping->bytes();
  Decoder decoder(file, diagnostics_, path, folder);

  if (file.size() > std::numeric_limits<std::uint32_t>::max()) {
    decoder.Report("summary file larger than 4 GiB", kLostAll);
    return false;
  }
  if (file.size() < kHeaderSize) {
    decoder.Report(
        "summary file of " + std::to_string(file.size()) + " bytes is shorter than its header",
        kLostAll);
    return false;
  }
  const std::uint32_t magic = *file.u32be(kHeaderMagic);
  if (magic != kSummaryMagic) {
    decoder.Report("not a summary file: magic " + Hex(magic), kLostAll, kHeaderMagic);
    return false;
  }
  const std::uint32_t class_table = *file.u32be(kHeaderClassTable);
  if (class_table == 0 || class_table > file.size()) {
    decoder.Report("class table offset " + std::to_string(class_table) + " lies outside the file",
                   kLostAll, kHeaderClassTable);
    return false;
  }

  const ClassRoots roots = ReadClassTable(decoder, class_table);
  const FolderInfo info = ReadFolderInfo(decoder, roots.folder_info, path);
  folder_name_ = info.name;
  std::vector<std::uint32_t> keys;
  if (info.counts_any && roots.key_lists != 0) keys = ReadKeySet(decoder, roots.key_lists);
  if (roots.headers != 0) ReadMessages(decoder, roots.headers, info, keys, messages_);
  decoder.ReportBudget();

  if (messages_.empty()) {
    Close();
    return false;
  }
  mapping_ = std::move(mapping);
  return true;
}

}  // namespace kv
