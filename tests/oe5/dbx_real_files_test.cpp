// The DBX reader and the test writer against files the mail client itself wrote (../shared/samples,
// skipped when absent): the reader finds the messages an independent reader finds, with the same
// bytes, and the writer lays files out as the client does, as the independent reader confirms.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "oe5/dbx_file.h"
#include "oe5_samples.h"
#include "platform/byte_view.h"
#include "support/dbx_writer.h"
#include "support/fake_services.h"
#include "support/temp_dir.h"
#include "support/undbx_reader.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

// The messages of each folder file as counted by an independent reader.
const std::map<std::string, std::size_t> kRealCounts = {
    {"kde-oe6/Posteingang.dbx", 1},  {"kde-oe6/kde.dbx", 5},
    {"kde-oe6/kmail.dbx", 5},        {"kde-oe6/acpi-devel.dbx", 4},
    {"kde-oe6/ck.dbx", 5},           {"kde-oe6/hal.dbx", 3},
    {"kde-oe6/hal-commit.dbx", 4},   {"kde-oe6/linux-kernel.dbx", 4},
    {"kde-oe6/Mailinglists.dbx", 0}, {"single/mtdbx_test.dbx", 1},
    {"single/mtdbx_test1.dbx", 1},   {"single/mbx2mbox_test4.dbx", 3},
};

class DbxRealFiles : public ::testing::Test, public FakeServices {
 protected:
  void SetUp() override {
    if (!Oe5Samples()) GTEST_SKIP() << "no real samples at " << Oe5SamplesPath();
  }

  // The messages of a real folder file as this reader extracts them, in index order.
  std::vector<std::string> Extract(const std::string& relative) {
    files.AddFile("C:\\Real.dbx", ReadFile(*Oe5Samples() / relative));
    dbx::DbxFile file = *dbx::DbxFile::Open(files, "C:\\Real.dbx", relative, diagnostics);
    const std::uint32_t root = file.ReadWord(dbx::kMessageIndexRootOffset).value_or(0);
    std::vector<std::string> texts;
    for (std::uint32_t offset : dbx::CollectOffsets(file, root, 1000, "messages").offsets) {
      std::optional<dbx::DbxRecord> record = dbx::ReadRecord(file, offset);
      if (!record) continue;
      std::optional<std::uint32_t> text =
          dbx::ReadField(file, *record, 0x04, dbx::DescriptorPart::kValue);
      std::string path;
      if (text && dbx::CopyBodyToTemp(file, *text, files, temp, path) == dbx::CopyResult::kCopied) {
        texts.push_back(*files.Contents(path));
        files.Delete(path);
      }
    }
    return texts;
  }
};

TEST_F(DbxRealFiles, EveryMessageOfEveryFileIsFoundWithTheIndependentReadersBytes) {
  std::optional<std::map<std::string, std::vector<std::string>>> independent[2];
  if (UndbxInstalled()) {
    independent[0] = UndbxMessages(*Oe5Samples() / "kde-oe6");
    independent[1] = UndbxMessages(*Oe5Samples() / "single");
  }
  for (const auto& [relative, count] : kRealCounts) {
    SCOPED_TRACE(relative);
    std::vector<std::string> texts = Extract(relative);
    EXPECT_EQ(texts.size(), count);
    // Whole messages: a header block ended by an empty line, then a body.
    for (const std::string& text : texts) {
      EXPECT_NE(text.find("\r\n\r\n"), std::string::npos) << text.substr(0, 40);
      EXPECT_NE(text.find("Subject:"), std::string::npos) << text.substr(0, 40);
    }
    const auto& by_folder = independent[relative.starts_with("single/") ? 1 : 0];
    if (!by_folder) continue;
    std::sort(texts.begin(), texts.end());
    const std::string stem = fs::path(relative).stem().string();
    const auto found = by_folder->find(stem);
    EXPECT_EQ(texts, found == by_folder->end() ? std::vector<std::string>{} : found->second);
  }
  EXPECT_TRUE(diagnostics.entries().empty());
  if (!UndbxInstalled()) GTEST_SKIP() << "undbx is not installed: bytes not compared";
}

// The writer encodes a folder record as the client does: the record of "Posteingang" rebuilt from
// its fields has the client's field count, body length, descriptors and data area.
TEST_F(DbxRealFiles, WriterEncodesAFolderRecordAsTheClientDid) {
  constexpr std::uint32_t kRecord = 0x31A0;
  const std::string real = ReadFile(*Oe5Samples() / "kde-oe6" / "Folders.dbx");
  DbxFileWriter writer(DbxFileWriter::Kind::kFolders);
  DbxRecordSpec record;
  record.fields = {DbxField::Direct(0x80, 4),
                   DbxField::Direct(0x81, 1),
                   DbxField::String(0x02, "Posteingang"),
                   DbxField::String(0x03, "Posteingang.dbx"),
                   DbxField::Word(0x06, 0x00800011),
                   DbxField::Direct(0x87, 1),
                   DbxField::Direct(0x89, 1),
                   DbxField::Direct(0x8A, 3)};
  const std::uint32_t at = writer.AddRecord(record);
  const std::string written = writer.bytes().substr(at);
  ASSERT_EQ(written.size(), 12u + 64u);
  EXPECT_EQ(written.substr(4, 4), real.substr(kRecord + 4, 4));  // body length
  EXPECT_EQ(written[10], real[kRecord + 10]);                    // field count
  EXPECT_EQ(written.substr(12), real.substr(kRecord + 12, 64));  // descriptors and data
  EXPECT_EQ(writer.Get32(at), at);                               // self offset, as real[kRecord]
  EXPECT_EQ(
      ByteView(reinterpret_cast<const std::uint8_t*>(real.data()), real.size()).u32le(kRecord),
      kRecord);
}

// The client's files follow the conventions the writer follows: the signature of each kind, the
// message count at 0xC4, and body blocks holding their own offset, 0x200, then full blocks of 512
// bytes up to the last.
TEST_F(DbxRealFiles, ClientFilesFollowTheWritersConventions) {
  const std::string folders_signature =
      DbxFileWriter(DbxFileWriter::Kind::kFolders).bytes().substr(0, 16);
  const std::string messages_signature =
      DbxFileWriter(DbxFileWriter::Kind::kMessages).bytes().substr(0, 16);
  EXPECT_EQ(ReadFile(*Oe5Samples() / "kde-oe6" / "Folders.dbx").substr(0, 16), folders_signature);
  for (const auto& [relative, count] : kRealCounts) {
    SCOPED_TRACE(relative);
    const std::string bytes = ReadFile(*Oe5Samples() / relative);
    const ByteView view(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(bytes.substr(0, 16), messages_signature);
    EXPECT_EQ(view.u32le(0xC4), count);
    if (count == 0) continue;
    // Every record's text chain (field 0x84, direct in the client's files).
    const std::uint32_t root = *view.u32le(0xE4);
    const std::uint32_t n = *view.u32le(root + 16) >> 8;
    for (std::uint32_t e = 0; e < n; ++e) {
      const std::uint32_t record = *view.u32le(root + 24 + 12 * e);
      std::uint32_t block = 0;
      for (std::uint32_t k = 0; k < *view.u8(record + 10); ++k) {
        const std::uint32_t descriptor = *view.u32le(record + 12 + 4 * k);
        if ((descriptor & 0xFF) == 0x84) block = descriptor >> 8;
      }
      ASSERT_NE(block, 0u);
      for (int guard = 0; block != 0 && guard < 1000; ++guard) {
        EXPECT_EQ(view.u32le(block), block);
        EXPECT_EQ(view.u32le(block + 4), kDbxBlockCapacity);
        const std::uint32_t next = *view.u32le(block + 12);
        EXPECT_TRUE(next == 0 ? *view.u32le(block + 8) <= 512 : *view.u32le(block + 8) == 512);
        block = next;
      }
    }
  }
}

// The independent reader reads what the writer writes: the same messages, byte for byte, from
// trees of one node and from chains of left children.
TEST_F(DbxRealFiles, IndependentReaderReadsTheWritersFiles) {
  if (!UndbxInstalled()) GTEST_SKIP() << "undbx is not installed";
  std::vector<DbxMessage> messages;
  for (int n = 1; n <= 40; ++n) {
    DbxMessage message;
    message.text = DbxTestMessage(n) + std::string(n * 97, static_cast<char>('a' + n % 26));
    messages.push_back(message);
  }
  std::vector<std::string> expected;
  for (const DbxMessage& message : messages) expected.push_back(message.text);
  std::sort(expected.begin(), expected.end());
  TempDir dir;
  dir.Write("store/Flat.dbx", DbxFolderFile(messages, DbxIndexShape::kFlat));
  dir.Write("store/Chain.dbx", DbxFolderFile(messages, DbxIndexShape::kLeftChain, 6));
  std::optional<std::map<std::string, std::vector<std::string>>> read =
      UndbxMessages(dir.path() / "store");
  ASSERT_TRUE(read);
  EXPECT_EQ((*read)["Flat"], expected);
  EXPECT_EQ((*read)["Chain"], expected);
}

}  // namespace
}  // namespace kv::testing
