// The Eudora mail folder of a real Windows installation (../shared/samples/eudora/win71, see its
// PROVENANCE.md): the store writer writes the same bytes for the same content, and the filter
// imports it from the Linux disk. Skipped when the shared samples are absent.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/filter_classes.h"
#include "platform/byte_view.h"
#include "platform/fake/fake_environment.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "platform/registry.h"
#include "support/eudora_store_writer.h"
#include "support/temp_dir.h"
#include "ui/scripted_ui.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kRealStore =
    fs::path(KV_SOURCE_DIR) / ".." / "shared" / "samples" / "eudora" / "win71";

#define SKIP_WITHOUT_REAL_STORE() \
  if (!fs::is_directory(kRealStore)) GTEST_SKIP() << kRealStore << " is absent"

// The real mailbox taken apart at its separator lines, with each message's summary bytes: this
// reading is the test's own, so that the writer is checked against the store, not the reader.
std::vector<EudoraMessage> RealMessages(const std::string& mailbox, const std::string& toc) {
  const std::string separator = "From ???@??? ";
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; (at = mailbox.find(separator, at)) != std::string::npos; ++at) {
    if (at == 0 || mailbox[at - 1] == '\n') starts.push_back(at);
  }
  std::vector<EudoraMessage> messages;
  const ByteView summary(reinterpret_cast<const std::uint8_t*>(toc.data()), toc.size());
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : mailbox.size();
    const std::size_t line_end = mailbox.find("\r\n", starts[i]);
    EudoraMessage message;
    message.separator_date =
        mailbox.substr(starts[i] + separator.size(), line_end - starts[i] - separator.size());
    message.text = mailbox.substr(line_end + 2, end - line_end - 2);
    const std::size_t record = kEudoraTocHeaderSize + kEudoraTocRecordSize * i;
    message.state = summary.u8(record + 12).value_or(0xFF);
    message.encoding = summary.u8(record + 14).value_or(0xFF);
    message.mime = summary.u8(record + 15).value_or(0xFF);
    message.priority = summary.u8(record + 16).value_or(0xFF);
    messages.push_back(message);
  }
  return messages;
}

TEST(EudoraRealStore, WriterWritesWhatEudoraWrote) {
  SKIP_WITHOUT_REAL_STORE();
  EXPECT_EQ(EudoraFolderMap({{"In", "In.mbx", "S", "Y"},
                             {"Out", "Out.mbx", "S", "N"},
                             {"Junk", "Junk.mbx", "S", "N"},
                             {"Trash", "Trash.mbx", "S", "N"}}),
            ReadFile(kRealStore / "descmap.pce"));

  const std::string mailbox = ReadFile(kRealStore / "In.mbx");
  const std::string toc = ReadFile(kRealStore / "In.toc");
  const std::vector<EudoraMessage> messages = RealMessages(mailbox, toc);
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(EudoraMailboxFile(messages), mailbox);

  // The fields the writer and the reader know agree byte for byte; the rest is Eudora's own.
  const std::string written = EudoraTocFile("In", 0, messages);
  ASSERT_EQ(written.size(), toc.size());
  auto same = [&](std::size_t offset, std::size_t size) {
    EXPECT_EQ(written.substr(offset, size), toc.substr(offset, size)) << "offset " << offset;
  };
  same(0, 2);    // version
  same(8, 32);   // mailbox name
  same(40, 2);   // mailbox kind
  same(102, 2);  // message count
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const std::size_t record = kEudoraTocHeaderSize + kEudoraTocRecordSize * i;
    same(record + 0, 8);   // offset and length in the mailbox
    same(record + 12, 1);  // state
    same(record + 14, 3);  // encoding, MIME, priority
  }
  for (const char* name : {"Out", "Junk", "Trash"}) {
    const std::string empty = ReadFile(kRealStore / (std::string(name) + ".toc"));
    const std::string header =
        EudoraTocFile(name,
                      static_cast<std::uint16_t>(std::string(name) == "Out"    ? 1
                                                 : std::string(name) == "Junk" ? 2
                                                                               : 3),
                      {});
    ASSERT_EQ(header.size(), empty.size()) << name;
    EXPECT_EQ(header.substr(8, 34), empty.substr(8, 34)) << name;
    EXPECT_EQ(header.substr(102, 2), empty.substr(102, 2)) << name;
  }
}

struct RealItem {
  std::string folder;
  std::int32_t status, state;
  std::string subject;
  std::vector<std::string> attachments;
  std::string body;
  std::string html;
};

TEST(EudoraRealStore, FilterImportsEveryMessageWithItsParts) {
  SKIP_WITHOUT_REAL_STORE();
  TempDir temp_root;
  platform::MemoryRegistry registry;
  platform::PosixFileSystem files{platform::PosixFileSystem::Options{{}, "WINDOWS-1252"}};
  platform::PosixTempFiles temp{temp_root.path().string()};
  platform::FakeEnvironment environment;
  platform::IconvCodePage code_page{"WINDOWS-1252"};
  ui::ScriptedUserInterface ui;
  platform::DiagnosticLog diagnostics;
  platform::Services services{registry, files, temp, environment, code_page, ui, diagnostics};
  ui.set_report_unanswered(false);
  ui.AnswerLocation(kRealStore.string());
  ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{std::nullopt, false});

  std::unique_ptr<ImportFilter> filter = FindFilterClass("eudora")->create(services);
  filter->SetParent(1);
  ASSERT_TRUE(filter->IsSystemFound());
  std::vector<RealItem> items;
  for (bool more = filter->GoFirst(); more && items.size() < 20; more = filter->GoNext()) {
    RealItem item{filter->GetSubItem(kSubItemFolderName).value_or(""),
                  filter->GetItemStatus(),
                  filter->GetItemExStatus(),
                  filter->GetSubItem(kSubItemSubject).value_or(""),
                  {},
                  "",
                  ""};
    for (std::string path;
         !(path = filter->GetSubItem(kSubItemNextAttachment).value_or("")).empty();) {
      item.attachments.push_back(path);
    }
    item.body = ReadFile(filter->GetSubItem(kSubItemBodyFile).value_or(""));
    const std::string html = filter->GetSubItem(kSubItemHtmlFile).value_or("");
    if (!html.empty()) item.html = ReadFile(html);
    items.push_back(item);
  }
  ASSERT_EQ(items.size(), 8u);
  const std::string attach = "c:\\users\\broccol\\appdata\\roaming\\qualcomm\\eudora\\attach\\";
  const std::string text_htm = temp.TempPath() + "text.htm";
  const std::vector<std::vector<std::string>> attachments = {
      {attach + "stevan_white", attach + "Email Attachment Test"},
      {text_htm},
      {text_htm},
      {attach + "tools.arlut.utexas.edugash2.htm"},
      {text_htm},
  };
  const char* const subjects[] = {
      "Email Attachment Test", "UT Department of Computer Science Newsletter:  News@UTCS",
      "Appointment reminder from Austin Dental Arts", "This is a test", "Another email test"};
  for (std::size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(items[i].folder, "In");
    EXPECT_EQ(items[i].status, 0);
    EXPECT_EQ(items[i].state, kStateReceived | kStateUnread);
    EXPECT_EQ(items[i].subject, subjects[i]);
    EXPECT_EQ(items[i].attachments, attachments[i]);
  }
  EXPECT_TRUE(items[0].body.starts_with("Testing a two level attachment.\r\n"));
  EXPECT_TRUE(items[0].body.ends_with("workkey.gpg\r\n\r\n\r"));
  EXPECT_TRUE(items[1].html.starts_with("\r\n<html>\r\n<head>"));
  EXPECT_TRUE(items[1].html.ends_with("</html>\r\n\r\n"));
  EXPECT_EQ(items[1].body, "");
  EXPECT_EQ(items[2].body,
            "Embedded Content: Appointment reminder from Austi.jpg: "
            "00000001,586425e8,00000000,00000000");
  EXPECT_TRUE(items[3].body.starts_with("<x-flowed>\r\nThis is a test of sending a web page."));
  EXPECT_NE(items[4].html.find("src=\"cid:part1.08010409.03060503@arlut.utexas.edu\""),
            std::string::npos);
  for (std::size_t i = 5; i < 8; ++i) {
    EXPECT_EQ(items[i].status, kItemIsFolder);
    EXPECT_EQ(items[i].body, "");
  }
  EXPECT_EQ(items[5].folder, "Out");
  EXPECT_TRUE(diagnostics.entries().empty());
}

}  // namespace
}  // namespace kv::testing
