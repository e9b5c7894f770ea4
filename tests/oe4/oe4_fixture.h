#pragma once
// An "oe4" filter from the class table over in-memory services, with helpers to put a store in
// place, confirm it through the dialogs and walk every item as a host does.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/filter_classes.h"
#include "app/process_state.h"
#include "oe4/oe_filter.h"
#include "oe4/oe_store_discovery.h"
#include "platform/fake/fault_file_system.h"
#include "support/fake_services.h"
#include "support/oe4_store_writer.h"

namespace kv::testing {

inline constexpr const char* kStoreRoot = "C:\\OE";
inline constexpr const char* kStoreDir = "C:\\OE\\Mail";

// What the host learns about one item: folder (code 5), status, state, the file code 11 names and
// the bytes it holds (none for the empty-folder marker).
struct Oe4Item {
  std::string folder;
  std::int32_t status = 0, state = 0;
  std::optional<std::string> file, message;
};

class Oe4FilterTest : public ::testing::Test, public FakeServices {
 protected:
  Oe4FilterTest() {
    ResetProcessState();
    ui.set_report_unanswered(false);
    filter = NewFilter();
  }
  ~Oe4FilterTest() override { ResetProcessState(); }

  std::unique_ptr<ImportFilter> NewFilter(const platform::Services* with = nullptr) {
    auto created = FindFilterClass("oe4")->create(with ? *with : services);
    created->SetParent(0x1234);
    return created;
  }
  // Makes `filter` read through a fault-injecting view of `files`.
  platform::FaultFileSystem& Faulty() {
    filter = NewFilter(&faulty_services);
    return faulty;
  }

  static std::string Path(const std::string& name) { return std::string(kStoreDir) + "\\" + name; }
  // "store root" names kStoreRoot; the store itself sits in kStoreDir.
  void PutStore(const Oe4Store& store) {
    registry.SetString(kOeRegistryKey, "Store Root", kStoreRoot);
    store.AddTo(files, kStoreDir);
  }

  // IsSystemFound with the folder dialog answered: `path` (the root item when nullopt) and the
  // "Skip Empty Folders" box.
  bool Find(std::optional<std::string> path = std::nullopt, bool skip_empty = true) {
    ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{path, skip_empty});
    return filter->IsSystemFound();
  }
  Oe4Item Current() {
    Oe4Item item{filter->GetSubItem(kSubItemFolderName).value_or("<null>"), filter->GetItemStatus(),
                 filter->GetItemExStatus(), filter->GetSubItem(kSubItemMessageFile), std::nullopt};
    if (item.file && *item.file != kEmptyFolderMarker) item.message = files.Contents(*item.file);
    return item;
  }
  // GoFirst, then GoNext until false (bounded, so a fault cannot hang).
  std::vector<Oe4Item> Walk() {
    std::vector<Oe4Item> items;
    for (bool more = filter->GoFirst(); more && items.size() < 10000; more = filter->GoNext())
      items.push_back(Current());
    return items;
  }
  static std::vector<std::string> Folders(const std::vector<Oe4Item>& items) {
    std::vector<std::string> folders;
    for (const Oe4Item& item : items) folders.push_back(item.folder);
    return folders;
  }
  // Whether a line of the transcript from line `from` on starts with `prefix`.
  bool Shown(const std::string& prefix, std::size_t from = 0) const {
    return std::any_of(ui.transcript().begin() + std::ptrdiff_t(from), ui.transcript().end(),
                       [&](const std::string& line) { return line.starts_with(prefix); });
  }
  bool AskedToBrowseAgain(std::size_t from = 0) const {
    return Shown("message: Import messages: Message storage is", from);
  }

  platform::FaultFileSystem faulty{files};
  platform::Services faulty_services{registry,  faulty, temp,       environment,
                                     code_page, ui,     diagnostics};
  std::unique_ptr<ImportFilter> filter;
};

// Messages 1..n with the given index flags.
inline std::vector<Oe4Message> Messages(std::initializer_list<std::uint8_t> flags) {
  std::vector<Oe4Message> messages;
  for (std::uint8_t flag : flags)
    messages.push_back({Oe4TestMessage(int(messages.size()) + 1), flag});
  return messages;
}

// The bytes a message's record holds after its 12-byte header: the text and its NUL padding.
inline std::string Padded(const std::string& text) {
  return text + std::string((4 - text.size() % 4) % 4, '\0');
}

}  // namespace kv::testing
