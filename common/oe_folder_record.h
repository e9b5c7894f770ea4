#pragma once
// One folder of the Outlook Express 4 folder table.

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

struct OeFolderRecord {
  std::uint32_t id = 0;           // the folder's number in folders.nch; 1, 2, 3... without it
  std::uint32_t parentId = 0;     // the parent folder's number; 0 without folders.nch
  std::int32_t parentIndex = -1;  // table index of the parent record, -1 for a top-level folder
  std::string displayPath;        // names from the top-level folder down, joined by "/"
  std::string name;               // the folder's own name
  std::string mailboxName;        // base name of the folder's .mbx/.idx pair
};

using OeFolderTable = std::vector<OeFolderRecord>;
// For each record, the table indices of its children, in table order.
using OeChildLists = std::vector<std::vector<int>>;

}  // namespace kv
