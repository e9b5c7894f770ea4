#pragma once
// The "eudora" filter over in-memory services (support/filter_fixture.h), with helpers to put a
// store in place, confirm it through the dialogs and walk every item as a host does, reading every
// property the filter supplies.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "eudora/eudora_paths.h"
#include "support/eudora_store_writer.h"
#include "support/filter_fixture.h"
#include "support/golden.h"

namespace kv::testing {

inline constexpr const char* kEudoraDir = "C:\\Eudora";

// `text` (without line feeds) escaped (support/golden.h), in double quotes.
inline std::string Quoted(std::string_view text) { return '"' + Escaped(text) + '"'; }

// The filter over in-memory services. Walk reads every property of each item, as a host does, and
// renders it as text; Listing adds the diagnostics, for a golden file. A new object
// (filter = NewFilter()) is needed for each IsSystemFound: each adds the store's folders to the
// object's lists again.
class EudoraFilterTest : public FilterTest {
 protected:
  EudoraFilterTest() : FilterTest("eudora") {}

  // IsSystemFound with the location dialog answered with `dir` and the folder dialog with `start`
  // (the root item when nullopt) and the "Skip Empty Folders" box.
  bool Find(std::optional<std::string> start = std::nullopt, bool skip_empty = true,
            const std::string& dir = kEudoraDir) {
    ui.AnswerLocation(dir);
    AnswerFolders(std::move(start), skip_empty);
    return filter->IsSystemFound();
  }

  // The current item: the folder, status and state on the first line, then every property with
  // a value, one a line; for a property that names a file, the file's bytes follow its path. The
  // message options (160 bytes) show only the bytes that are not 0, as "index=value" in hex.
  std::string Current() {
    std::string text = filter->GetSubItem(kSubItemFolderName).value_or("<null>") + " | status " +
                       std::to_string(filter->GetItemStatus()) + " state " +
                       std::to_string(filter->GetItemExStatus()) + "\n";
    static constexpr std::pair<std::int16_t, const char*> kCodes[] = {
        {1, "from"},      {7, "sender"},     {8, "return-path"}, {2, "to"},
        {20, "cc"},       {21, "bcc"},       {3, "subject"},     {22, "date"},
        {4, "body file"}, {30, "html file"}, {31, "rich file"}};
    for (const auto& [code, name] : kCodes) {
      const AutomationString value = filter->GetSubItem(code);
      if (!value || value->empty()) continue;
      text += "  " + std::to_string(code) + " " + name + ": " + Escaped(*value) + "\n";
      if (code == kSubItemBodyFile || code == kSubItemHtmlFile || code == kSubItemUnknownTypeFile) {
        const std::optional<std::string> bytes = files.Contents(*value);
        text += !bytes           ? "    (no such file)\n"
                : bytes->empty() ? "    (empty)\n"
                                 : Escaped(*bytes, "    ");
      }
    }
    const std::string options = filter->GetSubItem(kSubItemMessageOptions).value_or("");
    if (!options.empty()) {
      EXPECT_EQ(options.size(), 640u) << "160 bytes, each as three hex digits and a blank";
      text += "  40 options:";
      for (std::size_t i = 0; i + 4 <= options.size(); i += 4) {
        if (options.substr(i, 4) != "000 ")
          text += " " + std::to_string(i / 4) + "=" + options.substr(i + 1, 2);
      }
      text += "\n";
    }
    for (std::string path;
         !(path = filter->GetSubItem(kSubItemNextAttachment).value_or("")).empty();) {
      text += "  600 attachment: " + Escaped(path) + "\n";
      if (text.size() > 1000000) break;
    }
    EXPECT_EQ(filter->GetSubItem(kSubItemNextAttachment), "") << "the list stays at its end";
    return text;
  }

  // GoFirst, then GoNext until false, rendering every item (bounded, so a fault cannot hang).
  std::vector<std::string> Walk() {
    std::vector<std::string> items;
    for (bool more = filter->GoFirst(); more && items.size() < 10000; more = filter->GoNext()) {
      items.push_back(Current());
    }
    // Once GoNext has said false it keeps saying so, and nothing of the last item but its state
    // is still answered.
    EXPECT_FALSE(filter->GoNext());
    const std::string after = Current();
    EXPECT_EQ(after.substr(0, after.find(" state ")) + after.substr(after.find('\n')),
              " | status 0\n");
    return items;
  }
  // The walk, the diagnostics it reported and the files it left in the temporary folder (then
  // taken away), as one text; `brief` keeps only the first line of each item (folder, status and
  // state).
  std::string Listing(bool brief = false) {
    std::string text;
    for (const std::string& item : Walk())
      text += brief ? item.substr(0, item.find('\n') + 1) : item;
    for (const platform::Diagnostic& entry : diagnostics.entries()) {
      text += "diagnostic: " + Escaped(platform::FormatDiagnostic(entry)) + "\n";
    }
    diagnostics.Clear();
    text += "left in C:\\TEMP:";
    for (const std::string& path : files.ListFiles()) {
      if (!path.starts_with("C:\\TEMP\\")) continue;
      text += " " + path.substr(8);
      files.Delete(path);  // as the host takes them over
    }
    return text + "\n";
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
