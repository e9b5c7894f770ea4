#pragma once
// One run of the Eudora fuzzer, shared with the test that replays the seed corpus and past
// findings: the input's store is put into memory, confirmed through the dialogs and walked item by
// item as a host does, reading every property. The mailbox's bytes are also converted directly as
// one message, so that the conversion sees text the splitter would have cut apart.

#include <memory>
#include <string>

#include "app/filter_classes.h"
#include "eudora/eudora_message.h"
#include "fuzz/eudora_fuzz_input.h"
#include "support/fake_services.h"

namespace kv::fuzz {

// More items than an input of a few kilobytes can hold: reaching it means the walk loops.
inline constexpr int kEudoraFuzzItemLimit = 1 << 20;

// The number of items the walk produced, or -1 when it broke a promise of the dispatch interface:
// a property naming a file that does not exist, an attachment list without end, or no end.
inline int RunEudoraFuzz(std::string_view bytes) {
  const EudoraFuzzInput input = DecodeEudoraFuzzInput(bytes);
  constexpr const char* kStoreDir = "C:\\Eudora";
  MessageFile direct;
  direct.SetContent(input.mailbox);
  ConvertMessageText(direct, "In");

  kv::testing::FakeServices fake;
  platform::MemoryFileSystem& files = fake.files;
  ui::ScriptedUserInterface& ui = fake.ui;
  ui.set_report_unanswered(false);

  const std::string dir = kStoreDir;
  files.AddFile(dir + "\\descmap.pce", input.map.empty() ? kEudoraFuzzDefaultMap : input.map);
  files.AddFile(dir + "\\Mail.mbx", input.mailbox);
  if (!(input.options & kEudoraNoSummary)) files.AddFile(dir + "\\Mail.toc", input.summary);
  ui.AnswerLocation(dir);
  ui.AnswerMessageBox(platform::kIdYes);  // continue with an incomplete store
  ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{
      std::nullopt, !(input.options & kEudoraKeepEmptyFolders)});

  std::unique_ptr<ImportFilter> filter = FindFilterClass("eudora")->create(fake.services);
  filter->SetParent(1);
  int items = 0;
  if (!filter->IsSystemFound()) return items;
  auto exists_if_named = [&files](const AutomationString& path) {
    return path && (path->empty() || files.Exists(*path));
  };
  for (bool more = filter->GoFirst(); more; more = filter->GoNext()) {
    if (++items > kEudoraFuzzItemLimit) return -1;
    filter->GetItemStatus();
    filter->GetItemExStatus();
    for (std::int16_t code : {1, 2, 3, 5, 7, 8, 20, 21, 22, 40}) filter->GetSubItem(code);
    const AutomationString body = filter->GetSubItem(kSubItemBodyFile);
    if (!exists_if_named(body) || !exists_if_named(filter->GetSubItem(kSubItemHtmlFile))) return -1;
    std::size_t attachments = 0;
    while (!filter->GetSubItem(kSubItemNextAttachment).value_or("").empty()) {
      if (++attachments > input.mailbox.size() + 2) return -1;
    }
    if (body && !body->empty()) files.Delete(*body);  // as the host takes it over
  }
  return items;
}

}  // namespace kv::fuzz
