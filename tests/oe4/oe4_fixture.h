#pragma once
// A SCOEMsgFilter created from the class table over in-memory services, with helpers to put a
// store in place, confirm it through the dialogs and walk every item as a host does.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/filter_classes.h"
#include "app/process_state.h"
#include "oe4/oe_filter.h"
#include "oe4/oe_store_discovery.h"
#include "support/fake_services.h"
#include "support/oe4_store_writer.h"

namespace kv::testing {

inline constexpr const char* kStoreRoot = "C:\\OE";
inline constexpr const char* kStoreDir = "C:\\OE\\Mail";

// What the host learns about one item.
struct Oe4Item {
  std::string folder;                  // code 5
  std::int32_t status = 0;             // GetItemStatus
  std::int32_t state = 0;              // GetItemExStatus
  std::optional<std::string> file;     // code 11
  std::optional<std::string> message;  // the bytes of the file code 11 names, if any
};

class Oe4FilterTest : public ::testing::Test, public FakeServices {
 protected:
  Oe4FilterTest() {
    ResetProcessState();
    ui.set_report_unanswered(false);
    filter = NewFilter();
  }
  ~Oe4FilterTest() override { ResetProcessState(); }

  std::unique_ptr<ImportFilter> NewFilter() {
    const FilterClass* filter_class = FindFilterClass("oe4");
    EXPECT_NE(filter_class, nullptr);
    std::unique_ptr<ImportFilter> created = filter_class->create(services);
    created->SetParent(0x1234);
    return created;
  }

  // "store root" names kStoreRoot; the store itself sits in kStoreDir.
  void PutStore(const Oe4Store& store) {
    registry.SetString(kOeRegistryKey, "Store Root", kStoreRoot);
    store.AddTo(files, kStoreDir);
  }

  // IsSystemFound with the folder dialog answered: `path` (root item when nullopt) and the
  // "Skip Empty Folders" box.
  bool Find(std::optional<std::string> path = std::nullopt, bool skip_empty = true) {
    ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{path, skip_empty});
    return filter->IsSystemFound();
  }

  Oe4Item Current() {
    Oe4Item item;
    item.folder = filter->GetSubItem(kSubItemFolderName).value_or("<null>");
    item.status = filter->GetItemStatus();
    item.state = filter->GetItemExStatus();
    item.file = filter->GetSubItem(kSubItemMessageFile);
    if (item.file && *item.file != kEmptyFolderMarker) item.message = files.Contents(*item.file);
    return item;
  }

  // GoFirst, then GoNext until false, collecting every item (bounded, so a fault cannot hang).
  std::vector<Oe4Item> Walk() {
    std::vector<Oe4Item> items;
    for (bool more = filter->GoFirst(); more && items.size() < 10000; more = filter->GoNext()) {
      items.push_back(Current());
    }
    return items;
  }

  static std::vector<std::string> Folders(const std::vector<Oe4Item>& items) {
    std::vector<std::string> folders;
    for (const Oe4Item& item : items) folders.push_back(item.folder);
    return folders;
  }

  bool Shown(const std::string& prefix) const {
    for (const std::string& line : ui.transcript()) {
      if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }
  bool AskedToBrowseAgain() const { return Shown("message: Import messages: Message storage is"); }

  std::unique_ptr<ImportFilter> filter;
};

// Messages 1..n with the given index flags.
inline std::vector<Oe4Message> Messages(std::initializer_list<std::uint8_t> flags) {
  std::vector<Oe4Message> messages;
  int n = 0;
  for (std::uint8_t flag : flags) messages.push_back({Oe4TestMessage(++n), flag, std::nullopt});
  return messages;
}

// The bytes a message's record holds after its 12-byte header: the text and its NUL padding.
inline std::string Padded(const std::string& text) {
  return text + std::string((4 - text.size() % 4) % 4, '\0');
}

}  // namespace kv::testing
