// The scripted front's own promises: queued answers in order, a cancel-like answer for anything
// unanswered, and a transcript of what was shown.

#include "platform/scripted_ui.h"

#include <gtest/gtest.h>

#include "res/dialogs.h"

namespace kv::platform {
namespace {

TEST(ScriptedUserInterface, MessageBoxesTakeQueuedButtonsThenCloseLikeCancel) {
  ScriptedUserInterface ui;
  ui.set_report_unanswered(false);
  ui.AnswerMessageBox(kIdYes);
  EXPECT_EQ(ui.MessageBox(1, "Again?", "Import messages", kMbYesNo | kMbIconQuestion), kIdYes);
  EXPECT_EQ(ui.MessageBox(1, "Again?", "Import messages", kMbYesNo | kMbIconQuestion), kIdNo);
  EXPECT_EQ(ui.MessageBox(1, "Go?", "Import messages", kMbOkCancel), kIdCancel);
  EXPECT_EQ(ui.MessageBox(1, "Done", "Import messages", kMbOk | kMbIconStop), kIdOk);
  EXPECT_EQ(ui.transcript().front(), "message: Import messages: Again?");
}

// A dialog that ignores every button: the scripted front still returns.
class StubbornDialog final : public Dialog {
 public:
  int TemplateId() const override { return 999; }
  bool OnInitDialog(DialogView&) override { return true; }
  void OnCommand(DialogView&, int) override {}
};

TEST(ScriptedUserInterface, UnknownOrStubbornDialogEndsWithCancel) {
  ScriptedUserInterface ui;
  ui.set_report_unanswered(false);
  StubbornDialog dialog;
  EXPECT_EQ(ui.RunModal(1, dialog), kIdCancel);
  EXPECT_EQ(ui.transcript().front(), "dialog 999: dialog 999");
  EXPECT_EQ(ui.transcript().back(), "end 2");
}

}  // namespace
}  // namespace kv::platform
