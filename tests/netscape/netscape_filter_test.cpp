// The Netscape filter through the dispatch interface: which items a walk gives, with which folder,
// status and bytes, and what happens to its one temporary message file.

#include <functional>
#include <new>

#include "common/sub_item_guard.h"
#include "netscape_fixture.h"

namespace kv::testing {
namespace {

const std::string kInbox = std::string(kNsRoot) + "/Inbox";

// Inbox (two received messages, the second unread) with a subfolder Old, a Drafts folder with an
// unsent message, Sent with a sent one, an empty Trash, and Inbox2, a sibling whose name continues
// Inbox's.
NsMailDirectory SampleStore() {
  NsMailDirectory store;
  NsFolder inbox{"Inbox", NsMessages(1)};
  inbox.messages.push_back({NsTestMessage(2), 0, kNsKindIncoming});
  inbox.subfolders.push_back({"Old", NsMessages(1, kNsKindIncoming, kNsFlagRead, 3)});
  store.folders.push_back(inbox);
  store.folders.push_back({"Inbox2", NsMessages(1, kNsKindIncoming, kNsFlagRead, 4)});
  store.folders.push_back({"Drafts", NsMessages(1, kNsKindOutgoing, 0, 5)});
  store.folders.push_back({"Sent", NsMessages(1, kNsKindOutgoing, kNsFlagRead, 6)});
  store.folders.push_back({"Trash"});
  return store;
}

class NetscapeWalkTest : public NetscapeFilterTest {
 protected:
  void SetUp() override { PutStore(SampleStore()); }
};

TEST_F(NetscapeWalkTest, HandsOverEveryMessageAsStoredWithItsFolderAndState) {
  const std::vector<NsItem> items = Walk();
  struct Expected {
    std::string folder;
    int n;
    std::int32_t state;
  };
  const std::string root = kNsRoot;
  const Expected expected[] = {
      {root + "/Drafts", 5, kStateNotSent},
      {root + "/Inbox", 1, kStateReceived},
      {root + "/Inbox", 2, kStateReceived | kStateUnread},
      {root + "/Inbox/Old", 3, kStateReceived},
      {root + "/Inbox2", 4, kStateReceived},
      {root + "/Sent", 6, 0},
  };
  ASSERT_EQ(items.size(), std::size(expected));
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(items[i].folder, expected[i].folder);
    EXPECT_EQ(items[i].status, 0);
    EXPECT_EQ(items[i].state, expected[i].state);
    EXPECT_EQ(items[i].file, items[0].file) << "one temporary file for every message";
    EXPECT_EQ(items[i].message, Stored(NsTestMessage(expected[i].n)));
  }
  EXPECT_TRUE(items[0].file->starts_with("C:\\TEMP\\RFC"));
  EXPECT_FALSE(filter->GoNext()) << "the walk stays finished";
  EXPECT_EQ(filter->GetSubItem(kSubItemFolderName), std::string());
  EXPECT_TRUE(diagnostics.entries().empty());
}

TEST_F(NetscapeWalkTest, StartFolderAndSkipEmptyChooseTheItems) {
  const std::string root = kNsRoot;
  struct Case {
    std::optional<std::string> start;
    bool skip_empty;
    std::vector<std::string> folders;
  };
  const Case cases[] = {
      // The plain prefix takes in the sibling Inbox2 as well.
      {"Inbox", true, {kInbox, kInbox, kInbox + "/Old", kInbox + "2"}},
      {"Inbox/Old", true, {kInbox + "/Old"}},
      {"Trash", true, {}},
      {"Trash", false, {root + "/Trash"}},
      {std::nullopt,
       false,
       {root + "/Drafts", kInbox, kInbox, kInbox + "/Old", kInbox + "2", root + "/Sent",
        root + "/Trash"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start.value_or("<root>") + (c.skip_empty ? " skip" : " keep"));
    EXPECT_EQ(Folders(Walk(c.start, c.skip_empty)), c.folders);
  }
}

TEST_F(NetscapeFilterTest, EmptyFolderGivesOneFolderItemWhenKept) {
  NsMailDirectory store;
  store.folders.push_back({"A", NsMessages(2)});
  store.folders.push_back({"B", {}});
  PutStore(store);
  const std::vector<NsItem> items = Walk(std::nullopt, /*skip_empty=*/false);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].status, 0);
  EXPECT_EQ(items[1].status, 0);
  EXPECT_EQ(items[2].folder, std::string(kNsRoot) + "/B");
  EXPECT_EQ(items[2].status, kItemIsFolder);
  EXPECT_EQ(items[2].file, items[0].file) << "code 11 names the file even for a folder item";
}

TEST_F(NetscapeFilterTest, TemporaryFileLivesAsLongAsTheObject) {
  PutStore(SampleStore());
  const std::string path = *filter->GetSubItem(kSubItemMessageFile);
  EXPECT_EQ(files.Contents(path), "") << "made empty when the object is created";

  ASSERT_TRUE(Find());
  ui.AnswerFolderDialog(std::nullopt);
  EXPECT_FALSE(filter->GoFirst()) << "cancelled";
  EXPECT_EQ(files.Contents(path), "");

  ASSERT_TRUE(First());
  EXPECT_EQ(files.Contents(path), Stored(NsTestMessage(5)));
  // The host may take the file away; the next message makes it anew under the same name.
  files.Delete(path);
  ASSERT_TRUE(filter->GoNext());
  EXPECT_EQ(files.Contents(path), Stored(NsTestMessage(1)));

  std::unique_ptr<ImportFilter> second = NewFilter();
  EXPECT_NE(*second->GetSubItem(kSubItemMessageFile), path);
  filter.reset();
  EXPECT_EQ(files.Contents(path), std::nullopt) << "deleted with the object";
}

TEST_F(NetscapeFilterTest, LargeMessageIsCopiedWhole) {
  std::string text = NsTestMessage(1);
  for (int i = 0; text.size() < 2 * 524288 + 17; ++i) text += "line " + std::to_string(i) + "\r\n";
  NsMailDirectory store;
  store.folders.push_back({"Big", {{text, kNsFlagRead, kNsKindIncoming}}});
  store.folders.back().messages.push_back({NsTestMessage(2), kNsFlagRead, kNsKindIncoming});
  PutStore(store);
  const std::vector<NsItem> items = Walk();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].message, Stored(text));
  EXPECT_EQ(items[1].message, Stored(NsTestMessage(2)));
}

// Summary entries that point outside the mailbox, or a mailbox that went missing: the message
// leaves no file behind, the walk goes on and the loss is reported.
TEST_F(NetscapeFilterTest, MessageTheMailboxDoesNotHoldLeavesNoFile) {
  auto [mailbox, entries] = NsMailbox(NsMessages(3));
  const std::uint32_t end = static_cast<std::uint32_t>(mailbox.size());
  entries[0].position = end + 10;  // beyond the end
  entries[1].length += 5;          // takes in the start of message 3
  entries[2].length += 1;          // runs past the end of the file
  SnmSummary summary;
  summary.folder_name = "Inbox";
  summary.messages = entries;
  files.AddFile(std::string(kNsMailDir) + "\\Inbox", mailbox);
  files.AddFile(std::string(kNsMailDir) + "\\Inbox.snm", SnmFile(summary));

  const std::vector<NsItem> items = Walk();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].message, std::nullopt);
  EXPECT_EQ(items[0].status, 0);
  EXPECT_EQ(items[1].message, Stored(NsTestMessage(2)) + std::string(kNsFromLine, 5));
  EXPECT_EQ(items[2].message, std::nullopt);
  ASSERT_EQ(diagnostics.entries().size(), 2u);
  EXPECT_EQ(diagnostics.entries()[0].folder, kInbox);
  EXPECT_EQ(diagnostics.entries()[0].offset, end + 10);
  EXPECT_EQ(diagnostics.entries()[0].problem, "the mailbox ends 0 bytes into the message");
  EXPECT_EQ(diagnostics.entries()[1].offset, end);

  diagnostics.Clear();
  ASSERT_TRUE(Find());
  files.Delete(std::string(kNsMailDir) + "\\Inbox");
  ASSERT_TRUE(First());
  EXPECT_EQ(Current().message, std::nullopt);
  EXPECT_TRUE(Reported("mailbox cannot be opened"));
}

TEST_F(NetscapeFilterTest, DamagedSummaryMakesItsFolderEmptyAndSaysSo) {
  PutStore(SampleStore());
  files.AddFile(std::string(kNsMailDir) + "\\Sent.snm", "not a summary at all, though long enough");
  files.AddFile(std::string(kNsMailDir) + "\\Drafts.snm", "");
  EXPECT_EQ(Folders(Walk(std::nullopt, false)),
            (std::vector<std::string>{std::string(kNsRoot) + "/Drafts", kInbox, kInbox,
                                      kInbox + "/Old", kInbox + "2", std::string(kNsRoot) + "/Sent",
                                      std::string(kNsRoot) + "/Trash"}));
  EXPECT_TRUE(Reported("not a summary file"));
  EXPECT_TRUE(Reported("shorter than its header"));
}

// The walk is one object's: a second GoFirst starts over, whatever the first left open.
TEST_F(NetscapeWalkTest, GoFirstAgainStartsOver) {
  ASSERT_TRUE(Find());
  ASSERT_TRUE(First("Inbox"));
  ASSERT_TRUE(filter->GoNext());
  ASSERT_TRUE(First("Sent"));
  NsItem item = Current();
  EXPECT_EQ(item.folder, std::string(kNsRoot) + "/Sent");
  EXPECT_EQ(item.message, Stored(NsTestMessage(6)));
  EXPECT_FALSE(filter->GoNext());
}

// A code page whose conversion to UTF-8 fails the way a test asks.
class ThrowingCodePage final : public platform::CodePage {
 public:
  std::function<void()> fail;
  std::string ToUtf8(const std::string& text) override {
    fail();
    return text;
  }
  std::string FromUtf8(const std::string& text) override { return text; }
};

TEST_F(NetscapeFilterTest, FailuresWhileAnsweringAPropertyBecomeMessageBoxesAndNull) {
  ThrowingCodePage failing;
  platform::Services failing_services{registry, files, temp, environment, failing, ui, diagnostics};
  auto subject = FindFilterClass("netscape")->create(failing_services);
  subject->SetParent(0x42);

  failing.fail = [] { throw FileError("disk full"); };
  EXPECT_EQ(subject->GetSubItem(kSubItemMessageFile), std::nullopt);
  EXPECT_TRUE(Shown("message: Import messages: File I/O Error. Hard disk can be full."));

  failing.fail = [] { throw std::bad_alloc(); };
  EXPECT_EQ(subject->GetSubItem(kSubItemMessageFile), std::nullopt);
  EXPECT_TRUE(Shown("message: Import messages: Out of memory"));

  const std::size_t shown = ui.transcript().size();
  failing.fail = [] { throw std::runtime_error("other"); };
  EXPECT_EQ(subject->GetSubItem(kSubItemMessageFile), std::nullopt);
  EXPECT_EQ(ui.transcript().size(), shown);

  failing.fail = [] {};
  EXPECT_EQ(subject->GetSubItem(22), std::string());
}

}  // namespace
}  // namespace kv::testing
