// The scripted front ends a dialog that ignores its buttons, so a faulty dialog cannot hang a test.

#include "ui/scripted_ui.h"

#include <gtest/gtest.h>

#include "res/dialogs.h"

namespace kv::ui {
namespace {

using platform::Dialog;
using platform::DialogView;
using platform::kIdCancel;

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
}  // namespace kv::ui
