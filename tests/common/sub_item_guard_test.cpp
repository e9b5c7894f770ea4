#include "common/sub_item_guard.h"

#include <gtest/gtest.h>

#include <new>

#include "ui/scripted_ui.h"

namespace kv {
namespace {

TEST(SubItemGuard, FailuresBecomeAMessageBoxAndANullString) {
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[] { throw FileError("disk full"); }, "File I/O Error. Hard disk can be full."},
      {[] { throw std::bad_alloc(); }, "Out of memory"},
      {[] { throw std::length_error("string too long"); }, "Out of memory"},
      {[] { throw 42; }, nullptr},  // swallowed without a word
  };
  for (const auto& [fail, shown] : cases) {
    ui::ScriptedUserInterface ui;
    ui.set_report_unanswered(false);
    EXPECT_EQ(GuardSubItem(ui, 7, [&fail] { return fail(), std::string("x"); }), std::nullopt);
    if (shown == nullptr) {
      EXPECT_TRUE(ui.transcript().empty());
    } else {
      ASSERT_FALSE(ui.transcript().empty());
      EXPECT_EQ(ui.transcript()[0], std::string("message: Import messages: ") + shown);
    }
  }
  ui::ScriptedUserInterface ui;
  EXPECT_EQ(GuardSubItem(ui, 7, [] { return std::string("value"); }), "value");
}

}  // namespace
}  // namespace kv
