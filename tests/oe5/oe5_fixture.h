#pragma once
// A SCOE5MsgFilter created from the class table over in-memory services, with helpers to put a
// store in place (found through the current identity's registry keys), confirm it through the
// dialogs and walk every item as a host does.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/filter_classes.h"
#include "oe5/oe5_store_discovery.h"
#include "support/dbx_writer.h"
#include "support/fake_services.h"

namespace kv::testing {

inline constexpr const char* kOe5Root = "C:\\Identity\\Store";
inline constexpr const char* kIdentity = "{A1B2C3D4-0000-1111-2222-333344445555}";

struct Oe5Item {
  std::string folder;               // code 5
  std::int32_t status = 0;          // GetItemStatus
  std::int32_t state = 0;           // GetItemExStatus
  std::optional<std::string> text;  // the bytes of the file code 11 names, for a message item
};

class Oe5FilterTest : public ::testing::Test, public FakeServices {
 protected:
  Oe5FilterTest() {
    ui.set_report_unanswered(false);
    filter = NewFilter();
  }

  std::unique_ptr<ImportFilter> NewFilter() {
    std::unique_ptr<ImportFilter> created = FindFilterClass("oe5")->create(services);
    created->SetParent(0x5150);
    return created;
  }

  std::string IdentityKey() const {
    return std::string(kOe5IdentitiesKey) + "\\" + kIdentity + kOe5IdentityKeySuffix;
  }

  // The registry names kOe5Root for the current identity, and the store is put there.
  void PutStore(const DbxStore& store) {
    registry.SetString(kOe5IdentitiesKey, kOe5LastUserValue, kIdentity);
    registry.SetString(IdentityKey(), "Store Root", kOe5Root);
    store.AddTo(files, kOe5Root);
  }

  // IsSystemFound, then GoFirst with the folder dialog answered: `start` (the root item when
  // nullopt) and the "Skip Empty Folders" box; every item until GoNext returns false.
  std::vector<Oe5Item> Walk(std::optional<std::string> start = std::nullopt,
                            bool skip_empty = true) {
    if (!filter->IsSystemFound()) return {};
    ui.AnswerFolderDialog(kv::ui::ScriptedUserInterface::FolderAnswer{start, skip_empty});
    std::vector<Oe5Item> items;
    for (bool more = filter->GoFirst(); more && items.size() < 10000; more = filter->GoNext()) {
      items.push_back(Current());
    }
    return items;
  }

  Oe5Item Current() {
    Oe5Item item;
    item.folder = filter->GetSubItem(kSubItemFolderName).value_or("<null>");
    item.status = filter->GetItemStatus();
    item.state = filter->GetItemExStatus();
    if ((item.status & kItemIsFolder) == 0) {
      item.text = files.Contents(filter->GetSubItem(kSubItemMessageFile).value_or(""));
    }
    return item;
  }

  static std::vector<std::string> Folders(const std::vector<Oe5Item>& items) {
    std::vector<std::string> folders;
    for (const Oe5Item& item : items) folders.push_back(item.folder);
    return folders;
  }

  std::vector<std::string> Problems() const {
    std::vector<std::string> problems;
    for (const platform::Diagnostic& d : diagnostics.entries()) problems.push_back(d.problem);
    return problems;
  }

  bool AskedToBrowseAgain() const {
    for (const std::string& line : ui.transcript()) {
      if (line.starts_with("message: Import messages: Message storage is")) return true;
    }
    return false;
  }

  std::unique_ptr<ImportFilter> filter;
};

// Messages with the given flags, texts DbxTestMessage(first), (first + 1) ...
inline std::vector<DbxMessage> Oe5Messages(std::initializer_list<std::uint32_t> flags,
                                           int first = 1) {
  std::vector<DbxMessage> messages;
  for (std::uint32_t flag : flags) {
    DbxMessage message;
    message.text = DbxTestMessage(first++, "Return-Path: <sender@example.com>\r\n");
    message.flags = flag;
    messages.push_back(message);
  }
  return messages;
}

}  // namespace kv::testing
