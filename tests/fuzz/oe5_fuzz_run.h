#pragma once
// One run of the Outlook Express 5 fuzzer, shared with the test that replays the seed corpus and
// past findings: the input's store is put into memory, found through the current identity's
// registry keys, confirmed through the folder dialog and walked item by item as a host does; then
// the folder file is read once more as a "Folders.dbx", so both readings of each file are fuzzed.

#include <string>

#include "fuzz/filter_walk.h"
#include "fuzz/fuzz_input.h"
#include "oe5/oe5_folder_tree.h"
#include "oe5/oe5_store_discovery.h"
#include "support/dbx_writer.h"

namespace kv::fuzz {

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
  const FuzzInput input = DecodeFuzzInput(bytes, 2);
  const std::string &folders = input.parts[0], &file = input.parts[1];
  const std::string root = "C:\\Store";
  testing::FakeServices fake;
  fake.registry.SetString(kOe5IdentitiesKey, kOe5LastUserValue, "{fuzz}");
  fake.registry.SetString(std::string(kOe5IdentitiesKey) + "\\{fuzz}" + kOe5IdentityKeySuffix,
                          "store root", root);
  const bool generated = (input.options & kGeneratedFoldersFile) != 0;
  fake.files.AddFile(root + "\\" + kOe5FoldersFileName,
                     generated ? GeneratedFoldersFile() : folders);
  fake.files.AddFile(root + "\\" + kOe5FuzzFile, file);
  const int items =
      WalkAsHost(fake, "oe5", !(input.options & kOe5KeepEmptyFolders), [&](ImportFilter& filter) {
        return TakeOver(fake.files, filter.GetSubItem(kSubItemMessageFile),
                        (filter.GetItemStatus() & kItemIsFolder) != 0);
      });
  // The folder file read as a folder list too.
  fake.files.AddFile("C:\\Other\\Folders.dbx", file);
  PrepareFolders(LoadFolders(fake.files, fake.diagnostics, "C:\\Other"), "C:\\Other",
                 fake.diagnostics);
  return items;
}

}  // namespace kv::fuzz
