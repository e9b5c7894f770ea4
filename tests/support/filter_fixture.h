#pragma once
// A filter object from the class table over in-memory services (support/fake_services.h), walked
// item by item as a host walks it. The filters' tests derive their fixtures from it.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/filter_classes.h"
#include "platform/fake/fault_file_system.h"
#include "support/fake_services.h"

namespace kv::testing {

// What the host learns about one item: the folder (code 5), status, state, the file code 11
// names and the bytes it holds (none for the empty-folder marker or a file that is not there).
struct WalkedItem {
  std::string folder;
  std::int32_t status = 0, state = 0;
  std::optional<std::string> file, message;
};

class FilterTest : public ::testing::Test, public FakeServices {
 protected:
  explicit FilterTest(const char* filter_class) : filter_class_(filter_class) {
    ui.set_report_unanswered(false);
    filter = NewFilter();
  }

  // A new object over `with` (the fixture's services when null), its parent window set.
  std::unique_ptr<ImportFilter> NewFilter(const platform::Services* with = nullptr) {
    auto created = FindFilterClass(filter_class_)->create(with ? *with : services);
    created->SetParent(0x1234);
    return created;
  }
  // Makes `filter` a new object that reads through a fault-injecting view of `files`.
  platform::FaultFileSystem& Faulty() {
    filter = NewFilter(&faulty_services);
    return faulty;
  }
  // The next folder dialog's answer: `start` (the root item when nullopt), "Skip Empty Folders".
  void AnswerFolders(std::optional<std::string> start = std::nullopt, bool skip_empty = true) {
    ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{std::move(start), skip_empty});
  }
  WalkedItem Current() {
    WalkedItem item{filter->GetSubItem(kSubItemFolderName).value_or("<null>"),
                    filter->GetItemStatus(), filter->GetItemExStatus(),
                    filter->GetSubItem(message_file_code), std::nullopt};
    if (item.file && *item.file != kEmptyFolderMarker) item.message = files.Contents(*item.file);
    return item;
  }
  // GoFirst, then GoNext until false (bounded, so a fault cannot hang). Once GoNext has said
  // false it keeps saying so, and nothing of the last item may still be answered.
  std::vector<WalkedItem> Walk() {
    std::vector<WalkedItem> items;
    for (bool more = filter->GoFirst(); more && items.size() < 10000; more = filter->GoNext())
      items.push_back(Current());
    EXPECT_FALSE(!items.empty() && filter->GoNext());
    const WalkedItem after = Current();
    EXPECT_EQ(after.folder + after.file.value_or(""), "");
    EXPECT_EQ(items.empty() ? 0 : after.status, 0);
    return items;
  }
  static std::vector<std::string> Folders(const std::vector<WalkedItem>& items) {
    std::vector<std::string> folders;
    for (const WalkedItem& item : items) folders.push_back(item.folder);
    return folders;
  }
  // Whether a line of the transcript from line `from` on starts with `prefix`.
  bool Shown(const std::string& prefix, std::size_t from = 0) const {
    return std::any_of(ui.transcript().begin() + std::ptrdiff_t(from), ui.transcript().end(),
                       [&](const std::string& line) { return line.starts_with(prefix); });
  }
  // Whether question 126 (browse for another store?) was asked from line `from` on.
  bool AskedToBrowseAgain(std::size_t from = 0) const {
    return Shown("message: Import messages: Message storage is", from);
  }

  platform::FaultFileSystem faulty{files};
  platform::Services faulty_services{registry,  faulty, temp,       environment,
                                     code_page, ui,     diagnostics};
  std::unique_ptr<ImportFilter> filter;
  std::int16_t message_file_code = kSubItemMessageFile;  // the property Current reads the file of

 private:
  const char* filter_class_;
};

}  // namespace kv::testing
