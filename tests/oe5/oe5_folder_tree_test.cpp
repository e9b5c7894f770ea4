// "Folders.dbx" into the prepared folder list: display paths from parent links, the local-folders
// subtree, the sort, file paths and counts; damaged folder indexes and looping parent links.

#include "oe5/oe5_folder_tree.h"

#include <gtest/gtest.h>

#include "support/dbx_writer.h"
#include "support/fake_services.h"

namespace kv::testing {
namespace {

constexpr const char* kRoot = "C:\\Store";

DbxFolder Folder(std::uint32_t id, std::optional<std::uint32_t> parent, std::string name,
                 std::optional<std::string> file = std::nullopt,
                 std::optional<std::uint32_t> count = std::nullopt) {
  DbxFolder folder;
  folder.id = id;
  folder.parent_id = parent;
  folder.name = std::move(name);
  folder.file = std::move(file);
  folder.count = count;
  return folder;
}

class Oe5FolderTreeTest : public ::testing::Test, public FakeServices {
 protected:
  std::vector<FolderRecord> Load(const DbxStore& store) {
    files.AddFile(std::string(kRoot) + "\\Folders.dbx", store.FoldersFile());
    return LoadFolders(files, diagnostics, kRoot);
  }
  FolderList Prepared(const DbxStore& store) {
    return PrepareFolders(Load(store), kRoot, diagnostics);
  }
  static std::vector<std::string> Paths(const FolderList& list) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < list.Count(); ++i) paths.push_back(list[i].path);
    return paths;
  }
};

TEST_F(Oe5FolderTreeTest, RecordsCarryTheirFieldsInIndexOrder) {
  DbxStore store;
  store.folders = {Folder(1, std::nullopt, "Local"), Folder(0x1234, 1, "Inbox", "Inbox.dbx", 7)};
  store.folders.push_back(Folder(9, 1, "Unnamed"));
  store.folders.back().name.reset();
  const std::vector<FolderRecord> records = Load(store);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1].id, 0x1234u);
  EXPECT_EQ(records[1].parentId, 1u);
  EXPECT_EQ(records[1].name, "Inbox");
  EXPECT_EQ(records[1].file, "Inbox.dbx");
  EXPECT_EQ(records[1].extra1, 7u);
  EXPECT_EQ(records[0].parentId, 0u);
  EXPECT_EQ(records[0].file, "");
  EXPECT_EQ(records[2].name, kOe5UnnamedFolder);
}

TEST_F(Oe5FolderTreeTest, PathsFollowParentLinksAndOnlyTheLocalSubtreeStays) {
  struct Case {
    const char* what;
    std::vector<DbxFolder> folders;
    std::vector<std::string> paths;  // after the preparation, in list order
  };
  const Case cases[] = {
      {"root with id 0 above the local root: the root is removed, L becomes record 0",
       {Folder(0, std::nullopt, "R"), Folder(1, 0, "L"), Folder(5, 1, "Inbox")},
       {"R/L", "R/L/Inbox"}},
      {"no record with id 1: nothing removed",
       {Folder(2, std::nullopt, "B"), Folder(3, 2, "A")},
       {"B", "B/A"}},
      {"self-parented record repeats its name n + 1 times",
       {Folder(1, std::nullopt, "L"), Folder(4, 4, "S")},
       {"L"}},
      {"orphan and id-0 records have their own name as path",
       {Folder(4, 99, "Orphan"), Folder(0, 4, "Zero"), Folder(1, 77, "")},
       {"", "Orphan", "Zero"}},
      {"a sibling extending the local root's name survives; case sorts by code",
       {Folder(1, std::nullopt, "L"), Folder(2, std::nullopt, "LX"), Folder(3, 1, "alpha"),
        Folder(4, 1, "Zeta"), Folder(5, 1, "A-B"), Folder(6, 5, "x"), Folder(7, 1, "A")},
       {"L", "L/A", "L/A-B", "L/A-B/x", "L/Zeta", "L/alpha", "LX"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DbxStore store;
    store.folders = c.folders;
    EXPECT_EQ(Paths(Prepared(store)), c.paths);
  }

  // Without the local root, the self-parented record's path is its name three times over.
  DbxStore store;
  store.folders = {Folder(2, std::nullopt, "T"), Folder(4, 4, "S")};
  EXPECT_EQ(Paths(Prepared(store)), (std::vector<std::string>{"S/S/S", "T"}));
}

TEST_F(Oe5FolderTreeTest, FilesGetTheStoreRootAndFilelessFoldersNoCount) {
  DbxStore store;
  store.folders = {Folder(1, std::nullopt, "Local", std::nullopt, 4),
                   Folder(2, 1, "In", "in.dbx", 3)};
  const FolderList list = Prepared(store);
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list[0].file, "");
  EXPECT_EQ(list[0].extra1, 0u);
  EXPECT_EQ(list[1].file, "C:\\Store\\in.dbx");
  EXPECT_EQ(list[1].extra1, 3u);
  EXPECT_EQ(list[1].name, "In");
}

TEST_F(Oe5FolderTreeTest, LoopingParentsStopAtAPathLimitAndAreReported) {
  // Two records that are each other's parent, with long names: each path repeats both names as
  // often as the list is long, up to the limit.
  DbxStore store;
  const std::string long_name(3000, 'n');
  for (std::uint32_t id = 2; id < 40; ++id) store.folders.push_back(Folder(id, id + 1, long_name));
  store.folders.push_back(Folder(40, 2, long_name));
  const FolderList list = Prepared(store);
  ASSERT_EQ(list.Count(), 39u);
  EXPECT_LE(list[0].path.size(), kOe5MaxPathBytes);
  EXPECT_GT(list[0].path.size(), kOe5MaxPathBytes - 3001);
  EXPECT_EQ(diagnostics.entries().size(), 39u);
}

TEST_F(Oe5FolderTreeTest, DamagedOrMissingFolderIndexGivesFewerOrNoRecords) {
  DbxStore store;
  for (std::uint32_t id = 1; id <= 5; ++id)
    store.folders.push_back(Folder(id, 1, "F" + std::to_string(id)));
  std::string bytes = store.FoldersFile();
  auto put32 = [](std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  struct Case {
    const char* damage;
    std::string bytes;
    std::size_t records;
    std::vector<std::string> problems;
  };
  std::string count_three = bytes;
  put32(count_three, 0xCC, 3);
  std::string count_zero = bytes;
  put32(count_zero, 0xCC, 0);
  std::string no_root = bytes;
  put32(no_root, 0xEC, 0);
  std::string bad_root = bytes;
  put32(bad_root, 0xEC, 0x30);
  const Case cases[] = {
      {"count below the index",
       count_three,
       3,
       {"folder index lists more folders than the file's count of 3"}},
      {"count 0", count_zero, 0, {}},
      {"no root", no_root, 0, {}},
      {"root not a node", bad_root, 0, {"index node does not hold its own offset"}},
      {"cut before the root word", bytes.substr(0, 0xD0), 0, {}},
      {"cut after the root word", bytes.substr(0, 0x100), 0, {"index node lies outside the file"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.damage);
    diagnostics.Clear();
    files.AddFile(std::string(kRoot) + "\\Folders.dbx", c.bytes);
    EXPECT_EQ(LoadFolders(files, diagnostics, kRoot).size(), c.records);
    std::vector<std::string> problems;
    for (const auto& d : diagnostics.entries()) problems.push_back(d.problem);
    EXPECT_EQ(problems, c.problems);
  }
  files.Delete(std::string(kRoot) + "\\Folders.dbx");
  EXPECT_TRUE(LoadFolders(files, diagnostics, kRoot).empty());
}

}  // namespace
}  // namespace kv::testing
