#pragma once
// One run of the Eudora fuzzer, shared with the test that replays the seed corpus and past
// findings: the input's store is put into memory, confirmed through the dialogs and walked item by
// item as a host does, reading every property. The mailbox's bytes are also converted directly as
// one message, so that the conversion sees text the splitter would have cut apart.

#include <string>

#include "eudora/eudora_message.h"
#include "fuzz/filter_walk.h"
#include "fuzz/fuzz_input.h"

namespace kv::fuzz {

// The number of items the walk produced, or -1 when it broke a promise of the dispatch interface:
// a property naming a file that does not exist, an attachment list without end, or no end.
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

}  // namespace kv::fuzz
