// The DBX reader against files the test writer builds: index trees of every shape, damaged nodes,
// fields in both forms, and body block chains, each damaged one way per case.

#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "oe5/dbx_file.h"
#include "platform/fake/fault_file_system.h"
#include "support/dbx_writer.h"
#include "support/fake_services.h"

namespace kv::testing {
namespace {

using dbx::DescriptorPart;

constexpr const char* kPath = "C:\\Store\\Inbox.dbx";

class DbxReaderTest : public ::testing::Test, public FakeServices {
 protected:
  dbx::DbxFile Open(const std::string& bytes) {
    files.AddFile(kPath, bytes);
    return *dbx::DbxFile::Open(files, kPath, "Local Folders/Inbox", diagnostics);
  }
  dbx::DbxFile Open(const DbxFileWriter& writer) { return Open(writer.bytes()); }

  // Values 1..n, which the tree only carries, never reads.
  static std::vector<std::uint32_t> Values(std::uint32_t n) {
    std::vector<std::uint32_t> values(n);
    std::iota(values.begin(), values.end(), 1u);
    return values;
  }

  std::vector<std::string> Problems() const {
    std::vector<std::string> problems;
    for (const platform::Diagnostic& d : diagnostics.entries()) problems.push_back(d.problem);
    return problems;
  }

  DbxFileWriter writer{DbxFileWriter::Kind::kMessages};
};

TEST_F(DbxReaderTest, EveryTreeShapeGivesItsValuesInOrder) {
  const struct {
    DbxIndexShape shape;
    std::uint32_t count;
    std::size_t fanout;
  } cases[] = {
      {DbxIndexShape::kFlat, 1, 3},
      {DbxIndexShape::kFlat, 300, 3},
      {DbxIndexShape::kLeftChain, 10, 3},
      {DbxIndexShape::kLeftChain, 1000, 50},
      {DbxIndexShape::kEntrySubtrees, 4, 3},
      {DbxIndexShape::kEntrySubtrees, 40, 3},
      {DbxIndexShape::kEntrySubtrees, 500, 2},
      {DbxIndexShape::kEntrySubtrees, 600, 300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.shape) << " " << c.count);
    DbxFileWriter file(DbxFileWriter::Kind::kMessages);
    const std::uint32_t root = file.AddIndex(MakeIndex(Values(c.count), c.shape, c.fanout));
    dbx::DbxFile dbx = Open(file);
    const dbx::CollectedOffsets all = dbx::CollectOffsets(dbx, root, c.count, "messages");
    EXPECT_EQ(all.offsets, Values(c.count));
    EXPECT_EQ(all.beyondCapacity, 0u);
    // A smaller capacity keeps the first offsets and counts the rest.
    const dbx::CollectedOffsets cut = dbx::CollectOffsets(dbx, root, c.count / 2, "messages");
    EXPECT_EQ(cut.offsets,
              std::vector<std::uint32_t>(all.offsets.begin(), all.offsets.begin() + c.count / 2));
    EXPECT_EQ(cut.beyondCapacity, c.count - c.count / 2);
  }
  EXPECT_TRUE(diagnostics.entries().empty());
}

TEST_F(DbxReaderTest, NoRootOrNoCapacityGivesNothing) {
  const std::uint32_t root = writer.AddIndex(MakeIndex(Values(3), DbxIndexShape::kFlat));
  dbx::DbxFile dbx = Open(writer);
  EXPECT_TRUE(dbx::CollectOffsets(dbx, 0, 10, "messages").offsets.empty());
  EXPECT_TRUE(dbx::CollectOffsets(dbx, root, 0, "messages").offsets.empty());
}

// Marker and value combinations of one node's entries, each with a one-entry child node holding
// 100 + its position.
TEST_F(DbxReaderTest, OnlyTheMarkersLowByteDecidesWhetherAChildIsWalked) {
  DbxIndex index;
  index.nodes.push_back({});
  const std::pair<std::uint32_t, std::uint32_t> entries[] = {
      {0, 0},      // marker 0, value 0: the value 0 is listed, the child is not walked
      {1, 0},      // marker set, value 0: nothing listed, the child is walked
      {0x100, 7},  // low byte 0: like marker 0
      {0x1FF, 8},  // low byte set: value, then child
      {0, 9},
  };
  for (const auto& [marker, value] : entries) {
    const int child = static_cast<int>(index.nodes.size());
    index.nodes.push_back({-1, {{0, 100u + child, -1}}, std::nullopt});
    index.nodes[0].entries.push_back({marker, value, child});
  }
  const std::uint32_t root = writer.AddIndex(index);
  dbx::DbxFile dbx = Open(writer);
  EXPECT_EQ(dbx::CollectOffsets(dbx, root, 100, "messages").offsets,
            (std::vector<std::uint32_t>{0, 102, 7, 8, 104, 9}));
  // The three children not walked are said to be left out.
  EXPECT_EQ(Problems(), std::vector<std::string>(
                            3, "index entry's child node not walked (its marker's low byte is 0)"));
}

TEST_F(DbxReaderTest, NodeCountIsTheHeaderWordShiftedRightByEight) {
  DbxIndex index;
  index.nodes.push_back({-1, {{0, 1, -1}, {0, 2, -1}, {0, 3, -1}}, std::nullopt});
  const std::uint32_t root = writer.AddIndex(index);
  writer.Put32(root + 16, 0x00000301);  // 3 entries; the low byte is not part of the count
  dbx::DbxFile dbx = Open(writer);
  EXPECT_EQ(dbx::CollectOffsets(dbx, root, 10, "messages").offsets,
            (std::vector<std::uint32_t>{1, 2, 3}));
}

// Each damage to one node of a two-level tree leaves out that node's subtree only, says so, and
// keeps the values around it in order.
TEST_F(DbxReaderTest, DamagedNodeIsLeftOutWithItsSubtree) {
  // Root: left child L (values 1, 2), entries 3 (child A: 4, 5) and 6 (child B: 7).
  auto tree = [] {
    DbxIndex index;
    index.nodes = {
        {1, {{1, 3, 2}, {1, 6, 3}}, std::nullopt},
        {-1, {{0, 1, -1}, {0, 2, -1}}, std::nullopt},
        {-1, {{0, 4, -1}, {0, 5, -1}}, std::nullopt},
        {-1, {{0, 7, -1}}, std::nullopt},
    };
    return index;
  };
  struct Case {
    const char* damage;
    std::function<void(DbxIndex&)> change;
    std::vector<std::uint32_t> values;
    const char* problem;
  };
  const Case cases[] = {
      {"child names another offset",
       [](DbxIndex& i) { i.nodes[2].self_override = 0x1234; },
       {1, 2, 3, 6, 7},
       "index node does not hold its own offset"},
      {"left child names another offset",
       [](DbxIndex& i) { i.nodes[1].self_override = 4; },
       {3, 4, 5, 6, 7},
       "index node does not hold its own offset"},
      {"child points back to the root",
       [](DbxIndex& i) {
         i.nodes[3].entries[0] = {1, 7, 0};
       },
       {1, 2, 3, 4, 5, 6, 7},
       "index node reached a second time (the tree loops)"},
      {"node is its own child",
       [](DbxIndex& i) {
         i.nodes[2].entries[1] = {1, 5, 2};
       },
       {1, 2, 3, 4, 5, 6, 7},
       "index node reached a second time (the tree loops)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.damage);
    diagnostics.Clear();
    DbxIndex index = tree();
    c.change(index);
    DbxFileWriter file(DbxFileWriter::Kind::kMessages);
    const std::uint32_t root = file.AddIndex(index);
    dbx::DbxFile dbx = Open(file);
    EXPECT_EQ(dbx::CollectOffsets(dbx, root, 100, "messages").offsets, c.values);
    ASSERT_EQ(diagnostics.entries().size(), 1u);
    EXPECT_EQ(diagnostics.entries()[0].problem, c.problem);
    EXPECT_EQ(diagnostics.entries()[0].file, kPath);
    EXPECT_EQ(diagnostics.entries()[0].folder, "Local Folders/Inbox");
    EXPECT_EQ(diagnostics.entries()[0].lost, "the messages listed in this node and below it");
  }
}

TEST_F(DbxReaderTest, NodesOutsideTheFileOrTooDeepAreLeftOut) {
  const std::uint32_t root = writer.AddIndex(MakeIndex(Values(5), DbxIndexShape::kFlat));
  std::string bytes = writer.bytes();
  dbx::DbxFile dbx = Open(bytes);
  EXPECT_TRUE(dbx::CollectOffsets(dbx, 0xFFFFFFF0u, 10, "messages").offsets.empty());
  // Entries cut off by the end of the file.
  dbx = Open(bytes.substr(0, root + 20 + 12 * 4));
  EXPECT_TRUE(dbx::CollectOffsets(dbx, root, 10, "messages").offsets.empty());
  EXPECT_EQ(Problems(),
            (std::vector<std::string>{"index node lies outside the file",
                                      "index node's 5 entries run past the end of the file"}));

  // A chain of left children deeper than any real tree stops at the limit.
  diagnostics.Clear();
  DbxFileWriter deep(DbxFileWriter::Kind::kMessages);
  const std::uint32_t deep_root =
      deep.AddIndex(MakeIndex(Values(dbx::kMaxTreeDepth + 10), DbxIndexShape::kLeftChain, 1));
  dbx = Open(deep);
  const dbx::CollectedOffsets collected = dbx::CollectOffsets(dbx, deep_root, 1000, "messages");
  EXPECT_EQ(collected.offsets.size(), dbx::kMaxTreeDepth + 1u);
  EXPECT_EQ(collected.offsets.back(), dbx::kMaxTreeDepth + 10u);
  EXPECT_EQ(Problems(), std::vector<std::string>{"index tree deeper than 128 levels"});
}

TEST_F(DbxReaderTest, DescriptorPartsSelectFromOneWord) {
  const std::uint32_t word = 0xA1B2C3D4;
  EXPECT_EQ(dbx::SelectPart(word, DescriptorPart::kIdByte), 0xD4u);
  EXPECT_EQ(dbx::SelectPart(word, DescriptorPart::kLow16), 0xB2C3u);
  EXPECT_EQ(dbx::SelectPart(word, DescriptorPart::kWord), word);
  EXPECT_EQ(dbx::SelectPart(word, DescriptorPart::kValue), 0xA1B2C3u);
  EXPECT_EQ(dbx::SelectPart(word, static_cast<DescriptorPart>(4)), 0u);

  const std::uint32_t descriptors[] = {0x00000580, 0x00000781, 0x00000980};
  EXPECT_EQ(dbx::FindField(descriptors, 0x80, DescriptorPart::kLow16), 5u);  // the first wins
  EXPECT_EQ(dbx::FindField(descriptors, 0x81, DescriptorPart::kLow16), 7u);
  EXPECT_EQ(dbx::FindField(descriptors, 0x01, DescriptorPart::kLow16), std::nullopt);
}

TEST_F(DbxReaderTest, FieldsComeFromEitherFormAndTheIndirectOneWins) {
  DbxRecordSpec record;
  record.fields = {
      DbxField::Direct(0x81, 0x0123456),  // flags, direct
      DbxField::Word(0x01, 0x80),         // flags, indirect: wins
      DbxField::Direct(0x84, 0xABCDEF),   // body offset, direct only
      DbxField::String(0x02, "Inbox"),   DbxField::String(0x03, "Inbox.dbx"),
  };
  const std::uint32_t at = writer.AddRecord(record);
  dbx::DbxFile dbx = Open(writer);
  const std::optional<dbx::DbxRecord> read = dbx::ReadRecord(dbx, at);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->descriptors.size(), 5u);
  EXPECT_EQ(dbx::ReadField(dbx, *read, 0x01, DescriptorPart::kLow16), 0x80u);
  EXPECT_EQ(dbx::ReadField(dbx, *read, 0x04, DescriptorPart::kValue), 0xABCDEFu);
  EXPECT_EQ(dbx::ReadField(dbx, *read, 0x04, DescriptorPart::kLow16), 0xCDEFu);
  EXPECT_EQ(dbx::ReadField(dbx, *read, 0x11, DescriptorPart::kValue), std::nullopt);
  EXPECT_EQ(dbx::ReadFieldString(dbx, *read, 0x02), "Inbox");
  EXPECT_EQ(dbx::ReadFieldString(dbx, *read, 0x03), "Inbox.dbx");
  EXPECT_EQ(dbx::ReadFieldString(dbx, *read, 0x05), std::nullopt);
}

// Field data that reaches outside the record's body is absent; a direct form then still counts.
TEST_F(DbxReaderTest, FieldDataOutsideTheBodyIsAbsent) {
  DbxField flags = DbxField::Word(0x01, 0x80);
  flags.offset_override = 40;
  DbxField name = DbxField::String(0x02, "Inbox");
  DbxField unterminated = DbxField::String(0x03, "Inbox.dbx");
  unterminated.data.pop_back();
  unterminated.data += ".....";  // the body ends (with no padding) before any NUL
  DbxRecordSpec record;
  record.fields = {flags, DbxField::Direct(0x81, 0x08), name, unterminated};
  const std::uint32_t at = writer.AddRecord(record);
  writer.AddRecord({{DbxField::String(0x02, "next record")}, std::nullopt, std::nullopt});
  dbx::DbxFile dbx = Open(writer);
  std::optional<dbx::DbxRecord> read = dbx::ReadRecord(dbx, at);
  ASSERT_TRUE(read);
  EXPECT_EQ(dbx::ReadField(dbx, *read, 0x01, DescriptorPart::kLow16), 0x08u);
  EXPECT_EQ(dbx::ReadFieldString(dbx, *read, 0x02), "Inbox");
  EXPECT_EQ(dbx::ReadFieldString(dbx, *read, 0x03), std::nullopt);

  // A field count larger than the body holds: the body's 40 bytes are all descriptors, and the
  // data area (after K descriptors) is empty.
  record.count_override = 200;
  const std::uint32_t big = writer.AddRecord(record);
  dbx = Open(writer);
  read = dbx::ReadRecord(dbx, big);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->descriptors.size(), 10u);
  EXPECT_EQ(read->DataLength(), 0u);
  EXPECT_EQ(dbx::ReadFieldString(dbx, *read, 0x02), std::nullopt);
  EXPECT_EQ(dbx::ReadField(dbx, *read, 0x01, DescriptorPart::kLow16), 0x08u);

  // A record whose header is cut off by the end of the file is not read at all.
  const std::string bytes = writer.bytes();
  dbx = Open(bytes.substr(0, big + 8));
  EXPECT_FALSE(dbx::ReadRecord(dbx, big));
  EXPECT_FALSE(dbx::ReadRecord(dbx, 0xFFFFFFFFu));
}

class DbxCopyTest : public DbxReaderTest {
 protected:
  std::optional<std::string> Copy(const DbxFileWriter& file, std::uint32_t first) {
    dbx::DbxFile dbx = Open(file);
    std::string path = "left over";
    if (dbx::CopyBodyToTemp(dbx, first, files, temp, path) != dbx::CopyResult::kCopied) {
      EXPECT_EQ(path, "");
      return std::nullopt;
    }
    return files.Contents(path);
  }
};

TEST_F(DbxCopyTest, ChainIsCopiedByteForByteAndALongBlockEndsIt) {
  const std::string text = DbxTestMessage(1) + std::string(3000, 'x') + "\r\n\0\x80\xFF" + "end";
  EXPECT_EQ(Copy(writer, writer.AddText(text)), text);
  EXPECT_EQ(Copy(writer, writer.AddText(text, 1)), text);

  const std::string full(512, 'a');
  const std::uint32_t after_long = writer.AddBlock(3, "zzz");
  const std::uint32_t long_block = writer.AddBlock(513, std::string(513, 'b'), after_long);
  const std::uint32_t exact = writer.AddBlock(512, full, long_block);
  const std::uint32_t first = writer.AddBlock(2, "hi", exact);
  EXPECT_EQ(Copy(writer, first), "hi" + full);
  EXPECT_EQ(Problems(), std::vector<std::string>{"message text block of 513 bytes, more than 512"});
  EXPECT_EQ(diagnostics.entries()[0].offset, long_block);
}

TEST_F(DbxCopyTest, ChainThatComesBackStopsBeforeTheFirstRepeatedBlock) {
  for (int before : {0, 1, 2, 5}) {
    for (int loop : {1, 2, 3, 7, 40}) {
      SCOPED_TRACE(::testing::Message() << before << " then a loop of " << loop);
      diagnostics.Clear();
      DbxFileWriter file(DbxFileWriter::Kind::kMessages);
      std::vector<std::uint32_t> blocks;
      std::string expected;
      for (int i = 0; i < before + loop; ++i) {
        const std::string data = "<" + std::to_string(i) + ">";
        blocks.push_back(file.AddBlock(static_cast<std::uint32_t>(data.size()), data));
        expected += data;
      }
      for (std::size_t i = 0; i + 1 < blocks.size(); ++i) file.Put32(blocks[i] + 12, blocks[i + 1]);
      file.Put32(blocks.back() + 12, blocks[before]);
      EXPECT_EQ(Copy(file, blocks[0]), expected);
      EXPECT_EQ(Problems(),
                std::vector<std::string>{"message text blocks come back to an earlier block"});
      EXPECT_EQ(diagnostics.entries()[0].offset, blocks[before]);
    }
  }
}

TEST_F(DbxCopyTest, BlockOutsideTheFileEndsTheText) {
  const std::uint32_t first = writer.AddBlock(4, "head", 0x7FFFFFF0);
  const std::uint32_t second = writer.AddBlock(4, "tail");
  EXPECT_EQ(Copy(writer, first), "head");
  // The data of the last block runs past the end of the file.
  writer.Put32(first + 12, second);
  const std::string bytes = writer.bytes();
  files.AddFile(kPath, bytes.substr(0, second + 16 + 2));
  dbx::DbxFile dbx = *dbx::DbxFile::Open(files, kPath, "", diagnostics);
  std::string path;
  ASSERT_EQ(dbx::CopyBodyToTemp(dbx, first, files, temp, path), dbx::CopyResult::kCopied);
  EXPECT_EQ(files.Contents(path), "head");
  EXPECT_EQ(Problems(), std::vector<std::string>(2, "message text block lies outside the file"));
}

TEST_F(DbxCopyTest, TemporaryFileThatCannotBeWrittenIsReportedAndRemoved) {
  const std::uint32_t first = writer.AddText(std::string(10000, 'm'));
  files.AddFile(kPath, writer.bytes());
  platform::FaultFileSystem faulty(files);
  dbx::DbxFile dbx = *dbx::DbxFile::Open(faulty, kPath, "Inbox", diagnostics);
  std::string path = "stale";

  faulty.faults().write_budget = 4096;
  EXPECT_EQ(dbx::CopyBodyToTemp(dbx, first, faulty, temp, path), dbx::CopyResult::kOutputFailed);
  faulty.faults().write_budget.reset();
  faulty.faults().open_for_writing = {"\\TEMP\\"};
  EXPECT_EQ(dbx::CopyBodyToTemp(dbx, first, faulty, temp, path), dbx::CopyResult::kOutputFailed);
  EXPECT_EQ(path, "");

  ASSERT_EQ(diagnostics.entries().size(), 2u);
  for (const platform::Diagnostic& d : diagnostics.entries()) {
    EXPECT_EQ(d.kind, platform::DiagnosticKind::kOutputFailure);
    EXPECT_TRUE(d.file.starts_with("C:\\TEMP\\")) << d.file;
  }
  EXPECT_EQ(files.ListFiles(), std::vector<std::string>{kPath});
}

}  // namespace
}  // namespace kv::testing
