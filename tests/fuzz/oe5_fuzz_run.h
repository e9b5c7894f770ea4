#pragma once
// One run of the Outlook Express 5 fuzzer, shared with the test that replays the seed corpus and
// past findings: the input's store is put into memory, found through the current identity's
// registry keys, confirmed through the folder dialog and walked item by item as a host does; then
// the folder file is read once more as a "Folders.dbx", so both readings of each file are fuzzed.

#include <memory>
#include <string>

#include "app/filter_classes.h"
#include "fuzz/oe5_fuzz_input.h"
#include "oe5/oe5_folder_tree.h"
#include "oe5/oe5_store_discovery.h"
#include "support/dbx_writer.h"
#include "support/fake_services.h"

namespace kv::fuzz {

// More items than an input of a few kilobytes can hold: reaching it means the walk loops.
inline constexpr int kOe5FuzzItemLimit = 1 << 20;

// "Folders.dbx" of kGeneratedFoldersFile: the local root (id 1) and "Inbox" (id 2, file "a.dbx",
// kOe5FuzzCount messages).
inline const std::string& GeneratedFoldersFile() {
  static const std::string bytes = [] {
    testing::DbxStore store = testing::DbxLocalStore();
    store.folders.push_back({2, 1, "Inbox", kOe5FuzzFile, kOe5FuzzCount});
    return store.FoldersFile();
  }();
  return bytes;
}

// The number of items the walk produced, or -1 when it broke a promise of the dispatch interface:
// a null file property, a handed-over file that does not exist, or no end.
inline int RunOe5Fuzz(std::string_view bytes) {
  const Oe5FuzzInput input = DecodeOe5FuzzInput(bytes);
  constexpr const char* kRoot = "C:\\Store";
  kv::testing::FakeServices fake;
  platform::MemoryRegistry& registry = fake.registry;
  platform::MemoryFileSystem& files = fake.files;
  kv::ui::ScriptedUserInterface& ui = fake.ui;
  ui.set_report_unanswered(false);

  registry.SetString(kOe5IdentitiesKey, kOe5LastUserValue, "{fuzz}");
  registry.SetString(std::string(kOe5IdentitiesKey) + "\\{fuzz}" + kOe5IdentityKeySuffix,
                     "store root", kRoot);
  const bool generated = (input.options & kGeneratedFoldersFile) != 0;
  files.AddFile(std::string(kRoot) + "\\" + kOe5FoldersFileName,
                generated ? GeneratedFoldersFile() : input.folders);
  files.AddFile(std::string(kRoot) + "\\" + kOe5FuzzFile, input.file);
  ui.AnswerFolderDialog(kv::ui::ScriptedUserInterface::FolderAnswer{
      std::nullopt, (input.options & kOe5KeepEmptyFolders) == 0});

  std::unique_ptr<ImportFilter> filter = FindFilterClass("oe5")->create(fake.services);
  filter->SetParent(1);
  bool kept_promises = true;
  int items = 0;
  if (filter->IsSystemFound()) {
    for (bool more = filter->GoFirst(); more; more = filter->GoNext()) {
      if (++items > kOe5FuzzItemLimit) return -1;
      filter->GetItemStatus();
      filter->GetItemExStatus();
      filter->GetSubItem(kSubItemFolderName);
      const AutomationString file = filter->GetSubItem(kSubItemMessageFile);
      if (!file) return -1;
      if (filter->GetItemStatus() & kItemIsFolder) continue;
      kept_promises = kept_promises && files.Exists(*file);
      files.Delete(*file);  // as the host takes it over; keeps memory flat on long walks
    }
  }
  // The folder file read as a folder list too.
  files.AddFile("C:\\Other\\Folders.dbx", input.file);
  PrepareFolders(LoadFolders(files, fake.diagnostics, "C:\\Other"), "C:\\Other", fake.diagnostics);
  return kept_promises ? items : -1;
}

}  // namespace kv::fuzz
