// Answer files drive the scripted front as the same answers given in code would: each line feeds
// the dialog kind it names, in order, and a bad line loads nothing.

#include "ui/answer_script.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/folder_select_dlg.h"
#include "common/location_dlg.h"

namespace kv::ui {
namespace {

using platform::kIdCancel;
using platform::kIdNo;
using platform::kIdOk;
using platform::kIdYes;
using platform::kMbYesNo;

int MessageAnswer(ScriptedUserInterface& ui) { return ui.MessageBox(0, "t", "c", kMbYesNo); }

TEST(AnswerScript, EachLineAnswersItsDialogInOrder) {
  ScriptedUserInterface ui;
  ui.set_report_unanswered(false);
  ASSERT_FALSE(LoadAnswerScript(
      "# answers\r\nlocation C:\\Mail Store\\OE\r\n\nlocation-cancel\nmessage yes\nmessage no\n"
      "message 3\nbrowse C:\\Other\nbrowse-cancel\nfolders Inbox/Sub folder\nfolders-keep-empty\n"
      "folders-cancel\nfolders Nowhere",
      ui));

  CLocationDlg first(ui, 0);
  first.m_strPath = "C:\\Found";
  EXPECT_EQ(first.DoModal(), kIdOk);
  EXPECT_EQ(first.m_strPath, "C:\\Mail Store\\OE");
  CLocationDlg second(ui, 0);
  second.m_strPath = "C:\\Found";
  EXPECT_EQ(second.DoModal(), kIdCancel);
  EXPECT_EQ(second.m_strPath, "C:\\Found");

  EXPECT_EQ(MessageAnswer(ui), kIdYes);
  EXPECT_EQ(MessageAnswer(ui), kIdNo);
  EXPECT_EQ(MessageAnswer(ui), 3);
  EXPECT_EQ(ui.BrowseForFolder(0, "t"), "C:\\Other");
  EXPECT_EQ(ui.BrowseForFolder(0, "t"), std::nullopt);

  const std::vector<std::string> paths{"R/Inbox", "R/Inbox/Sub folder", "R/Outbox"};
  // Result, selection and "Skip Empty Folders" of each folder dialog; a cancelled one (by the
  // script, by a folder not in the tree, by no answer left) leaves both.
  for (auto [result, selected, skip_empty] :
       {std::tuple{kIdOk, 1, 1}, std::tuple{kIdOk, -1, 0}, std::tuple{kIdCancel, 5, 1},
        std::tuple{kIdCancel, 5, 1}, std::tuple{kIdCancel, 5, 1}}) {
    CFolderSelectDlg dialog(ui, 0, paths);
    dialog.m_strRoot = "R";
    dialog.m_bSkipEmpty = 1;
    dialog.m_nSelected = 5;
    EXPECT_EQ(dialog.DoModal(), result);
    EXPECT_EQ(dialog.m_nSelected, selected);
    EXPECT_EQ(dialog.m_bSkipEmpty, skip_empty);
  }
  // Nothing was left over for the message box either: it is answered as closed.
  EXPECT_EQ(MessageAnswer(ui), kIdNo);
}

TEST(AnswerScript, BadLineIsReportedAndLoadsNothing) {
  struct Case {
    const char* script;
    int line;
    const char* problem;
  };
  const Case cases[] = {
      {"message ok\nlocaton C:\\x\n", 2, "unknown answer \"locaton\""},
      {"location\n", 1, "\"location\" needs an argument"},
      {"location \n", 1, "\"location\" needs an argument"},
      {"browse\n", 1, "\"browse\" needs an argument"},
      {"\n\nfolders-cancel now\n", 3, "\"folders-cancel\" takes no argument"},
      {"message maybe\n", 1, "\"maybe\" is not a button (ok, cancel, yes, no or a number)"},
      {"message\n", 1, "\"\" is not a button (ok, cancel, yes, no or a number)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    ScriptedUserInterface ui;
    ui.set_report_unanswered(false);
    std::optional<AnswerScriptError> error = LoadAnswerScript(c.script, ui);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->line, c.line);
    EXPECT_EQ(error->problem, c.problem);
    // The good line before the bad one was not given either.
    EXPECT_EQ(MessageAnswer(ui), kIdNo);
  }
}

}  // namespace
}  // namespace kv::ui
