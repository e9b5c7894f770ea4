#pragma once
// The "eudora" filter over in-memory services (support/filter_fixture.h), with helpers to put a
// store in place, confirm it through the dialogs and walk every item as a host does, reading every
// property the filter supplies.

#include <optional>
#include <string>
#include <vector>

#include "eudora/eudora_paths.h"
#include "support/eudora_store_writer.h"
#include "support/filter_fixture.h"

namespace kv::testing {

inline constexpr const char* kEudoraDir = "C:\\Eudora";

// What the host learns about one item.
struct EudoraItem {
  std::string folder;  // code 5
  std::int32_t status = 0;
  std::int32_t state = 0;
  std::string from, to, subject, date, cc, bcc, return_path, sender;  // codes 1 2 3 22 20 21 8 7
  std::optional<std::string> body, html, rich;  // the files codes 4, 30 and 31 name
  std::vector<std::string> attachments;         // code 600 until empty
};

// Current, Walk and Folders here read every property of an item (EudoraItem). A new object
// (filter = NewFilter()) is needed for each IsSystemFound: each adds the store's folders to the
// object's lists again.
class EudoraFilterTest : public FilterTest {
 protected:
  EudoraFilterTest() : FilterTest("eudora") {}

  void PutStore(const EudoraStore& store, const std::string& dir = kEudoraDir) {
    store.AddTo(files, dir);
  }

  // IsSystemFound with the location dialog answered with `dir` and the folder dialog with `start`
  // (the root item when nullopt) and the "Skip Empty Folders" box.
  bool Find(std::optional<std::string> start = std::nullopt, bool skip_empty = true,
            const std::string& dir = kEudoraDir) {
    ui.AnswerLocation(dir);
    AnswerFolders(std::move(start), skip_empty);
    return filter->IsSystemFound();
  }

  std::optional<std::string> FileOf(std::int16_t code) {
    const std::string path = filter->GetSubItem(code).value_or("");
    if (path.empty()) return std::nullopt;
    return files.Contents(path);
  }

  EudoraItem Current() {
    EudoraItem item;
    item.folder = filter->GetSubItem(kSubItemFolderName).value_or("<null>");
    item.status = filter->GetItemStatus();
    item.state = filter->GetItemExStatus();
    auto text = [this](std::int16_t code) { return filter->GetSubItem(code).value_or("<null>"); };
    item.from = text(kSubItemFrom);
    item.to = text(kSubItemTo);
    item.subject = text(kSubItemSubject);
    item.date = text(kSubItemDate);
    item.cc = text(kSubItemCc);
    item.bcc = text(kSubItemBcc);
    item.return_path = text(kSubItemReturnPath);
    item.sender = text(kSubItemSender);
    item.body = FileOf(kSubItemBodyFile);
    item.html = FileOf(kSubItemHtmlFile);
    item.rich = FileOf(kSubItemUnknownTypeFile);
    for (std::string path; !(path = text(kSubItemNextAttachment)).empty();) {
      item.attachments.push_back(path);
      if (item.attachments.size() > 100) break;
    }
    return item;
  }

  // GoFirst, then GoNext until false, collecting every item (bounded, so a fault cannot hang).
  std::vector<EudoraItem> Walk() {
    std::vector<EudoraItem> items;
    for (bool more = filter->GoFirst(); more && items.size() < 10000; more = filter->GoNext()) {
      items.push_back(Current());
    }
    // Once GoNext has said false, nothing of the last item may still be answered.
    const EudoraItem after = Current();
    EXPECT_EQ(after.folder + after.from + after.subject, "");
    EXPECT_FALSE(after.body || after.html || after.rich || !after.attachments.empty());
    return items;
  }

  static std::vector<std::string> Folders(const std::vector<EudoraItem>& items) {
    std::vector<std::string> folders;
    for (const EudoraItem& item : items) folders.push_back(item.folder);
    return folders;
  }
  // The diagnostics reported so far, one formatted line each.
  std::vector<std::string> Reports() const {
    std::vector<std::string> lines;
    for (const platform::Diagnostic& entry : diagnostics.entries()) {
      lines.push_back(platform::FormatDiagnostic(entry));
    }
    return lines;
  }
};

// Messages 1..n with the given summary states.
inline std::vector<EudoraMessage> EudoraMessages(std::initializer_list<std::uint8_t> states) {
  std::vector<EudoraMessage> messages;
  int n = 0;
  for (std::uint8_t state : states) messages.emplace_back(EudoraTestMessage(++n), state);
  return messages;
}

}  // namespace kv::testing
