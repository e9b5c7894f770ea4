#pragma once
// The walk the filters' fuzzers share: a filter object from the class table over in-memory
// services, its store confirmed through the folder dialog and walked item by item as a host does.

#include <memory>
#include <optional>

#include "app/filter_classes.h"
#include "support/fake_services.h"

namespace kv::fuzz {

// More items than an input of a few kilobytes can hold: reaching it means the walk loops.
inline constexpr int kFuzzItemLimit = 1 << 20;

// IsSystemFound (with "Skip Empty Folders" as `skip_empty`), then GoFirst and GoNext to the end,
// reading each item's status, state and folder and handing the object to `item`, which reads the
// rest and says whether the item kept the dispatch interface's promises. The number of items, or
// -1 when an item broke a promise or the walk had no end.
template <class Item>
int WalkAsHost(testing::FakeServices& fake, const char* filter_class, bool skip_empty, Item item) {
  fake.ui.set_report_unanswered(false);
  fake.ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{std::nullopt, skip_empty});
  std::unique_ptr<ImportFilter> filter = FindFilterClass(filter_class)->create(fake.services);
  filter->SetParent(1);
  if (!filter->IsSystemFound()) return 0;
  int items = 0;
  for (bool more = filter->GoFirst(); more; more = filter->GoNext()) {
    if (++items > kFuzzItemLimit) return -1;
    filter->GetItemStatus();
    filter->GetItemExStatus();
    filter->GetSubItem(kSubItemFolderName);
    if (!item(*filter)) return -1;
  }
  return items;
}

// Whether `file`, a file the host was handed, is named and exists (unless `nothing_to_take`: a
// folder item's or an empty name); the host then takes it over, which keeps memory flat.
inline bool TakeOver(platform::MemoryFileSystem& files, const AutomationString& file,
                     bool nothing_to_take) {
  if (!file) return false;
  if (nothing_to_take) return true;
  const bool exists = files.Exists(*file);
  files.Delete(*file);
  return exists;
}

}  // namespace kv::fuzz
