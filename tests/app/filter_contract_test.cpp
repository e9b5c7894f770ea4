// The dispatch behaviour every filter class shares, run against each row of the class table over
// in-memory services with no store and no scripted answers (so every dialog is cancelled).

#include <gtest/gtest.h>

#include <string>

#include "app/filter_classes.h"
#include "app/process_state.h"
#include "oe4/oe_filter.h"
#include "support/fake_services.h"

namespace kv {
namespace {

class FilterContract : public ::testing::TestWithParam<FilterClass>, public testing::FakeServices {
 protected:
  FilterContract() {
    ResetProcessState();
    ui.set_report_unanswered(false);
    filter = GetParam().create(services);
    filter->SetParent(0x4711);
  }
  ~FilterContract() override { ResetProcessState(); }

  std::unique_ptr<ImportFilter> filter;
};

TEST_P(FilterContract, NameTypeAndSetPathAnswerTheSameWhateverHappens) {
  for (std::string word : {"", "!!!NextFolder", "!!!NEXTFOLDER", "C:\\Mail", "search"}) {
    if (word == "search") {
      EXPECT_FALSE(filter->IsSystemFound()) << "no store and every dialog cancelled";
    } else {
      filter->SetPath(word);
    }
    EXPECT_EQ(filter->GetName(), GetParam().display_name);
    EXPECT_EQ(filter->GetType(), 2);
    EXPECT_FALSE(filter->IsEnableSetPath());
  }
}

TEST_P(FilterContract, NothingToWalkOrLeaveBehindWithoutAStore) {
  EXPECT_FALSE(filter->IsSystemFound());
  EXPECT_FALSE(filter->GoFirst());
  EXPECT_FALSE(filter->GoNext());
  // Every code outside the property table, and the reserved code 6.
  for (std::int16_t code : {0, 6, 9, 10, 12, 19, 23, 29, 32, 41, 599, 601, -1, 32767}) {
    EXPECT_EQ(filter->GetSubItem(code), std::string()) << "code " << code;
  }
  // The attachment list stays empty however often it is asked.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(filter->GetSubItem(kSubItemNextAttachment), std::string());
  // A filter may keep a temporary file while it lives; none stays behind it.
  filter.reset();
  EXPECT_TRUE(files.ListFiles().empty());
}

TEST_P(FilterContract, EachObjectHoldsTheServerWhileItLives) {
  const int before = ServerLock::Count();
  {
    std::unique_ptr<ImportFilter> second = GetParam().create(services);
    EXPECT_EQ(ServerLock::Count(), before + 1);
  }
  EXPECT_EQ(ServerLock::Count(), before);
}

INSTANTIATE_TEST_SUITE_P(AllClasses, FilterContract,
                         ::testing::ValuesIn(FilterClasses().begin(), FilterClasses().end()),
                         [](const auto& info) { return std::string(info.param.short_name); });

// kvimport names a class by its short name, the server and the registry by its ProgID or class
// name (a duplicate name finds the wrong class).
TEST(FilterClassTable, EachClassIsFoundByAnyOfItsNames) {
  for (const FilterClass& filter_class : FilterClasses()) {
    EXPECT_EQ(FindFilterClass(filter_class.prog_id), &filter_class);
    EXPECT_EQ(FindFilterClass(filter_class.class_name), &filter_class);
    EXPECT_EQ(FindFilterClass(filter_class.short_name), &filter_class);
    EXPECT_TRUE(filter_class.clsid.size() == 38 && filter_class.clsid.starts_with("{"))
        << filter_class.clsid;
  }
  EXPECT_EQ(FilterClasses().size(), 4u);
  ASSERT_NE(FindFilterClass("kvfltrs.oeimportmsg"), nullptr);
  EXPECT_EQ(FindFilterClass("kvfltrs.oeimportmsg")->class_name, "SCOEMsgFilter");
  EXPECT_EQ(FindFilterClass("OE4")->prog_id, "KVFLTRS.OEIMPORTMSG");
  EXPECT_EQ(FindFilterClass("outlook"), nullptr);
}

}  // namespace
}  // namespace kv
