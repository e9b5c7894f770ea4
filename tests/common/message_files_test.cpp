#include "common/message_files.h"

#include <gtest/gtest.h>

#include "platform/fake/memory_file_system.h"

namespace kv {
namespace {

// (The message boxes of the string table and the folder browser: through the filters' and the
// location dialog's tests.)
TEST(MessageFiles, TemporaryNamesAreNewEmptyFilesWithAThreeCharacterPrefix) {
  platform::MemoryFileSystem files;
  platform::MemoryTempFiles temp(files);
  const std::string first = MakeTempFileName(temp, "imp");
  ASSERT_TRUE(first.starts_with(temp.TempPath() + "imp")) << first;
  EXPECT_EQ(files.Contents(first), "");
  EXPECT_NE(MakeTempFileName(temp, "imp"), first);
  EXPECT_TRUE(MakeTempFileName(temp, "RFCX").starts_with(temp.TempPath() + "RFC"));
  EXPECT_FALSE(MakeTempFileName(temp, "").empty());
}

}  // namespace
}  // namespace kv
