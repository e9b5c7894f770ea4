#pragma once
// A filter object from the class table over in-memory services (support/fake_services.h), walked
// item by item as a host walks it. The filters' tests derive their fixtures from it. A walk and
// the reports made on the way render as text, one line each, for golden files (support/golden.h):
//
//   Inbox/Old | status 0 | state 6 | 612 bytes 1f0c9a53b2de7744 "Message 3"
//   Trash | status 1 | state 0 | empty-folder marker
//   ! Inbox: Inbox.idx at offset 72: index record cut off; lost: the rest of the folder

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/filter_classes.h"
#include "platform/diagnostics.h"
#include "platform/fake/fault_file_system.h"
#include "support/fake_services.h"

namespace kv::testing {

// What the host learns about one item: the folder (code 5), status, state, the file code 11
// names and the bytes it holds (none for the empty-folder marker or a file that is not there).
struct WalkedItem {
  std::string folder;
  std::int32_t status = 0, state = 0;
  std::optional<std::string> file, message;
};

// "<size> bytes <FNV-1a 64 of the bytes> "<its Subject value>"": the digest tells any two
// different texts apart; the subject says which test message it is.
inline std::string DescribeBytes(const std::string& bytes) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  char digest[17];
  std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(hash));
  std::string text = std::to_string(bytes.size()) + " bytes " + digest;
  const std::size_t subject = bytes.find("Subject: ");
  if (subject != std::string::npos) {
    const std::size_t from = subject + 9;
    text += " \"" + bytes.substr(from, bytes.find_first_of("\r\n", from) - from) + "\"";
  }
  return text;
}

// One line per item: its folder, status, state, and what its file holds (the message, the
// empty-folder marker, no file named, or a named file that is not there).
inline std::string WalkText(const std::vector<WalkedItem>& items) {
  std::string text;
  for (const WalkedItem& item : items) {
    text += item.folder + " | status " + std::to_string(item.status) + " | state " +
            std::to_string(item.state) + " | ";
    if (!item.file) {
      text += "no file";
    } else if (*item.file == kEmptyFolderMarker) {
      text += "empty-folder marker";
    } else {
      text += item.message ? DescribeBytes(*item.message) : "file missing";
    }
    text += "\n";
  }
  return text;
}

// One line per report, "! " and the report as a person reads it; an output failure says so.
inline std::string DiagnosticsText(const std::vector<platform::Diagnostic>& entries) {
  std::string text;
  for (const platform::Diagnostic& entry : entries) {
    text += "! ";
    if (entry.kind == platform::DiagnosticKind::kOutputFailure) text += "output failure: ";
    text += platform::FormatDiagnostic(entry) + "\n";
  }
  return text;
}

class FilterTest : public ::testing::Test, public FakeServices {
 protected:
  explicit FilterTest(const char* filter_class) : filter_class_(filter_class) {
    ui.set_report_unanswered(false);
    filter = NewFilter();
  }

  // A new object over `with` (the fixture's services when null), its parent window set.
  std::unique_ptr<ImportFilter> NewFilter(const platform::Services* with = nullptr) {
    auto created = FindFilterClass(filter_class_)->create(with ? *with : services);
    created->SetParent(0x1234);
    return created;
  }
  // Makes `filter` a new object that reads through a fault-injecting view of `files`.
  platform::FaultFileSystem& Faulty() {
    filter = NewFilter(&faulty_services);
    return faulty;
  }
  // The next folder dialog's answer: `start` (the root item when nullopt), "Skip Empty Folders".
  void AnswerFolders(std::optional<std::string> start = std::nullopt, bool skip_empty = true) {
    ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{std::move(start), skip_empty});
  }
  WalkedItem Current() {
    WalkedItem item{filter->GetSubItem(kSubItemFolderName).value_or("<null>"),
                    filter->GetItemStatus(), filter->GetItemExStatus(),
                    filter->GetSubItem(message_file_code), std::nullopt};
    if (item.file && *item.file != kEmptyFolderMarker) item.message = files.Contents(*item.file);
    return item;
  }
  // GoFirst, then GoNext until false (bounded, so a fault cannot hang). Once GoNext has said
  // false it keeps saying so, and nothing of the last item may still be answered.
  std::vector<WalkedItem> Walk() {
    std::vector<WalkedItem> items;
    for (bool more = filter->GoFirst(); more && items.size() < 10000; more = filter->GoNext())
      items.push_back(Current());
    EXPECT_FALSE(!items.empty() && filter->GoNext());
    const WalkedItem after = Current();
    EXPECT_EQ(after.folder + after.file.value_or(""), "");
    EXPECT_EQ(items.empty() ? 0 : after.status, 0);
    return items;
  }
  // Under the heading `title`: IsSystemFound with the folder dialog answered (`start` below the
  // root item, or the root item), the walk and the reports made since the last call, as text.
  std::string Walked(const std::string& title, std::optional<std::string> start = std::nullopt,
                     bool skip_empty = true) {
    const std::size_t shown = ui.transcript().size();
    AnswerFolders(std::move(start), skip_empty);
    const bool found = filter->IsSystemFound();
    std::string text = "## " + title + (found ? "" : ": refused");
    text += std::string(AskedToBrowseAgain(shown) ? ", asked to browse again" : "") + "\n";
    text += WalkText(Walk());
    text += DiagnosticsText(diagnostics.entries());
    diagnostics.Clear();
    return text;
  }
  static std::vector<std::string> Folders(const std::vector<WalkedItem>& items) {
    std::vector<std::string> folders;
    for (const WalkedItem& item : items) folders.push_back(item.folder);
    return folders;
  }
  // Whether a line of the transcript from line `from` on starts with `prefix`.
  bool Shown(const std::string& prefix, std::size_t from = 0) const {
    return std::any_of(ui.transcript().begin() + std::ptrdiff_t(from), ui.transcript().end(),
                       [&](const std::string& line) { return line.starts_with(prefix); });
  }
  // Whether question 126 (browse for another store?) was asked from line `from` on.
  bool AskedToBrowseAgain(std::size_t from = 0) const {
    return Shown("message: Import messages: Message storage is", from);
  }

  platform::FaultFileSystem faulty{files};
  platform::Services faulty_services{registry,  faulty, temp,       environment,
                                     code_page, ui,     diagnostics};
  std::unique_ptr<ImportFilter> filter;
  std::int16_t message_file_code = kSubItemMessageFile;  // the property Current reads the file of

 private:
  const char* filter_class_;
};

}  // namespace kv::testing
