// Answer files drive the scripted front as the same answers given in code would: each line feeds
// the dialog kind it names, in order, and a bad line loads nothing.

#include "ui/answer_script.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/folder_select_dlg.h"
#include "common/location_dlg.h"
#include "support/golden.h"

namespace kv::ui {
namespace {

using platform::kIdCancel;
using platform::kIdNo;
using platform::kIdOk;
using platform::kIdYes;
using platform::kMbYesNo;

int MessageAnswer(ScriptedUserInterface& ui) { return ui.MessageBox(0, "t", "c", kMbYesNo); }

// The transcript of every dialog and box the script answers, in order, with what each gave back.
TEST(AnswerScript, EachLineAnswersItsDialogInOrder) {
  ScriptedUserInterface ui;
  ui.set_report_unanswered(false);
  ASSERT_FALSE(LoadAnswerScript(
      "# answers\r\nlocation C:\\Mail Store\\OE\r\n\nlocation-cancel\nmessage yes\nmessage no\n"
      "message 3\nbrowse C:\\Other\nbrowse-cancel\nfolders Inbox/Sub folder\nfolders-keep-empty\n"
      "folders-cancel\nfolders Nowhere",
      ui));
  std::vector<std::string> results;
  for (int i = 0; i < 2; ++i) {
    CLocationDlg location(ui, 0);
    location.m_strPath = "C:\\Found";
    const int result = location.DoModal();
    results.push_back("location " + std::to_string(result) + " " + location.m_strPath);
  }
  for (int i = 0; i < 3; ++i) results.push_back("message " + std::to_string(MessageAnswer(ui)));
  for (int i = 0; i < 2; ++i)
    results.push_back("browse " + ui.BrowseForFolder(0, "t").value_or("-"));
  // A cancelled folder dialog (by the script, by a folder not in the tree, by no answer left)
  // leaves the selection and "Skip Empty Folders" as they were.
  const std::vector<std::string> paths{"R/Inbox", "R/Inbox/Sub folder", "R/Outbox"};
  for (int i = 0; i < 5; ++i) {
    CFolderSelectDlg dialog(ui, 0, paths);
    dialog.m_strRoot = "R";
    dialog.m_bSkipEmpty = 1;
    dialog.m_nSelected = 5;
    const int result = dialog.DoModal();
    results.push_back("folders " + std::to_string(result) + " selected " +
                      std::to_string(dialog.m_nSelected) + " skip " +
                      std::to_string(dialog.m_bSkipEmpty));
  }
  // Nothing was left over for the message box either: it is answered as closed.
  results.push_back("message " + std::to_string(MessageAnswer(ui)));
  std::string text;
  for (const std::string& line : ui.transcript()) text += line + "\n";
  text += "-- results\n";
  for (const std::string& line : results) text += line + "\n";
  kv::testing::ExpectGolden(text, "ui/answer_script.txt");
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
