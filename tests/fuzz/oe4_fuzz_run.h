#pragma once
// One run of the Outlook Express 4 fuzzer, shared with the test that replays the seed corpus and
// past findings: the input's store is put into memory, found through the registry, confirmed
// through the folder dialog and walked item by item as a host does.

#include <string>

#include "app/process_state.h"
#include "fuzz/filter_walk.h"
#include "fuzz/fuzz_input.h"
#include "oe4/oe_folders_file.h"
#include "oe4/oe_store_discovery.h"

namespace kv::fuzz {

// The number of items the walk produced, or -1 when it broke a promise of the dispatch interface:
// a null file property, a handed-over file that does not exist, or no end.
inline int RunOe4Fuzz(std::string_view bytes) {
  const FuzzInput input = DecodeFuzzInput(bytes, 3);
  const std::string &folders = input.parts[0], &index = input.parts[1], &mailbox = input.parts[2];
  const std::string dir = "C:\\OE\\Mail";
  ResetProcessState();
  if (input.options & kSecondLayoutSticky) g_bFoldersSecondLayout = true;

  testing::FakeServices fake;
  fake.registry.SetString(kOeRegistryKey, "store root", "C:\\OE");
  fake.files.AddFile(dir + "\\" + kOe4FuzzMailbox + ".mbx", mailbox);
  fake.files.AddFile(dir + "\\" + kOe4FuzzMailbox + ".idx", index);
  if (!(input.options & kNoFoldersFile)) fake.files.AddFile(dir + "\\folders.nch", folders);
  const int items =
      WalkAsHost(fake, "oe4", !(input.options & kKeepEmptyFolders), [&](ImportFilter& filter) {
        const AutomationString file = filter.GetSubItem(kSubItemMessageFile);
        return TakeOver(fake.files, file, file && *file == kEmptyFolderMarker);
      });
  ResetProcessState();
  return items;
}

}  // namespace kv::fuzz
