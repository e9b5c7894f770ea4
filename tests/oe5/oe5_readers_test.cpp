// The readers on files the test writer builds, each damaged one way per case: the DBX index trees
// with their capacity, fields in both forms, body block chains; "Folders.dbx" into the prepared
// folder list.

#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "oe5/dbx_file.h"
#include "oe5/oe5_folder_tree.h"
#include "support/dbx_writer.h"
#include "support/fake_services.h"

namespace kv::testing {
namespace {

using dbx::DescriptorPart;

std::vector<std::uint32_t> Values(std::uint32_t n) {
  std::vector<std::uint32_t> values(n);
  std::iota(values.begin(), values.end(), 1u);
  return values;
}

class DbxReaderTest : public ::testing::Test, public FakeServices {
 protected:
  // The writer's bytes, cut at `size`, as the file of folder "Inbox".
  dbx::DbxFile Open(std::size_t size = std::string::npos) {
    files.AddFile("C:\\Inbox.dbx", writer.bytes().substr(0, size));
    return *dbx::DbxFile::Open(files, "C:\\Inbox.dbx", "Inbox", diagnostics);
  }
  dbx::CollectedOffsets Collect(std::uint32_t root, std::uint64_t capacity = 1000,
                                std::size_t size = std::string::npos) {
    dbx::DbxFile file = Open(size);
    return dbx::CollectOffsets(file, root, capacity, "messages");
  }
  std::optional<std::string> Copy(std::uint32_t first, std::size_t size = std::string::npos) {
    dbx::DbxFile file = Open(size);
    std::string path;
    if (dbx::CopyBodyToTemp(file, first, files, temp, path) != dbx::CopyResult::kCopied) return {};
    return files.Contents(path);
  }
  DbxFileWriter writer{DbxFileWriter::Kind::kMessages};
};

TEST_F(DbxReaderTest, EveryTreeShapeGivesItsValuesInOrderUpToTheCapacity) {
  const struct {
    DbxIndexShape shape;
    std::uint32_t count;
    std::size_t fanout;
  } cases[] = {{DbxIndexShape::kFlat, 300, 3},
               {DbxIndexShape::kLeftChain, 1000, 50},
               {DbxIndexShape::kEntrySubtrees, 500, 2},
               {DbxIndexShape::kEntrySubtrees, 600, 300}};
  for (const auto& c : cases) {
    writer = DbxFileWriter(DbxFileWriter::Kind::kMessages);
    const std::uint32_t root = writer.AddIndex(MakeIndex(Values(c.count), c.shape, c.fanout));
    EXPECT_EQ(Collect(root).offsets, Values(c.count));
    const dbx::CollectedOffsets cut = Collect(root, c.count / 3);
    EXPECT_EQ(cut.offsets, Values(c.count / 3));
    EXPECT_EQ(cut.beyondCapacity, c.count - c.count / 3);
  }
  EXPECT_TRUE(diagnostics.entries().empty());
}

// Entries whose one-entry children hold 100 + the child's node number: only the marker's low byte
// decides whether a child is walked. The count is the header word's upper three bytes.
TEST_F(DbxReaderTest, MarkersLowByteDecidesWhetherAChildIsWalked) {
  DbxIndex index;
  index.nodes.resize(1);
  for (auto [marker, value] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
           {0, 0}, {1, 0}, {0x100, 7}, {0x1FF, 8}, {0, 9}}) {
    const int child = static_cast<int>(index.nodes.size());
    index.nodes.push_back({-1, {{0, 100u + child, -1}}, {}});
    index.nodes[0].entries.push_back({marker, value, child});
  }
  const std::uint32_t root = writer.AddIndex(index);
  writer.Put32(root + 16, 0x00000501);
  EXPECT_EQ(Collect(root).offsets, (std::vector<std::uint32_t>{0, 102, 7, 8, 104, 9}));
  EXPECT_EQ(Problems(), std::vector<std::string>(
                            3, "index entry's child node not walked (its marker's low byte is 0)"));
}

// Root: left child (1, 2), entries 3 (child: 4, 5) and 6 (child: 7, the last node in the file);
// every entry's marker lets its child be walked. A damaged node (one that names the root or its
// own node as a child loops) is left out with its subtree and reported; the values around it stay
// in order.
TEST_F(DbxReaderTest, DamagedNodeIsLeftOutWithItsSubtree) {
  const std::string self = "index node does not hold its own offset";
  const std::string loop = "index node reached a second time (the tree loops)";
  const struct {
    std::string problem;
    std::function<void(DbxIndex&)> damage;
    std::vector<std::uint32_t> values;
    std::size_t cut = 0;  // bytes cut off the end of the file
    std::uint32_t root = 0;
  } cases[] = {
      {self, [](DbxIndex& i) { i.nodes[2].self_override = 9; }, {1, 2, 3, 6, 7}},
      {self, [](DbxIndex& i) { i.nodes[1].self_override = 4; }, {3, 4, 5, 6, 7}},
      {loop, [](DbxIndex& i) { i.nodes[3].entries[0].child = 0; }, Values(7)},
      {loop, [](DbxIndex& i) { i.nodes[2].entries[1].child = 2; }, Values(7)},
      {"index node's 1 entries run past the end of the file", {}, Values(6), 8},
      {"index node lies outside the file", {}, {}, 0, 0xFFFFFFF0},
  };
  for (const auto& c : cases) {
    DbxIndex index{{{1, {{1, 3, 2}, {1, 6, 3}}, {}},
                    {-1, {{1, 1, -1}, {1, 2, -1}}, {}},
                    {-1, {{1, 4, -1}, {1, 5, -1}}, {}},
                    {-1, {{1, 7, -1}}, {}}}};
    if (c.damage) c.damage(index);
    writer = DbxFileWriter(DbxFileWriter::Kind::kMessages);
    const std::uint32_t root = writer.AddIndex(index);
    diagnostics.Clear();
    EXPECT_EQ(Collect(c.root ? c.root : root, 1000, writer.size() - c.cut).offsets, c.values);
    ASSERT_EQ(Problems(), std::vector<std::string>{c.problem});
    const platform::Diagnostic& d = diagnostics.entries()[0];
    EXPECT_EQ(d.file + "|" + d.folder + "|" + d.lost,
              "C:\\Inbox.dbx|Inbox|the messages listed in this node and below it");
  }
}

TEST_F(DbxReaderTest, TreeDeeperThanTheLimitStopsThere) {
  const std::uint32_t root =
      writer.AddIndex(MakeIndex(Values(dbx::kMaxTreeDepth + 10), DbxIndexShape::kLeftChain, 1));
  const std::vector<std::uint32_t> collected = Collect(root).offsets;
  EXPECT_EQ(collected.size(), dbx::kMaxTreeDepth + 1u);
  EXPECT_EQ(collected.back(), dbx::kMaxTreeDepth + 10u);
  EXPECT_EQ(Problems(), std::vector<std::string>{"index tree deeper than 128 levels"});
}

// The indirect form wins when its data lies inside the record's data area; otherwise the direct
// form counts. A field count the body cannot hold leaves an empty data area.
TEST_F(DbxReaderTest, FieldsComeFromEitherFormAndOnlyFromInsideTheBody) {
  DbxField outside = DbxField::Word(0x05, 1);
  outside.offset_override = 40;
  DbxField unterminated = DbxField::String(0x03, "Inbox.dbx");
  unterminated.data.pop_back();
  DbxRecordSpec spec{{DbxField::Direct(0x81, 0x123456), DbxField::Word(0x01, 0x80),
                      DbxField::Direct(0x84, 0xABCDEF), outside, DbxField::Direct(0x85, 7),
                      DbxField::String(0x02, "In"), unterminated},
                     std::nullopt,
                     std::nullopt};
  const std::uint32_t at = writer.AddRecord(spec);
  spec.count_override = 200;
  const std::uint32_t big = writer.AddRecord(spec);
  writer.AddRecord({{DbxField::String(0x02, "next record")}, std::nullopt, std::nullopt});
  dbx::DbxFile file = Open();
  const dbx::DbxRecord record = dbx::ReadRecord(file, at).value();
  EXPECT_EQ(dbx::ReadField(file, record, 0x01, DescriptorPart::kLow16), 0x80u);
  EXPECT_EQ(dbx::ReadField(file, record, 0x04, DescriptorPart::kValue), 0xABCDEFu);
  EXPECT_EQ(dbx::ReadField(file, record, 0x04, DescriptorPart::kLow16), 0xCDEFu);
  EXPECT_EQ(dbx::ReadField(file, record, 0x05, DescriptorPart::kValue), 7u);
  EXPECT_EQ(dbx::ReadField(file, record, 0x11, DescriptorPart::kValue), std::nullopt);
  EXPECT_EQ(dbx::ReadFieldString(file, record, 0x02), "In");
  EXPECT_EQ(dbx::ReadFieldString(file, record, 0x03), std::nullopt);
  EXPECT_EQ(dbx::ReadFieldString(file, record, 0x06), std::nullopt);
  const dbx::DbxRecord all_descriptors = dbx::ReadRecord(file, big).value();
  EXPECT_EQ(all_descriptors.descriptors.size(), all_descriptors.bodyLength / 4);
  EXPECT_EQ(dbx::ReadField(file, all_descriptors, 0x01, DescriptorPart::kLow16), 0x3456u);
  EXPECT_EQ(dbx::ReadFieldString(file, all_descriptors, 0x02), std::nullopt);
  file = Open(at + 49);  // inside "In"
  EXPECT_EQ(dbx::ReadFieldString(file, dbx::ReadRecord(file, at).value(), 0x02), std::nullopt);
  file = Open(big + 8);
  EXPECT_FALSE(dbx::ReadRecord(file, big));
}

TEST_F(DbxReaderTest, ChainIsCopiedByteForByteAndALongBlockOrTheFileEndsIt) {
  const std::string text = DbxTestMessage(1) + std::string(3000, 'x') + "\r\n\0\x80\xFF" + "end";
  EXPECT_EQ(Copy(writer.AddText(text)), text);
  EXPECT_EQ(Copy(writer.AddText(text, 1)), text);
  const std::uint32_t too_long = writer.AddBlock(513, std::string(513, 'b'), writer.AddText("z"));
  const std::string full(512, 'a');
  EXPECT_EQ(Copy(writer.AddBlock(2, "hi", writer.AddBlock(512, full, too_long))), "hi" + full);
  EXPECT_EQ(Copy(writer.AddBlock(4, "head", 0x7FFFFFF0)), "head");
  const std::uint32_t head = writer.AddBlock(4, "head");
  writer.Put32(head + 12, writer.AddBlock(4, "tail"));
  EXPECT_EQ(Copy(head, writer.bytes().rfind("tail") + 2), "head");
  EXPECT_EQ(Problems(), (std::vector<std::string>{"message text block of 513 bytes, more than 512",
                                                  "message text block lies outside the file",
                                                  "message text block lies outside the file"}));
  EXPECT_EQ(diagnostics.entries()[0].offset, too_long);
}

TEST_F(DbxReaderTest, ChainJumpingBackAndForthOverManyWindowsIsCopiedWhole) {
  // Full blocks placed 0, 299, 1, 298, ...: every step crosses the file, in both directions.
  constexpr int kBlocks = 300;
  std::vector<std::uint32_t> at(kBlocks);
  for (int i = 0; i < kBlocks; ++i) {
    const int block = i % 2 == 0 ? i / 2 : kBlocks - 1 - i / 2;
    at[block] = writer.AddBlock(512, std::string(512, static_cast<char>('A' + block % 50)));
  }
  std::string expected;
  for (int block = 0; block < kBlocks; ++block) {
    if (block + 1 < kBlocks) writer.Put32(at[block] + 12, at[block + 1]);
    expected += std::string(512, static_cast<char>('A' + block % 50));
  }
  EXPECT_EQ(Copy(at[0]), expected);
  EXPECT_EQ(Problems(), std::vector<std::string>{});
}

TEST_F(DbxReaderTest, ChainThatComesBackStopsBeforeTheFirstRepeatedBlock) {
  for (auto [before, loop] :
       std::vector<std::pair<int, int>>{{0, 1}, {0, 2}, {1, 1}, {1, 3}, {5, 2}, {5, 40}, {2, 7}}) {
    diagnostics.Clear();
    std::vector<std::uint32_t> blocks;
    std::string expected;
    for (int i = 0; i < before + loop; ++i) {
      const std::string data = "<" + std::to_string(i) + ">";
      blocks.push_back(writer.AddBlock(static_cast<std::uint32_t>(data.size()), data));
      if (i > 0) writer.Put32(blocks[i - 1] + 12, blocks[i]);
      expected += data;
    }
    writer.Put32(blocks.back() + 12, blocks[before]);
    EXPECT_EQ(Copy(blocks[0]), expected) << before << " then a loop of " << loop;
    EXPECT_EQ(Problems(),
              std::vector<std::string>{"message text blocks come back to an earlier block"});
    EXPECT_EQ(diagnostics.entries()[0].offset, blocks[before]);
  }
}

using Folder = DbxFolder;

class Oe5FolderTreeTest : public ::testing::Test, public FakeServices {
 protected:
  FolderList Prepared(std::vector<DbxFolder> folders) {
    DbxStore store;
    store.folders = std::move(folders);
    for (DbxFolder& folder : store.folders) {
      if (folder.name == "?") folder.name.reset();  // no name field
    }
    files.AddFile("C:\\Store\\Folders.dbx", store.FoldersFile());
    return PrepareFolders(LoadFolders(files, diagnostics, "C:\\Store"), "C:\\Store", diagnostics);
  }
};

TEST_F(Oe5FolderTreeTest, PathsFollowParentLinksAndOnlyTheLocalSubtreeStays) {
  const struct {
    const char* what;
    std::vector<DbxFolder> folders;
    std::vector<std::string> paths;
    std::vector<std::string> lost = {};  // what the reports say is lost
  } cases[] = {
      {"a root above the local root leaves the list but stays in the paths",
       {Folder{0, {}, "R"}, Folder{1, 0, "L"}, Folder{5, 1, "Inbox"}},
       {"R/L", "R/L/Inbox"}},
      {"without a local root nothing is removed (what the first path leaves out is reported); a "
       "self-parented record repeats its name",
       {Folder{2, {}, "T"}, Folder{4, 4, "S"}},
       {"S/S/S", "T"},
       {"1 folder outside them and their messages"}},
      {"orphans and id 0 have their own name; a record without a name is \"Unknown\"",
       {Folder{4, 99, "Orphan"}, Folder{0, 4, "Zero"}, Folder{1, 77, ""}, Folder{7, 1, "?"}},
       {"", "/Unknown", "Orphan", "Zero"}},
      {"a sibling extending the local root's name stays; the sort is by byte",
       {Folder{1, {}, "L"}, Folder{2, {}, "LX"}, Folder{3, 1, "alpha"}, Folder{4, 1, "Zeta"},
        Folder{5, 1, "A-B"}, Folder{6, 5, "x"}, Folder{7, 1, "A"}, Folder{8, 8, "S"}},
       {"L", "L/A", "L/A-B", "L/A-B/x", "L/Zeta", "L/alpha", "LX"}},
  };
  for (const auto& c : cases) {
    diagnostics.Clear();
    const FolderList list = Prepared(c.folders);
    std::vector<std::string> paths, lost;
    for (std::size_t i = 0; i < list.Count(); ++i) paths.push_back(list[i].path);
    for (const platform::Diagnostic& d : diagnostics.entries()) lost.push_back(d.lost);
    EXPECT_EQ(paths, c.paths) << c.what;
    EXPECT_EQ(lost, c.lost) << c.what;
  }
}

TEST_F(Oe5FolderTreeTest, LoopingParentsStopAtThePathLimitAndAreReported) {
  std::vector<DbxFolder> folders;
  for (std::uint32_t id = 2; id <= 40; ++id) {
    folders.push_back(Folder{id, id < 40 ? id + 1 : 2, std::string(3000, 'n')});
  }
  const FolderList list = Prepared(folders);
  ASSERT_EQ(list.Count(), 39u);
  EXPECT_LE(list[0].path.size(), kOe5MaxPathBytes);
  EXPECT_GT(list[0].path.size(), kOe5MaxPathBytes - 3001);
  EXPECT_EQ(diagnostics.entries().size(), 39u);
}

TEST_F(Oe5FolderTreeTest, DamagedOrMissingFolderIndexGivesFewerOrNoRecords) {
  DbxStore store;
  for (std::uint32_t id = 1; id <= 5; ++id) store.folders.push_back(Folder{id, 1, "F"});
  const std::string bytes = store.FoldersFile();
  auto with = [&bytes](std::size_t at, std::uint32_t value) {
    std::string changed = bytes;
    for (int i = 0; i < 4; ++i) changed[at + i] = static_cast<char>(value >> (8 * i));
    return changed;
  };
  const struct {
    std::string bytes;
    std::size_t records;
    std::vector<std::string> problems;
  } cases[] = {
      {with(0xCC, 3), 3, {"folder index lists more folders than the file's count of 3"}},
      {with(0xCC, 0), 0, {}},
      {with(0xEC, 0), 0, {}},
      {with(0xEC, 0x30), 0, {"index node does not hold its own offset"}},
      {bytes.substr(0, 0xD0), 0, {}},
      {bytes.substr(0, 0x100), 0, {"index node lies outside the file"}},
      {"", 0, {}},  // no file
  };
  for (const auto& c : cases) {
    diagnostics.Clear();
    files.AddFile("C:\\Store\\Folders.dbx", c.bytes);
    if (c.bytes.empty()) files.Delete("C:\\Store\\Folders.dbx");
    EXPECT_EQ(LoadFolders(files, diagnostics, "C:\\Store").size(), c.records) << c.bytes.size();
    EXPECT_EQ(Problems(), c.problems) << c.bytes.size();
  }
}

}  // namespace
}  // namespace kv::testing
