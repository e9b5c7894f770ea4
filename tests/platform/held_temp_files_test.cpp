// Temporary files held in memory in front of the Linux file system: what stays off the disk, what
// goes there, and write failures on the way there. How held files read, list and delete is the
// shared file-system contract (file_system_contract_test.cpp).
#include "platform/held_temp_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fake/fault_file_system.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "support/temp_dir.h"

namespace kv::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSpillSize = 1000;

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class HeldTempFilesTest : public ::testing::Test {
 protected:
  bool WriteFile(const std::string& path, const std::string& bytes) {
    std::unique_ptr<WritableFile> out = held_.OpenForWriting(path);
    return out != nullptr && out->Write(Bytes(bytes)) && out->Close();
  }
  std::string NewName() { return held_.GetTempFileName(held_.TempPath(), "OE4", 0).value_or(""); }

  testing::TempDir dir_;
  PosixFileSystem disk_;
  FaultFileSystem faulty_{disk_};
  PosixTempFiles temp_{PosixTempFiles::OwnFolder{dir_.path().string(), "t-"}};
  HeldTempFiles held_{faulty_, temp_, kSpillSize};
};

TEST_F(HeldTempFilesTest, HoldsSmallFilesAndPutsLargeOrNamedOnesOnDisk) {
  const std::string small = NewName();
  const std::string large = NewName();
  ASSERT_FALSE(small.empty());
  EXPECT_NE(small, large);
  EXPECT_EQ(held_.HeldBytes(small), "") << "GetTempFileName makes the file, empty";
  ASSERT_TRUE(WriteFile(small, "message"));
  ASSERT_TRUE(WriteFile(large, std::string(kSpillSize + 1, 'x')));
  EXPECT_EQ(held_.HeldBytes(small), "message");
  EXPECT_FALSE(fs::exists(small));
  EXPECT_EQ(held_.HeldBytes(large), std::nullopt);
  EXPECT_EQ(testing::ReadFile(large), std::string(kSpillSize + 1, 'x'));

  // Copying into a held file reads straight into its buffer; one too large goes to disk first.
  std::unique_ptr<ReadableFile> source = held_.OpenForReading(large);
  ASSERT_NE(source, nullptr);
  std::unique_ptr<WritableFile> out = held_.OpenForWriting(small);
  ASSERT_NE(out, nullptr);
  std::vector<std::uint8_t> buffer(16);
  EXPECT_EQ(out->CopyFrom(*source, 10, buffer).copied, 10u);
  ASSERT_TRUE(out->Close());
  EXPECT_EQ(held_.HeldBytes(small), std::string(10, 'x'));

  // Written again small, the large file is held again and its disk file goes.
  ASSERT_TRUE(WriteFile(large, "short"));
  EXPECT_EQ(held_.HeldBytes(large), "short");
  EXPECT_FALSE(fs::exists(large));

  // Code outside the platform layer opens a file by its native name: it is put on disk for that.
  EXPECT_EQ(held_.NativePath(small), small);
  EXPECT_EQ(testing::ReadFile(small), std::string(10, 'x'));
  EXPECT_EQ(held_.HeldBytes(small), std::nullopt);

  // Moved away by its owner, a file put on disk is still forgotten by Delete.
  fs::rename(small, dir_.path() / "moved");
  EXPECT_TRUE(held_.Knows(small));
  EXPECT_FALSE(held_.Delete(small));
  EXPECT_FALSE(held_.Knows(small));
  EXPECT_TRUE(held_.Delete(large));
  EXPECT_FALSE(held_.Exists(large));
  EXPECT_TRUE(fs::is_empty(held_.TempPath()));
  // Names outside the temporary folder are the file system's alone.
  const std::string outside = (dir_.path() / "outside.txt").string();
  ASSERT_TRUE(WriteFile(outside, "x"));
  EXPECT_EQ(held_.HeldBytes(outside), std::nullopt);
  EXPECT_TRUE(fs::exists(outside));
}

// A temporary folder that fills up fails the write that takes a file to disk, or a later one, as
// writing the file there directly would.
TEST_F(HeldTempFilesTest, AFullTemporaryFolderFailsTheWritesThatReachIt) {
  faulty_.faults().write_budget = kSpillSize + 100;
  std::unique_ptr<WritableFile> out = held_.OpenForWriting(NewName());
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(out->Write(Bytes(std::string(kSpillSize - 10, 'a'))));
  EXPECT_TRUE(out->Write(Bytes(std::string(50, 'b')))) << "on disk now, within the budget";
  EXPECT_FALSE(out->Write(Bytes(std::string(100, 'c'))));

  faulty_.faults().open_for_writing = {"OE4"};
  const std::string name = NewName();
  out = held_.OpenForWriting(name);
  ASSERT_NE(out, nullptr);
  std::unique_ptr<ReadableFile> source = held_.OpenForReading(name);
  std::vector<std::uint8_t> buffer(16);
  EXPECT_TRUE(out->CopyFrom(*source, kSpillSize + 1, buffer).write_failed);
  EXPECT_FALSE(out->Close());
  EXPECT_EQ(held_.NativePath(name), "") << "cannot be put on disk";
}

}  // namespace
}  // namespace kv::platform
