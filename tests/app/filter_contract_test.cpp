// The dispatch behaviour every filter class shares, run against each row of the class table over
// in-memory services: without a store (every dialog cancelled), and with each class's small valid
// store from the generators, found through the location dialog.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <new>
#include <string>

#include "app/filter_classes.h"
#include "app/process_state.h"
#include "common/sub_item_guard.h"
#include "support/eudora_generated_stores.h"
#include "support/filter_fixture.h"
#include "support/golden.h"
#include "support/netscape_generated_stores.h"
#include "support/oe4_generated_stores.h"
#include "support/oe5_generated_stores.h"

namespace kv::testing {
namespace {

// What a class's row needs beyond the class table: its store, the title its location dialog's
// folder browser shows, the property that names an item's message file, and whether GetSubItem
// turns failures into message boxes (one filter lets them through to the dispatch layer).
struct ClassStore {
  void (*put)(platform::MemoryFileSystem& files, const std::string& dir);
  const char* browse_title;
  std::int16_t message_file_code = kSubItemMessageFile;
  bool guards_sub_item = true;
};

const ClassStore& StoreOf(std::string_view short_name) {
  static const std::map<std::string_view, ClassStore> stores = {
      {"oe4",
       {[](auto& files, const auto& dir) { Oe4SampleStore().AddTo(files, dir); },
        "Please select location for Outlook Express 4"}},
      {"oe5",
       {[](auto& files, const auto& dir) { Oe5SampleStore().AddTo(files, dir); },
        "Please select location for Outlook Express 5"}},
      {"netscape",
       {[](auto& files, const auto& dir) { NsSampleStore().AddTo(files, dir); },
        "Please select location for Netscape Messenger 4.7"}},
      {"eudora",
       {[](auto& files, const auto& dir) { EudoraSampleStore().AddTo(files, dir); },
        "Please select Eudora messages location", kSubItemBodyFile, false}},
  };
  return stores.at(short_name);
}

// A code page that converts as Windows-1252 while `fail` is empty, and else calls it (it throws).
struct FailingCodePage final : platform::CodePage {
  std::string ToUtf8(const std::string& text) override {
    if (fail) fail();
    return plain.ToUtf8(text);
  }
  std::string FromUtf8(const std::string& text) override { return plain.FromUtf8(text); }

  std::function<void()> fail;
  platform::Windows1252CodePage plain;
};

constexpr const char* kStoreDir = "D:\\Store";

class FilterContract : public FilterTest, public ::testing::WithParamInterface<FilterClass> {
 protected:
  FilterContract() : FilterTest(GetParam().short_name.data()) {
    ResetProcessState();
    message_file_code = store_of.message_file_code;
  }
  ~FilterContract() override { ResetProcessState(); }

  // A new object over `with` that finds the class's store through the location dialog, the folder
  // dialog answered with the root item and "Skip Empty Folders" as given.
  bool Find(bool skip_empty = true, const platform::Services* with = nullptr) {
    store_of.put(files, kStoreDir);
    filter = NewFilter(with);
    ui.AnswerLocation(kStoreDir);
    AnswerFolders(std::nullopt, skip_empty);
    return filter->IsSystemFound();
  }
  // The files below the temporary folder, or everything else, with their bytes.
  std::map<std::string, std::string> Files(bool temporary) {
    std::map<std::string, std::string> found;
    for (const std::string& path : files.ListFiles())
      if (path.starts_with("C:\\TEMP\\") == temporary) found[path] = *files.Contents(path);
    return found;
  }

  const ClassStore& store_of = StoreOf(GetParam().short_name);
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

// A folder without a store brings the question to browse again: Yes shows the location dialog
// again, with the class's browse title, and each load runs under the wait cursor; No gives up.
TEST_P(FilterContract, LocationDialogAsksAgainForAFolderWithoutAStore) {
  files.AddDirectory("C:\\Nothing");
  for (const bool again : {true, false}) {
    SCOPED_TRACE(again ? "browse again" : "give up");
    ui.AnswerLocation("C:\\Nothing");
    ui.AnswerMessageBox(again ? platform::kIdYes : platform::kIdNo);
    const std::size_t shown = ui.transcript().size();
    const int cursor = ui.wait_cursor_count();
    EXPECT_EQ(Find(), again);
    EXPECT_TRUE(AskedToBrowseAgain(shown));
    EXPECT_TRUE(Shown(std::string("browse: ") + store_of.browse_title));
    EXPECT_EQ(ui.wait_cursor_count(), cursor + (again ? 2 : 1));
    EXPECT_EQ(again && !Walk().empty(), again);
  }
}

// Cancel in the folder dialog (shown while the store is loaded or on GoFirst) leaves nothing to
// walk, without the question to browse again.
TEST_P(FilterContract, FolderDialogCancelLeavesNothingToWalk) {
  store_of.put(files, kStoreDir);
  filter = NewFilter();
  ui.AnswerLocation(kStoreDir);
  ui.AnswerFolderDialog(std::nullopt);
  EXPECT_FALSE(filter->IsSystemFound() && filter->GoFirst());
  EXPECT_FALSE(AskedToBrowseAgain());
}

// "Skip Empty Folders" drops exactly the folder items (status 1) of the walk that keeps them.
TEST_P(FilterContract, SkipEmptyFoldersDropsTheFolderItems) {
  ASSERT_TRUE(Find(/*skip_empty=*/false));
  std::string kept, folder_items;
  for (const WalkedItem& item : Walk())
    (item.status == 1 ? folder_items : kept) += WalkText({item});
  EXPECT_NE(folder_items, "");
  ASSERT_TRUE(Find(/*skip_empty=*/true));
  EXPECT_EQ(WalkText(Walk()), kept);
}

// A temporary file that cannot be created, or written whole: each loss is reported as an output
// failure, nothing of it reaches the host or stays behind in the temporary folder, the store is not
// touched, every file opened is closed.
// How much is lost (the message, its folder, the walk) is the class's own.
TEST_P(FilterContract, TemporaryFileThatCannotBeWrittenIsReportedAndNothingPartialHandedOver) {
  const std::map<std::string, std::string> store = (store_of.put(files, kStoreDir), Files(false));
  std::string text;
  for (const bool at_open : {true, false}) {
    filter.reset();
    faulty.faults() = {};
    if (at_open) faulty.faults().open_for_writing = {"\\TEMP\\"};
    if (!at_open) faulty.faults().write_budget = 10;
    const std::map<std::string, std::string> before = Files(true);
    ASSERT_TRUE(Find(true, &faulty_services));
    const std::vector<WalkedItem> items = Walk();
    text += std::string("## ") + (at_open ? "cannot be created" : "10 bytes can be written") +
            "\n" + WalkText(items) + DiagnosticsText(diagnostics.entries());
    for (const WalkedItem& item : items) EXPECT_EQ(item.message, std::nullopt) << item.folder;
    EXPECT_NE(diagnostics.entries().size(), 0u);
    for (const platform::Diagnostic& entry : diagnostics.entries())
      EXPECT_EQ(entry.kind, platform::DiagnosticKind::kOutputFailure) << entry.problem;
    diagnostics.Clear();
    filter.reset();
    for (const auto& file : Files(true)) EXPECT_TRUE(before.contains(file.first)) << file.first;
    EXPECT_EQ(Files(false), store);
    EXPECT_EQ(faulty.OpenCount(), 0);
  }
  ExpectGolden(text, "filter_contract/" + std::string(GetParam().short_name) + "-unwritable.txt");
}

// A failure while GetSubItem builds a value becomes message box 104 (a file error) or 105 (any
// other) and a null string; one class lets it through to the dispatch layer instead.
TEST_P(FilterContract, FailuresInsideGetSubItemBecomeMessageBoxesAndNull) {
  FailingCodePage failing;
  const platform::Services failing_services{registry, files, temp,       environment,
                                            failing,  ui,    diagnostics};
  ASSERT_TRUE(Find(true, &failing_services));
  ASSERT_TRUE(filter->GoFirst());
  const std::pair<std::function<void()>, const char*> failures[] = {
      {[] { throw FileError("disk full"); }, "File I/O Error. Hard disk can be full."},
      {[] { throw std::bad_alloc(); }, "Out of memory"}};
  for (const auto& [fail, shown] : failures) {
    failing.fail = fail;
    const std::size_t from = ui.transcript().size();
    for (const std::int16_t code : {std::int16_t{kSubItemFolderName}, store_of.message_file_code}) {
      if (store_of.guards_sub_item) {
        EXPECT_EQ(filter->GetSubItem(code), std::nullopt) << code;
      } else {
        EXPECT_ANY_THROW(filter->GetSubItem(code));
      }
    }
    EXPECT_EQ(Shown(std::string("message: Import messages: ") + shown, from),
              store_of.guards_sub_item);
  }
  failing.fail = nullptr;
  EXPECT_NE(filter->GetSubItem(kSubItemFolderName), std::nullopt);
  filter.reset();  // while the services it holds still live
}

INSTANTIATE_TEST_SUITE_P(AllClasses, FilterContract,
                         ::testing::ValuesIn(FilterClasses().begin(), FilterClasses().end()),
                         [](const auto& info) { return std::string(info.param.short_name); });

}  // namespace
}  // namespace kv::testing
