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
#include "support/fake_services.h"

namespace kv::fuzz {

// More items than an input of a few kilobytes can hold: reaching it means the walk loops.
inline constexpr int kOe5FuzzItemLimit = 1 << 20;

// "Folders.dbx" of kGeneratedFoldersFile, written here byte by byte so that the fuzzer needs no
// test writer: the local root (id 1) and "Inbox" (id 2, parent 1, file "a.dbx", kOe5FuzzCount
// messages), both records in one index node.
inline std::string GeneratedFoldersFile() {
  std::string bytes(0x300, '\0');
  auto put32 = [&bytes](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  auto record = [&](std::size_t at, std::initializer_list<std::uint32_t> descriptors,
                    const std::string& data) {
    put32(at, static_cast<std::uint32_t>(at));
    put32(at + 4, static_cast<std::uint32_t>(4 * descriptors.size() + data.size()));
    bytes[at + 10] = static_cast<char>(descriptors.size());
    std::size_t position = at + 12;
    for (std::uint32_t descriptor : descriptors) {
      put32(position, descriptor);
      position += 4;
    }
    bytes.replace(position, data.size(), data);
  };
  put32(0xCC, 2);      // folder count
  put32(0xEC, 0x280);  // index root
  record(0x100, {0x00000180, 0x00000002}, std::string("Local Folders\0", 14));
  record(0x180, {0x00000280, 0x00000181, 0x00000002, 0x00000603, 0x00000087 | (kOe5FuzzCount << 8)},
         std::string("Inbox\0a.dbx\0", 12));
  put32(0x280, 0x280);
  put32(0x290, 2 << 8);  // two entries
  put32(0x298, 0x100);
  put32(0x2A4, 0x180);
  return bytes;
}

// The number of items the walk produced, or -1 when it broke a promise of the dispatch interface:
// a null file property, a handed-over file that does not exist, or no end.
inline int RunOe5FuzzInput(const Oe5FuzzInput& input) {
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
