#pragma once
// The runs of the mail store fuzzers, shared by the fuzz targets (fuzz_entry.cpp) and the test
// that replays their seeds and past findings. The filters' runs put the input's store into
// memory, find it as a host does (the registry or the location dialog), confirm it through the
// folder dialog and walk it item by item; the summary run opens one Netscape summary and steps
// through it as GoNext does. Each returns what it read, or -1 when the code broke a promise.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/filter_classes.h"
#include "app/process_state.h"
#include "eudora/eudora_message.h"
#include "fuzz/fuzz_input.h"
#include "netscape/summary_reader.h"
#include "oe4/oe_folders_file.h"
#include "oe4/oe_store_discovery.h"
#include "oe5/oe5_folder_tree.h"
#include "oe5/oe5_store_discovery.h"
#include "platform/diagnostics.h"
#include "platform/fake/memory_file_system.h"
#include "support/dbx_writer.h"
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

// Outlook Express 4, the store found through the registry: the number of items the walk produced,
// or -1 when it broke a promise of the dispatch interface: a null file property, a handed-over
// file that does not exist, or no end.
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

// Outlook Express 5, the store found through the current identity's registry keys; then the
// folder file is read once more as a "Folders.dbx", so both readings of each file are fuzzed. The
// number of items the walk produced, or -1 when it broke a promise of the dispatch interface: a
// null file property, a handed-over file that does not exist, or no end.
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

// Eudora, every property of each item read; the mailbox's bytes are also converted directly as one
// message, so that the conversion sees text the splitter would have cut apart. The number of items
// the walk produced, or -1 when it broke a promise of the dispatch interface: a property naming a
// file that does not exist, an attachment list without end, or no end.
inline int RunEudoraFuzz(std::string_view bytes) {
  const FuzzInput input = DecodeFuzzInput(bytes, 3);
  const std::string &map = input.parts[0], &summary = input.parts[1], &mailbox = input.parts[2];
  MessageFile direct;
  direct.SetContent(mailbox);
  ConvertMessageText(direct, "In");

  testing::FakeServices fake;
  const std::string dir = "C:\\Eudora";
  fake.files.AddFile(dir + "\\descmap.pce", map.empty() ? kEudoraFuzzDefaultMap : map);
  fake.files.AddFile(dir + "\\Mail.mbx", mailbox);
  if (!(input.options & kEudoraNoSummary)) fake.files.AddFile(dir + "\\Mail.toc", summary);
  fake.ui.AnswerLocation(dir);
  fake.ui.AnswerMessageBox(platform::kIdYes);  // continue with an incomplete store
  return WalkAsHost(fake, "eudora", !(input.options & kEudoraKeepEmptyFolders),
                    [&](ImportFilter& filter) {
                      for (std::int16_t code : {1, 2, 3, 7, 8, 20, 21, 22, 40})
                        filter.GetSubItem(code);
                      const AutomationString html = filter.GetSubItem(kSubItemHtmlFile);
                      if (!html || !(html->empty() || fake.files.Exists(*html))) return false;
                      std::size_t attachments = 0;
                      while (!filter.GetSubItem(kSubItemNextAttachment).value_or("").empty()) {
                        if (++attachments > mailbox.size() + 2) return false;
                      }
                      const AutomationString body = filter.GetSubItem(kSubItemBodyFile);
                      return TakeOver(fake.files, body, body && body->empty());
                    });
}

// Netscape, the input a whole ".snm" summary: the number of messages listed, or -1 when the reader
// broke a promise: a listing that does not match its count, more entries than the file has room
// for, a result that differs on a second open, or a reader left open after listing nothing.
inline int RunSummaryFuzz(std::string_view bytes) {
  constexpr const char* kPath = "C:\\Mail\\Inbox.snm";
  platform::MemoryFileSystem files;
  platform::DiagnosticLog diagnostics;
  files.AddFile(kPath, std::string(bytes));
  SummaryReader reader(files, diagnostics);

  const bool opened = reader.Open(kPath, "Netscape Messenger 4.7/Inbox");
  const std::size_t count = reader.MessageCount();
  if (opened != (count > 0) || opened != reader.IsOpen()) return -1;
  // Each listed message has its own 8-byte pair in an index node inside the file.
  if (count > bytes.size() / 8) return -1;
  std::size_t stepped = 0;
  for (bool more = reader.NextMessage(true); more; more = reader.NextMessage(false)) {
    ++stepped;
    (void)reader.IsUnsent();
    (void)reader.IsUnread();
  }
  if (stepped != count) return -1;
  if (opened && reader.Open(kPath)) return -1;  // refused while open
  reader.Close();
  if (reader.Open(kPath) != opened || reader.MessageCount() != count) return -1;
  return static_cast<int>(count);
}

}  // namespace kv::fuzz
