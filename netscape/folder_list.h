#pragma once
// The sorted folder list two filters share (Netscape and Outlook Express 5). A filter fills it with
// one FolderRecord per mail folder plus a root record, sorts it once by display path, and from then
// on names folders by their index: the folder selection dialog shows the paths of records 1 to
// count-1, its answer maps back to a record index, and GoNext steps through the chosen subtree with
// FindNextInSubtree.
//
// Strings are in the store's single-byte code page. Indices stay valid until the next Clear: after
// Sort nothing is inserted or removed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// One folder of a foreign store.
struct FolderRecord {
  std::uint32_t id = 0;        // the folder's identifier in the store (0 where the store has none)
  std::uint32_t parentId = 0;  // the parent's identifier (0 where the store has none)
  std::string name;            // the folder's own name
  std::string path;            // display path: root display name, then each folder name, by "/"
  std::string file;            // where the folder's messages are stored
  std::uint32_t extra1 = 0;    // filter-specific values carried with the folder
  std::uint32_t extra2 = 0;

  // Orders by `path` alone, as ComparePaths does.
  bool operator<(const FolderRecord& other) const;
};

// The order of display paths: byte by byte as unsigned values in the single-byte code page,
// case-sensitive, a proper prefix first; text after an embedded NUL does not count, as with the C
// run-time's string comparison. Negative, zero or positive like strcmp.
int ComparePaths(std::string_view a, std::string_view b);

class FolderList {
 public:
  void Clear() { records_.clear(); }
  void Append(FolderRecord record) { records_.push_back(std::move(record)); }
  std::size_t Count() const { return records_.size(); }
  // The record at `index`; `index` must be below Count().
  const FolderRecord& operator[](std::size_t index) const { return records_[index]; }
  // The record at `index`, or null when there is none (negative or past the end).
  const FolderRecord* At(int index) const;

  // Sorts by display path. The root record, whose path is a proper prefix of every other one,
  // ends at index 0; every folder comes after the folders on its own path.
  void Sort();

  // The display paths of records 1 to Count()-1 in index order: what the folder selection dialog
  // shows. Array index k names record k + 1.
  std::vector<std::string> DialogPaths() const;

  // The index after `current` whose path begins with `prefix` (a plain byte prefix, with no "/"
  // boundary, so a sibling "Inbox2" belongs to "Inbox"), or -1 when none follows or `prefix` is
  // empty. A `current` below -1 searches from the start.
  int FindNextInSubtree(std::string_view prefix, int current) const;

 private:
  std::vector<FolderRecord> records_;
};

// The record index for the folder dialog's answer: array index k >= 0 is record k + 1, and -1 (the
// root item) is record 0, the whole store.
int RecordIndexForSelection(int selection);

}  // namespace kv
