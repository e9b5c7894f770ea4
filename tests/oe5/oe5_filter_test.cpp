// The Outlook Express 5 filter walking stores the test writer builds: the items a host sees, their
// folders and states, the folder items of "Skip Empty Folders", and what ends a folder or the walk.

#include "oe5/oe5_filter.h"

#include <functional>
#include <stdexcept>

#include "oe5_fixture.h"
#include "platform/fake/fault_file_system.h"

namespace kv::testing {
namespace {

constexpr const char* kInbox = "Local Folders/Inbox";

class Oe5WalkTest : public Oe5FilterTest {
 protected:
  // Inbox: one read and one unread received message; Inbox/Old: an empty file; Sent: one sent
  // message; Drafts: one unsent message.
  void SetUp() override {
    inbox = store.AddFolder("Inbox", 1, Oe5Messages({kDbxRead, 0}));
    store.AddFolder("Old", inbox);
    store.AddFolder("Sent", 1, {Plain(3, kDbxRead)});
    store.AddFolder("Drafts", 1, {Plain(4, kDbxUnsent)});
    PutStore(store);
  }

  // A message without a Return-Path header.
  static DbxMessage Plain(int n, std::uint32_t flags) {
    DbxMessage message;
    message.text = DbxTestMessage(n);
    message.flags = flags;
    return message;
  }

  DbxFolder& Folder(const std::string& name) {
    for (DbxFolder& folder : store.folders) {
      if (folder.name == name) return folder;
    }
    throw std::logic_error("no folder " + name);
  }

  DbxStore store = DbxLocalStore();
  std::uint32_t inbox = 0;
};

TEST_F(Oe5WalkTest, RootItemWalksEveryFolderButTheLocalRootInPathOrder) {
  const std::vector<Oe5Item> items = Walk();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(Folders(items), (std::vector<std::string>{"Local Folders/Drafts", kInbox, kInbox,
                                                      "Local Folders/Sent"}));
  const std::int32_t states[] = {kStateNotSent, kStateReceived, kStateReceived | kStateUnread, 0};
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].status, 0) << i;
    EXPECT_EQ(items[i].state, states[i]) << i;
  }
  EXPECT_EQ(items[1].text, Oe5Messages({0}).front().text);
  EXPECT_EQ(items[3].text, DbxTestMessage(3));
  EXPECT_TRUE(diagnostics.entries().empty());
}

TEST_F(Oe5WalkTest, EmptyFoldersGiveFolderItemsOnlyWhenNotSkipped) {
  const Oe5Item folder_item{kInbox, kItemIsFolder, kStateReceived | kStateUnread, std::nullopt};
  std::vector<Oe5Item> items = Walk("Inbox", /*skip_empty=*/false);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(Folders(items),
            (std::vector<std::string>{kInbox, kInbox, kInbox, "Local Folders/Inbox/Old"}));
  EXPECT_EQ(items[2].status, kItemIsFolder);
  // A folder item keeps the last message's state.
  EXPECT_EQ(items[2].state, folder_item.state);
  EXPECT_EQ(items[3].status, kItemIsFolder);

  filter = NewFilter();
  items = Walk("Inbox", /*skip_empty=*/true);
  EXPECT_EQ(Folders(items), (std::vector<std::string>{kInbox, kInbox}));
}

// The start folder's path is a plain prefix: a sibling whose name continues it belongs to it.
TEST_F(Oe5WalkTest, StartFolderTakesItsSubtreeAndSiblingsItsNameBegins) {
  store.AddFolder("Inbox2", 1, Oe5Messages({kDbxRead}, 9));
  PutStore(store);
  EXPECT_EQ(Folders(Walk("Inbox")),
            (std::vector<std::string>{kInbox, kInbox, "Local Folders/Inbox2"}));
  filter = NewFilter();
  EXPECT_EQ(Folders(Walk("Inbox/Old", false)), std::vector<std::string>{"Local Folders/Inbox/Old"});
}

TEST_F(Oe5WalkTest, StateComesFromTheFlagsAndTheReturnPathHeader) {
  const std::string with_return_path = "Return-Path: <a@example.com>\r\n";
  struct Case {
    std::string headers;
    std::uint32_t flags;
    bool indirect;
    std::int32_t state;
  };
  const Case cases[] = {
      {with_return_path, kDbxRead, false, kStateReceived},
      {with_return_path, 0, false, kStateReceived | kStateUnread},
      {"", kDbxUnsent, false, kStateNotSent},
      {"", kDbxUnsent | kDbxRead, false, kStateNotSent},
      {"", 0, false, 0},
      {"", kDbxRead, true, 0},
      {"RETURN-PATH: <b@example.com>\r\n", 0x4080, true, kStateReceived},
      {"X-Other: 1\r\n return-path: folded\r\n", kDbxUnsent, false, kStateNotSent},
  };
  std::vector<DbxMessage> messages;
  for (const Case& c : cases) {
    DbxMessage message;
    message.text = DbxTestMessage(static_cast<int>(messages.size()), c.headers);
    message.flags = c.flags;
    message.flags_indirect = c.indirect;
    messages.push_back(message);
  }
  Folder("Sent").messages = messages;
  PutStore(store);
  const std::vector<Oe5Item> items = Walk("Sent");
  ASSERT_EQ(items.size(), std::size(cases));
  for (std::size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i].state, cases[i].state) << i;
}

// Values a message does not give are kept from the one before: flags when the record has none,
// "received" when the header block ends without an empty line and without Return-Path.
TEST_F(Oe5WalkTest, MissingFlagsOrAnOpenHeaderBlockKeepThePreviousValues) {
  DbxMessage no_flags = Plain(5, 0);
  no_flags.flags_field = false;
  DbxMessage open_header;
  open_header.text = "Subject: no body\r\nX-Long: line\r\nreturn-path:\r\n";
  open_header.flags = kDbxRead;
  Folder("Sent").messages = {open_header, Plain(6, 0), no_flags, open_header};
  PutStore(store);
  const std::vector<Oe5Item> items = Walk("Sent");
  ASSERT_EQ(items.size(), 4u);
  // GoFirst starts with "received"; "return-path:" with nothing after it is not the header.
  EXPECT_EQ(items[0].state, kStateReceived);
  EXPECT_EQ(items[1].state, 0);
  EXPECT_EQ(items[2].state, 0);
  EXPECT_EQ(items[3].state, 0);
  EXPECT_EQ(items[3].text, open_header.text);
}

TEST_F(Oe5WalkTest, StatusHeaderMarksOnlyItsOwnMessage) {
  Folder("Sent").messages = {Plain(1, kDbxRead), Plain(2, kDbxRead), Plain(3, kDbxRead)};
  Folder("Sent").messages[0].text = DbxTestMessage(1, "X-KVNorvale-StatusMsg: 1\r\n");
  Folder("Sent").messages[2].text = DbxTestMessage(3, "x-kvnorvale-statusmsg:0\r\n");
  PutStore(store);
  const std::vector<Oe5Item> items = Walk("Sent", false);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].status, kItemHasStatusMark);
  EXPECT_EQ(items[1].status, 0);
  EXPECT_EQ(items[2].status, 0);
  EXPECT_EQ(items[3].status, kItemIsFolder);
}

// A record that cannot give its text ends its folder, says how many messages that left behind,
// and the walk goes on: with the folder's item first when empty folders are kept.
TEST_F(Oe5WalkTest, MessageWithoutTextEndsItsFolder) {
  struct Case {
    const char* damage;
    std::function<void(DbxMessage&)> change;
    const char* problem;
  };
  const Case cases[] = {
      {"no field 0x11", [](DbxMessage& m) { m.size_field = false; },
       "message record has no size (field 0x11)"},
      {"size 0", [](DbxMessage& m) { m.extra_fields = {DbxField::Word(0x11, 0)}; },
       "message record has no size (field 0x11)"},
      {"no text", [](DbxMessage& m) { m.text.clear(); },
       "message record names no text (field 0x04)"},
  };
  for (const Case& c : cases) {
    for (bool skip_empty : {true, false}) {
      SCOPED_TRACE(std::string(c.damage) + (skip_empty ? ", skipping" : ", keeping"));
      DbxStore damaged = store;
      for (DbxFolder& folder : damaged.folders) {
        if (folder.name == "Inbox") folder.messages.push_back(Plain(7, kDbxRead));
        if (folder.name == "Inbox") c.change(folder.messages[1]);
      }
      PutStore(damaged);
      diagnostics.Clear();
      filter = NewFilter();
      const std::vector<Oe5Item> items = Walk(std::nullopt, skip_empty);
      std::vector<std::string> expected{"Local Folders/Drafts", kInbox};
      if (!skip_empty)
        expected = {"Local Folders/Drafts", "Local Folders/Drafts", kInbox, kInbox,
                    "Local Folders/Inbox/Old"};
      expected.push_back("Local Folders/Sent");
      if (!skip_empty) expected.push_back("Local Folders/Sent");
      EXPECT_EQ(Folders(items), expected);
      ASSERT_EQ(Problems(), std::vector<std::string>{c.problem});
      EXPECT_EQ(diagnostics.entries()[0].lost, "this message and the 1 after it in the folder");
      EXPECT_EQ(diagnostics.entries()[0].folder, kInbox);
      EXPECT_EQ(diagnostics.entries()[0].file, std::string(kOe5Root) + "\\Inbox.dbx");
    }
  }
}

TEST_F(Oe5WalkTest, IndexBeyondTheFolderCountIsCutAndReported) {
  Folder("Sent").messages = Oe5Messages({kDbxRead, kDbxRead, kDbxRead, kDbxRead, kDbxRead}, 10);
  Folder("Sent").count = 3;
  store.shape = DbxIndexShape::kEntrySubtrees;
  store.fanout = 2;
  PutStore(store);
  const std::vector<Oe5Item> items = Walk("Sent");
  ASSERT_EQ(items.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(items[i].text, Folder("Sent").messages[i].text) << i;
  ASSERT_EQ(Problems(), std::vector<std::string>{
                            "index lists more messages than the folder list's count of 3"});
  EXPECT_EQ(diagnostics.entries()[0].lost, "2 messages");

  // No count at all: the folder gives nothing, and says what it held.
  Folder("Sent").count = 0;
  PutStore(store);
  diagnostics.Clear();
  filter = NewFilter();
  EXPECT_TRUE(Walk("Sent").empty());
  EXPECT_EQ(diagnostics.entries().at(0).lost, "5 messages");
}

TEST_F(Oe5WalkTest, EveryIndexShapeGivesTheMessagesInIndexOrder) {
  std::vector<DbxMessage> messages;
  for (int n = 0; n < 60; ++n) messages.push_back(Plain(n, kDbxRead));
  Folder("Sent").messages = messages;
  for (DbxIndexShape shape :
       {DbxIndexShape::kFlat, DbxIndexShape::kLeftChain, DbxIndexShape::kEntrySubtrees}) {
    store.shape = shape;
    store.fanout = 4;
    PutStore(store);
    filter = NewFilter();
    const std::vector<Oe5Item> items = Walk("Sent");
    ASSERT_EQ(items.size(), messages.size());
    for (std::size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i].text, messages[i].text);
  }
}

TEST_F(Oe5WalkTest, MissingFolderFileIsReportedAndStillGivesItsFolderItem) {
  Folder("Sent").file_on_disk = false;
  files.Delete(std::string(kOe5Root) + "\\Sent.dbx");
  std::vector<Oe5Item> items = Walk(std::nullopt, false);
  EXPECT_EQ(items.back().folder, "Local Folders/Sent");
  EXPECT_EQ(items.back().status, kItemIsFolder);
  ASSERT_EQ(Problems(), std::vector<std::string>{"folder file missing or unreadable"});
  EXPECT_EQ(diagnostics.entries()[0].lost, "1 messages the folder list counts");
}

TEST_F(Oe5WalkTest, TemporaryFileThatCannotBeWrittenEndsTheWalk) {
  platform::FaultFileSystem faulty(files);
  platform::Services faulty_services{registry,  faulty, temp,       environment,
                                     code_page, ui,     diagnostics};
  filter = FindFilterClass("oe5")->create(faulty_services);
  faulty.faults().open_for_writing = {"\\TEMP\\"};
  EXPECT_TRUE(Walk().empty());
  ASSERT_EQ(diagnostics.entries().size(), 1u);
  EXPECT_EQ(diagnostics.entries()[0].kind, platform::DiagnosticKind::kOutputFailure);
  EXPECT_EQ(diagnostics.entries()[0].folder, "Local Folders/Drafts");
  EXPECT_EQ(faulty.OpenCount(), 0);
}

TEST_F(Oe5WalkTest, OnlyNewTemporaryFilesAreWrittenAndTheHostOwnsThem) {
  std::map<std::string, std::string> before;
  for (const std::string& path : files.ListFiles()) before[path] = *files.Contents(path);
  const std::vector<Oe5Item> items = Walk(std::nullopt, false);
  EXPECT_EQ(items.size(), 8u);
  std::size_t temporary = 0;
  for (const std::string& path : files.ListFiles()) {
    if (before.contains(path)) {
      EXPECT_EQ(files.Contents(path), before[path]) << path;
    } else {
      EXPECT_TRUE(path.starts_with("C:\\TEMP\\")) << path;
      ++temporary;
    }
  }
  EXPECT_EQ(temporary, 4u);
  // The walk is over for good.
  EXPECT_FALSE(filter->GoNext());
  EXPECT_FALSE(filter->GoNext());
}

TEST_F(Oe5WalkTest, FolderItemAnswersWithTheLastMessagesFile) {
  ASSERT_TRUE(filter->IsSystemFound());
  EXPECT_EQ(filter->GetSubItem(kSubItemFolderName), "");
  ui.AnswerFolderDialog(kv::ui::ScriptedUserInterface::FolderAnswer{"Sent", false});
  ASSERT_TRUE(filter->GoFirst());
  const AutomationString message = filter->GetSubItem(kSubItemMessageFile);
  ASSERT_TRUE(filter->GoNext());
  EXPECT_EQ(filter->GetItemStatus(), kItemIsFolder);
  EXPECT_EQ(filter->GetSubItem(kSubItemMessageFile), message);
  for (std::int16_t code : {1, 2, 3, 4, 6, 7, 8, 20, 30, 40, 600}) {
    EXPECT_EQ(filter->GetSubItem(code), "") << code;
  }
  EXPECT_FALSE(filter->GoNext());
}

TEST_F(Oe5WalkTest, CancelledFolderDialogImportsNothing) {
  ASSERT_TRUE(filter->IsSystemFound());
  ui.AnswerFolderDialog(std::nullopt);
  EXPECT_FALSE(filter->GoFirst());
  EXPECT_FALSE(filter->GoNext());
}

// A code page conversion that fails the way the framework's exceptions would.
class ThrowingCodePage final : public platform::CodePage {
 public:
  std::string ToUtf8(const std::string& text) override {
    ++calls;
    if (calls == 1) throw std::ios_base::failure("disk");
    if (calls == 2) throw std::bad_alloc();
    if (calls == 3) throw 42;
    return text;
  }
  std::string FromUtf8(const std::string& text) override { return text; }
  int calls = 0;
};

TEST_F(Oe5WalkTest, GetSubItemTurnsExceptionsIntoAMessageBoxAndANullString) {
  ThrowingCodePage throwing;
  platform::Services throwing_services{registry, files, temp,       environment,
                                       throwing, ui,    diagnostics};
  filter = FindFilterClass("oe5")->create(throwing_services);
  filter->SetParent(0x77);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(filter->GetSubItem(kSubItemMessageFile), std::nullopt);
  EXPECT_EQ(filter->GetSubItem(kSubItemMessageFile), "");
  std::vector<std::string> boxes;
  for (const std::string& line : ui.transcript()) {
    if (line.starts_with("message: ")) boxes.push_back(line);
  }
  EXPECT_EQ(boxes, (std::vector<std::string>{
                       "message: Import messages: File I/O Error. Hard disk can be full.",
                       "message: Import messages: Out of memory"}));
}

}  // namespace
}  // namespace kv::testing
