// The shared folder list: the order of display paths and the subtree search that GoNext walks
// with. The dialog's index mapping is checked by the filters' walks from a chosen folder.

#include "netscape/folder_list.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

FolderList SortedList(const std::vector<std::string>& paths) {
  FolderList list;
  for (const std::string& path : paths) list.Append(FolderRecord{0, 0, "", path, "", 0, 0});
  list.Sort();
  return list;
}

std::vector<std::string> Paths(const FolderList& list) {
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < list.Count(); ++i) paths.push_back(list[i].path);
  return paths;
}

TEST(FolderList, SortsDisplayPathsByUnsignedBytesUpToANul) {
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      // Root first, then siblings that continue a name, then children.
      {{"R/A/X", "R/A-B", "R", "R/A", "R/A.old"}, {"R", "R/A", "R/A-B", "R/A.old", "R/A/X"}},
      {{"R/alpha", "R/\xE9t\xE9", "R/Zeta", "R"}, {"R", "R/Zeta", "R/alpha", "R/\xE9t\xE9"}},
      {{"R/In box", "R/In/x", "R/In", "R"}, {"R", "R/In", "R/In box", "R/In/x"}},
      {{"R/B", "R/A", "R", "R/A"}, {"R", "R/A", "R/A", "R/B"}},
  };
  for (const auto& [found, sorted] : cases) EXPECT_EQ(Paths(SortedList(found)), sorted);
  EXPECT_EQ(ComparePaths(std::string("R/A\0z", 5), "R/A"), 0);
}

TEST(FolderList, SubtreeIsEveryLaterPathWithTheStartsBytePrefix) {
  const FolderList list = SortedList(
      {"R", "R/A", "R/A-B", "R/A.old", "R/A/X", "R/Inbox", "R/Inbox2", "R/Inbox/Old", "R/Z"});
  const std::pair<int, std::vector<std::string>> cases[] = {
      {0, {"R/A", "R/A-B", "R/A.old", "R/A/X", "R/Inbox", "R/Inbox/Old", "R/Inbox2", "R/Z"}},
      {1, {"R/A-B", "R/A.old", "R/A/X"}},  // a plain prefix: A-B and A.old belong to A
      {5, {"R/Inbox/Old", "R/Inbox2"}},
      {4, {}},
      {8, {}},
  };
  for (const auto& [start, visited] : cases) {
    const std::string prefix = list[static_cast<std::size_t>(start)].path;
    std::vector<std::string> found;
    for (int i = list.FindNextInSubtree(prefix, start); i >= 0 && found.size() < 20;
         i = list.FindNextInSubtree(prefix, i)) {
      found.push_back(list[static_cast<std::size_t>(i)].path);
    }
    EXPECT_EQ(found, visited) << prefix;
  }
  // Searching from before the start finds the root itself; an empty prefix or a search past the
  // end finds nothing.
  EXPECT_EQ(list.FindNextInSubtree("R", -5), 0);
  EXPECT_EQ(list.FindNextInSubtree("", 0), -1);
  EXPECT_EQ(list.FindNextInSubtree(std::string("\0R", 2), 0), -1);
  EXPECT_EQ(list.FindNextInSubtree("R", 2147483647), -1);
  EXPECT_EQ(list.At(9), nullptr);
  EXPECT_EQ(list.At(-1), nullptr);
}

}  // namespace
}  // namespace kv
