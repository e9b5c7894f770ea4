// The shared folder list: the order of display paths and the subtree search that GoNext walks
// with (tests/golden/netscape/folder-list.txt). The dialog's index mapping is checked by the
// filters' walks from a chosen folder.

#include "netscape/folder_list.h"

#include <gtest/gtest.h>

#include "support/golden.h"

namespace kv::testing {
namespace {

FolderList SortedList(const std::vector<std::string>& paths) {
  FolderList list;
  for (const std::string& path : paths) list.Append(FolderRecord{0, 0, "", path, "", 0, 0});
  list.Sort();
  return list;
}

// Paths sort by unsigned bytes up to a NUL: the root first, then siblings that continue a name,
// then children. A subtree is every later path that begins with the start's bytes: a plain
// prefix, so that A-B and A.old belong to A.
TEST(FolderList, SortsByUnsignedBytesAndSubtreesAreLaterPathsWithTheStartsPrefix) {
  std::string text = "== sorted\n";
  for (const std::vector<std::string>& found :
       std::vector<std::vector<std::string>>{{"R/A/X", "R/A-B", "R", "R/A", "R/A.old"},
                                             {"R/alpha", "R/\xE9t\xE9", "R/Zeta", "R"},
                                             {"R/In box", "R/In/x", "R/In", "R"},
                                             {"R/B", "R/A", "R", "R/A"}}) {
    const FolderList list = SortedList(found);
    for (std::size_t i = 0; i < list.Count(); ++i) text += Escaped(list[i].path) + " ";
    text += "\n";
  }
  EXPECT_EQ(ComparePaths(std::string("R/A\0z", 5), "R/A"), 0);

  text += "== subtrees\n";
  const FolderList list = SortedList(
      {"R", "R/A", "R/A-B", "R/A.old", "R/A/X", "R/Inbox", "R/Inbox2", "R/Inbox/Old", "R/Z"});
  for (const int start : {0, 1, 5, 4, 8}) {
    const std::string prefix = list[static_cast<std::size_t>(start)].path;
    text += prefix + ":";
    for (int i = list.FindNextInSubtree(prefix, start), n = 0; i >= 0 && n < 20;
         i = list.FindNextInSubtree(prefix, i), ++n) {
      text += " " + list[static_cast<std::size_t>(i)].path;
    }
    text += "\n";
  }
  ExpectGolden(text, "netscape/folder-list.txt");
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
}  // namespace kv::testing
