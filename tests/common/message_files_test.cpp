#include "common/message_files.h"

#include <gtest/gtest.h>

#include "platform/fake/memory_file_system.h"
#include "res/strings.h"
#include "ui/scripted_ui.h"

namespace kv {
namespace {

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

TEST(MessageFiles, MessageBoxesTakeTextAndCaptionFromTheStringTable) {
  ui::ScriptedUserInterface ui;
  ui.AnswerMessageBox(platform::kIdNo);
  EXPECT_EQ(ShowStringMessage(ui, 7, res::IDS_STORE_NOT_FOUND_BROWSE_AGAIN, res::IDS_APP_TITLE,
                              platform::kMbYesNo | platform::kMbIconQuestion),
            platform::kIdNo);
  ASSERT_FALSE(ui.transcript().empty());
  const std::string& shown = ui.transcript().back();
  EXPECT_NE(shown.find("Import messages"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Message storage is corrupted or cannot be found."), std::string::npos)
      << shown;
}

TEST(MessageFiles, CancelledFolderBrowserLeavesTheResultAlone) {
  ui::ScriptedUserInterface ui;
  std::string result = "C:\\previous";
  ui.AnswerBrowse(std::nullopt);
  EXPECT_FALSE(BrowseForFolder(ui, result, "title", 0));
  EXPECT_EQ(result, "C:\\previous");
  ui.AnswerBrowse("/home/user/oe");
  EXPECT_TRUE(BrowseForFolder(ui, result, "title", 0));
  EXPECT_EQ(result, "/home/user/oe");
}

}  // namespace
}  // namespace kv
