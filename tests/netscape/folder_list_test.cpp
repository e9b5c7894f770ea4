// The shared folder list: the order of display paths, the dialog's index mapping and the subtree
// search that GoNext walks with.

#include "netscape/folder_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {
namespace {

FolderList ListOf(const std::vector<std::string>& paths) {
  FolderList list;
  for (const std::string& path : paths) list.Append(FolderRecord{0, 0, "", path, "", 0, 0});
  return list;
}

std::vector<std::string> Paths(const FolderList& list) {
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < list.Count(); ++i) paths.push_back(list[i].path);
  return paths;
}

TEST(FolderListOrder, SortsDisplayPathsByUnsignedBytes) {
  struct Case {
    const char* what;
    std::vector<std::string> found;   // in the order a walk appends them
    std::vector<std::string> sorted;  // after Sort
  };
  const Case cases[] = {
      {"root first, then siblings that continue a name, then children",
       {"R/A/X", "R/A-B", "R", "R/A", "R/A.old"},
       {"R", "R/A", "R/A-B", "R/A.old", "R/A/X"}},
      {"capitals before small letters", {"R/alpha", "R/Zeta", "R"}, {"R", "R/Zeta", "R/alpha"}},
      {"code page letters above ASCII",
       {"R/\xE9t\xE9", "R/z", "R/Z", "R"},
       {"R", "R/Z", "R/z", "R/\xE9t\xE9"}},
      {"a space sorts before the separator",
       {"R/In box", "R/In/x", "R/In", "R"},
       {"R", "R/In", "R/In box", "R/In/x"}},
      {"equal paths stay together", {"R/B", "R/A", "R", "R/A"}, {"R", "R/A", "R/A", "R/B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FolderList list = ListOf(c.found);
    list.Sort();
    EXPECT_EQ(Paths(list), c.sorted);
  }
}

TEST(FolderListOrder, OnlyThePathUpToItsNulCounts) {
  EXPECT_EQ(ComparePaths(std::string("R/A\0z", 5), "R/A"), 0);
  EXPECT_TRUE(
      (FolderRecord{7, 8, "z", "R/A", "f", 9, 9} < FolderRecord{0, 0, "a", "R/B", "", 0, 0}));
}

TEST(FolderListDialog, ArrayIndexKNamesRecordKPlusOne) {
  FolderList list = ListOf({"R/B", "R", "R/A"});
  list.Sort();
  const std::vector<std::string> dialog = list.DialogPaths();
  ASSERT_EQ(dialog, (std::vector<std::string>{"R/A", "R/B"}));
  for (int k = 0; k < static_cast<int>(dialog.size()); ++k) {
    ASSERT_NE(list.At(RecordIndexForSelection(k)), nullptr);
    EXPECT_EQ(list.At(RecordIndexForSelection(k))->path, dialog[static_cast<std::size_t>(k)]);
  }
  EXPECT_EQ(RecordIndexForSelection(-1), 0);
  EXPECT_EQ(list.At(3), nullptr);
  EXPECT_EQ(list.At(-1), nullptr);

  FolderList root_only = ListOf({"R"});
  EXPECT_TRUE(root_only.DialogPaths().empty());
  EXPECT_TRUE(FolderList().DialogPaths().empty());
}

// Every record GoNext would visit from a start record: FindNextInSubtree from index `start`.
std::vector<std::string> Subtree(const FolderList& list, int start) {
  std::vector<std::string> visited;
  const std::string prefix = list.At(start)->path;
  for (int i = list.FindNextInSubtree(prefix, start); i >= 0 && visited.size() <= list.Count();
       i = list.FindNextInSubtree(prefix, i)) {
    visited.push_back(list.At(i)->path);
  }
  return visited;
}

TEST(FolderListSubtree, StepsThroughEveryPathWithTheStartsPrefix) {
  FolderList list = ListOf(
      {"R", "R/A", "R/A-B", "R/A.old", "R/A/X", "R/Inbox", "R/Inbox2", "R/Inbox/Old", "R/Z"});
  list.Sort();
  struct Case {
    std::string start;
    std::vector<std::string> visited;
  };
  const Case cases[] = {
      {"R", {"R/A", "R/A-B", "R/A.old", "R/A/X", "R/Inbox", "R/Inbox/Old", "R/Inbox2", "R/Z"}},
      {"R/A", {"R/A-B", "R/A.old", "R/A/X"}},  // the plain prefix takes in A-B and A.old
      {"R/Inbox", {"R/Inbox/Old", "R/Inbox2"}},
      {"R/A/X", {}},
      {"R/Z", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    int start = -1;
    for (std::size_t i = 0; i < list.Count(); ++i) {
      if (list[i].path == c.start) start = static_cast<int>(i);
    }
    ASSERT_GE(start, 0);
    EXPECT_EQ(Subtree(list, start), c.visited);
  }
}

TEST(FolderListSubtree, EmptyPrefixOrEndOfListFindsNothing) {
  FolderList list = ListOf({"R", "R/A"});
  EXPECT_EQ(list.FindNextInSubtree("", 0), -1);
  EXPECT_EQ(list.FindNextInSubtree(std::string("\0R", 2), 0), -1);
  EXPECT_EQ(list.FindNextInSubtree("R", 1), -1);
  EXPECT_EQ(list.FindNextInSubtree("R", 2147483647), -1);
  EXPECT_EQ(list.FindNextInSubtree("R/A/longer", 0), -1);
  // Searching from before the start finds the root itself.
  EXPECT_EQ(list.FindNextInSubtree("R", -1), 0);
  EXPECT_EQ(list.FindNextInSubtree("R", -5), 0);
  EXPECT_EQ(FolderList().FindNextInSubtree("R", 0), -1);

  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.At(0), nullptr);
}

}  // namespace
}  // namespace kv
