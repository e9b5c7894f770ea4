#pragma once
// One run of the Outlook Express 4 fuzzer, shared with the test that replays the seed corpus and
// past findings: the input's store is put into memory, found through the registry, confirmed
// through the folder dialog and walked item by item as a host does.

#include <memory>
#include <string>

#include "app/filter_classes.h"
#include "app/process_state.h"
#include "fuzz/oe4_fuzz_input.h"
#include "oe4/oe_filter.h"
#include "oe4/oe_folders_file.h"
#include "oe4/oe_store_discovery.h"
#include "support/fake_services.h"

namespace kv::fuzz {

// More items than an input of a few kilobytes can hold: reaching it means the walk loops.
inline constexpr int kOe4FuzzItemLimit = 1 << 20;

// The number of items the walk produced, or -1 when it broke a promise of the dispatch interface:
// a null file property, a handed-over file that does not exist, or no end.
inline int RunOe4Fuzz(std::string_view bytes) {
  const Oe4FuzzInput input = DecodeOe4FuzzInput(bytes);
  constexpr const char* kStoreDir = "C:\\OE\\Mail";
  ResetProcessState();
  if (input.options & kSecondLayoutSticky) g_bFoldersSecondLayout = true;

  kv::testing::FakeServices fake;
  platform::MemoryRegistry& registry = fake.registry;
  platform::MemoryFileSystem& files = fake.files;
  ui::ScriptedUserInterface& ui = fake.ui;
  ui.set_report_unanswered(false);

  registry.SetString(kOeRegistryKey, "store root", "C:\\OE");
  const std::string base = std::string(kStoreDir) + "\\" + kOe4FuzzMailbox;
  files.AddFile(base + ".mbx", input.mailbox);
  files.AddFile(base + ".idx", input.index);
  if (!(input.options & kNoFoldersFile)) {
    files.AddFile(std::string(kStoreDir) + "\\folders.nch", input.folders);
  }
  ui.AnswerFolderDialog(
      ui::ScriptedUserInterface::FolderAnswer{std::nullopt, !(input.options & kKeepEmptyFolders)});

  std::unique_ptr<ImportFilter> filter = FindFilterClass("oe4")->create(fake.services);
  filter->SetParent(1);
  bool kept_promises = true;
  int items = 0;
  if (filter->IsSystemFound()) {
    for (bool more = filter->GoFirst(); more; more = filter->GoNext()) {
      if (++items > kOe4FuzzItemLimit) return -1;
      filter->GetItemStatus();
      filter->GetItemExStatus();
      filter->GetSubItem(kSubItemFolderName);
      const AutomationString file = filter->GetSubItem(kSubItemMessageFile);
      if (!file) return -1;
      if (*file == kEmptyFolderMarker) continue;
      kept_promises = kept_promises && files.Exists(*file);
      files.Delete(*file);  // as the host takes it over; keeps memory flat on long walks
    }
  }
  ResetProcessState();
  return kept_promises ? items : -1;
}

}  // namespace kv::fuzz
