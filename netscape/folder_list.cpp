#include "netscape/folder_list.h"

#include <algorithm>

namespace kv {
namespace {

// The text up to its first NUL: the C strings the stores hold end there.
std::string_view UpToNul(std::string_view text) {
  return text.substr(0, std::min(text.find('\0'), text.size()));
}

}  // namespace

int ComparePaths(std::string_view a, std::string_view b) {
  a = UpToNul(a);
  b = UpToNul(b);
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto left = static_cast<unsigned char>(a[i]);
    const auto right = static_cast<unsigned char>(b[i]);
    if (left != right) return left < right ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool FolderRecord::operator<(const FolderRecord& other) const {
  return ComparePaths(path, other.path) < 0;
}

const FolderRecord* FolderList::At(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= records_.size()) return nullptr;
  return &records_[static_cast<std::size_t>(index)];
}

void FolderList::Sort() {
  // Stable, so that records with equal paths keep the order they were found in from run to run.
  std::stable_sort(records_.begin(), records_.end());
}

std::vector<std::string> FolderList::DialogPaths() const {
  std::vector<std::string> paths;
  for (std::size_t i = 1; i < records_.size(); ++i) paths.push_back(records_[i].path);
  return paths;
}

int FolderList::FindNextInSubtree(std::string_view prefix, int current) const {
  // strncmp over the prefix's length: a path shorter than the prefix does not match.
  prefix = UpToNul(prefix);
  if (prefix.empty()) return -1;
  const std::int64_t first = std::max<std::int64_t>(std::int64_t{current} + 1, 0);
  for (std::size_t j = static_cast<std::size_t>(first); j < records_.size(); ++j) {
    if (UpToNul(records_[j].path).starts_with(prefix)) return static_cast<int>(j);
  }
  return -1;
}

int RecordIndexForSelection(int selection) { return selection >= 0 ? selection + 1 : 0; }

}  // namespace kv
