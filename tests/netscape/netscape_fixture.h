#pragma once
// A SCNetscapeMsgFilter created from the class table over in-memory services, with helpers to put
// a mail directory in place, confirm it through the dialogs and walk every item as a host does.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/filter_classes.h"
#include "support/fake_services.h"
#include "support/netscape_store_writer.h"

namespace kv::testing {

inline constexpr const char* kNsMailDir = "C:\\Netscape\\Users\\me\\Mail";
inline constexpr const char* kNsRoot = "Netscape Messenger 4.7";

// What the host learns about one item.
struct NsItem {
  std::string folder;                  // code 5
  std::int32_t status = 0;             // GetItemStatus
  std::int32_t state = 0;              // GetItemExStatus
  std::optional<std::string> file;     // code 11
  std::optional<std::string> message;  // the bytes of the file code 11 names, if it exists
};

class NetscapeFilterTest : public ::testing::Test, public FakeServices {
 protected:
  NetscapeFilterTest() {
    ui.set_report_unanswered(false);
    filter = NewFilter();
  }

  std::unique_ptr<ImportFilter> NewFilter() {
    const FilterClass* filter_class = FindFilterClass("netscape");
    EXPECT_NE(filter_class, nullptr);
    std::unique_ptr<ImportFilter> created = filter_class->create(services);
    created->SetParent(0x1234);
    return created;
  }

  void PutStore(const NsMailDirectory& store) { store.AddTo(files, kNsMailDir); }

  // IsSystemFound with the location dialog answered with the mail directory (the registry is
  // empty), then GoFirst with the folder dialog answered: `start` (a path below the root, or the
  // root item when nullopt) and "Skip Empty Folders". Whether GoFirst found an item.
  bool Find() {
    ui.AnswerLocation(kNsMailDir);
    return filter->IsSystemFound();
  }
  bool First(std::optional<std::string> start = std::nullopt, bool skip_empty = true) {
    ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{start, skip_empty});
    return filter->GoFirst();
  }

  NsItem Current() {
    NsItem item;
    item.folder = filter->GetSubItem(kSubItemFolderName).value_or("<null>");
    item.status = filter->GetItemStatus();
    item.state = filter->GetItemExStatus();
    item.file = filter->GetSubItem(kSubItemMessageFile);
    if (item.file) item.message = files.Contents(*item.file);
    return item;
  }

  // Find, First, then GoNext until false, collecting every item (bounded, so a fault cannot hang).
  std::vector<NsItem> Walk(std::optional<std::string> start = std::nullopt,
                           bool skip_empty = true) {
    std::vector<NsItem> items;
    if (!Find()) return items;
    for (bool more = First(start, skip_empty); more && items.size() < 10000;
         more = filter->GoNext()) {
      items.push_back(Current());
    }
    return items;
  }

  static std::vector<std::string> Folders(const std::vector<NsItem>& items) {
    std::vector<std::string> folders;
    for (const NsItem& item : items) folders.push_back(item.folder);
    return folders;
  }

  bool Shown(const std::string& prefix) const {
    for (const std::string& line : ui.transcript()) {
      if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }
  bool AskedToBrowseAgain() const { return Shown("message: Import messages: Message storage is"); }
  bool Reported(const std::string& words) const {
    for (const platform::Diagnostic& entry : diagnostics.entries()) {
      if (entry.problem.find(words) != std::string::npos) return true;
    }
    return false;
  }

  std::unique_ptr<ImportFilter> filter;
};

// Messages 1..n, each with the given kind and flags.
inline std::vector<NsMessage> NsMessages(int count, std::uint16_t kind = kNsKindIncoming,
                                         std::uint32_t flags = kNsFlagRead, int first = 1) {
  std::vector<NsMessage> messages;
  for (int n = first; n < first + count; ++n) messages.push_back({NsTestMessage(n), flags, kind});
  return messages;
}

// A message as the filter hands it over: its separator line and its text.
inline std::string Stored(const std::string& text) { return kNsFromLine + text; }

}  // namespace kv::testing
