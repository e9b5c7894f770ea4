// The Outlook Express 5 filter over in-memory services on stores the test writer builds: finding
// the store, the items a host sees with their folders and states, what ends a folder or the walk.

#include <gtest/gtest.h>

#include <functional>

#include "app/filter_classes.h"
#include "common/sub_item_guard.h"
#include "oe5/oe5_store_discovery.h"
#include "platform/fake/fault_file_system.h"
#include "support/dbx_writer.h"
#include "support/filter_fixture.h"

namespace kv::testing {
namespace {

constexpr const char* kRoot = "C:\\Identity\\Store";
constexpr const char* kIdentity = "{A1B2C3D4}";
const std::string kReturnPath = "Return-Path: <sender@example.com>\r\n";
const std::string kIdentityKey =
    std::string(kOe5IdentitiesKey) + "\\" + kIdentity + kOe5IdentityKeySuffix;

DbxMessage Message(int n, std::uint32_t flags, const std::string& headers = "") {
  return {DbxTestMessage(n, headers), flags};
}

class Oe5FilterTest : public FilterTest {
 protected:
  Oe5FilterTest() : FilterTest("oe5") {
    const std::uint32_t inbox = store.AddFolder(
        "Inbox", 1, {Message(1, kDbxRead, kReturnPath), Message(2, 0, kReturnPath)});
    store.AddFolder("Old", inbox);
    store.AddFolder("Inbox2", 1, {Message(3, kDbxRead, kReturnPath)});
    store.AddFolder("Sent", 1, {Message(4, kDbxRead)});
    store.AddFolder("Drafts", 1, {Message(5, kDbxUnsent)});
    PutStore();
  }

  void PutStore() {
    registry.SetString(kOe5IdentitiesKey, kOe5LastUserValue, kIdentity);
    registry.SetString(kIdentityKey, "Store Root", kRoot);
    store.AddTo(files, kRoot);
  }
  DbxFolder& Folder(const std::string& name) {
    return *std::find_if(store.folders.begin(), store.folders.end(),
                         [&name](const DbxFolder& folder) { return folder.name == name; });
  }

  // A new object over `walked`: IsSystemFound, then the walk from `start` (below the root item, or
  // the root item). Each item's folder below "Local Folders/", in brackets for a folder item.
  std::vector<std::string> WalkFolders(std::optional<std::string> start = {},
                                       bool skip_empty = true) {
    filter = NewFilter(walked);
    items.clear();
    std::vector<std::string> folders;
    if (!filter->IsSystemFound()) return folders;
    AnswerFolders(std::move(start), skip_empty);
    items = Walk();
    for (const WalkedItem& item : items) {
      const std::string folder = item.folder.substr(14);
      folders.push_back(item.status & kItemIsFolder ? "[" + folder + "]" : folder);
    }
    return folders;
  }

  std::vector<WalkedItem> items;  // of the last walk
  DbxStore store = DbxLocalStore();
  const platform::Services* walked = &services;
};

// The start folder's path is a plain prefix: a sibling whose name continues it is walked too. A
// folder item keeps the state and the file of the message before it.
TEST_F(Oe5FilterTest, WalkFromTheChosenFolderWithOrWithoutEmptyFolders) {
  EXPECT_EQ(WalkFolders(),
            (std::vector<std::string>{"Drafts", "Inbox", "Inbox", "Inbox2", "Sent"}));
  EXPECT_EQ(WalkFolders("Inbox"), (std::vector<std::string>{"Inbox", "Inbox", "Inbox2"}));
  EXPECT_EQ(
      WalkFolders("Inbox", false),
      (std::vector<std::string>{"Inbox", "Inbox", "[Inbox]", "[Inbox/Old]", "Inbox2", "[Inbox2]"}));
  EXPECT_EQ(items[2].state, kStateReceived | kStateUnread);
  EXPECT_EQ(items[2].file, items[1].file);
  EXPECT_EQ(WalkFolders("Inbox/Old", false), std::vector<std::string>{"[Inbox/Old]"});
  EXPECT_FALSE(filter->GoNext());
  EXPECT_TRUE(diagnostics.entries().empty());
  ui.AnswerFolderDialog(std::nullopt);
  EXPECT_FALSE(filter->GoFirst());
}

// In walk order: a message without flags, or whose header block does not end, keeps the values of
// the one before (GoFirst starts with "received").
TEST_F(Oe5FilterTest, StateFromTheFlagsTheReturnPathAndTheStatusHeader) {
  const struct {
    std::string text;  // headers before DbxTestMessage's, or "!" and the whole text
    std::optional<std::uint32_t> flags;
    bool indirect;
    std::int32_t state;
    std::int32_t status = 0;
  } cases[] = {
      {"!Subject: no end\r\nreturn-path:\r\n", kDbxRead, false, kStateReceived},
      {kReturnPath, 0, false, kStateReceived | kStateUnread},
      {kReturnPath, kDbxRead | kDbxUnsent, false, kStateReceived},
      {kReturnPath, std::nullopt, false, kStateReceived},
      {"", kDbxUnsent | kDbxRead, false, kStateNotSent},
      {"!Subject: no end\r\n", std::nullopt, false, kStateNotSent},
      {"", 0, false, 0},
      {"", kDbxUnsent, true, kStateNotSent},
      {kReturnPath, 0x4080, true, kStateReceived},
      {"", kDbxRead, false, 0},
      {"X-KVNorvale-StatusMsg: 1\r\n", kDbxRead, false, 0, kItemHasStatusMark},
  };
  std::vector<DbxMessage>& messages = Folder("Sent").messages;
  messages.clear();
  for (const auto& c : cases) {
    messages.push_back(Message(static_cast<int>(messages.size()), c.flags.value_or(0), c.text));
    if (c.text.starts_with("!")) messages.back().text = c.text.substr(1);
    messages.back().flags_field = c.flags.has_value();
    messages.back().flags_indirect = c.indirect;
  }
  PutStore();
  ASSERT_EQ(WalkFolders("Sent", false).size(), std::size(cases) + 1);
  EXPECT_EQ(items.back().status, kItemIsFolder);  // the mark was the message's alone
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(items[i].state, cases[i].state) << i;
    EXPECT_EQ(items[i].status, cases[i].status) << i;
    EXPECT_EQ(items[i].message, messages[i].text) << i;
  }
}

// A record that cannot give its text ends its folder and says how many messages that left; a
// missing file leaves only the folder item. The walk goes on with the next folder.
TEST_F(Oe5FilterTest, DamagedMessageRecordOrMissingFileEndsItsFolder) {
  const std::string lost = "this message and the 1 after it in the folder";
  const struct {
    std::function<void(DbxFolder&)> damage;
    std::string problem;
    std::string lost;
  } cases[] = {
      {[](DbxFolder& f) { f.messages[1].size_field = false; },
       "message record has no size (field 0x11)", lost},
      {[](DbxFolder& f) { f.messages[1].extra_fields = {DbxField::Word(0x11, 0)}; },
       "message record has no size (field 0x11)", lost},
      {[](DbxFolder& f) { f.messages[1].text.clear(); },
       "message record names no text (field 0x04)", lost},
      {[](DbxFolder& f) { f.file_on_disk = false; }, "folder file missing or unreadable",
       "3 messages the folder list counts"},
  };
  Folder("Inbox").messages.push_back(Message(6, kDbxRead));
  const DbxStore whole = store;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    store = whole;
    c.damage(Folder("Inbox"));
    files.Delete(std::string(kRoot) + "\\Inbox.dbx");
    PutStore();
    diagnostics.Clear();
    std::vector<std::string> expected = {"Inbox", "[Inbox]", "[Inbox/Old]", "Inbox2", "[Inbox2]"};
    if (c.lost != lost) expected.erase(expected.begin());
    EXPECT_EQ(WalkFolders("Inbox", false), expected);
    ASSERT_EQ(Problems(), std::vector<std::string>{c.problem});
    const platform::Diagnostic& d = diagnostics.entries()[0];
    EXPECT_EQ(d.folder + "|" + d.file + "|" + d.lost,
              "Local Folders/Inbox|" + std::string(kRoot) + "\\Inbox.dbx|" + c.lost);
  }
}

TEST_F(Oe5FilterTest, IndexBeyondTheFolderCountIsCutAndReported) {
  std::vector<DbxMessage>& messages = Folder("Sent").messages;
  for (int n = 7; n < 11; ++n) messages.push_back(Message(n, kDbxRead));
  Folder("Sent").count = 3;
  store.shape = DbxIndexShape::kEntrySubtrees;
  store.fanout = 2;
  PutStore();
  ASSERT_EQ(WalkFolders("Sent").size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(items[i].message, messages[i].text) << i;
  ASSERT_EQ(Problems(), std::vector<std::string>{
                            "index lists more messages than the folder list's count of 3"});
  EXPECT_EQ(diagnostics.entries()[0].lost, "2 messages");
  Folder("Sent").count = 0;
  PutStore();
  diagnostics.Clear();
  EXPECT_TRUE(WalkFolders("Sent").empty());
  EXPECT_EQ(diagnostics.entries().at(0).lost, "5 messages");
}

TEST_F(Oe5FilterTest, TemporaryFileThatCannotBeWrittenEndsTheWalk) {
  walked = &faulty_services;
  for (bool at_open : {true, false}) {
    diagnostics.Clear();
    faulty.faults() = {};
    if (at_open) faulty.faults().open_for_writing = {"\\TEMP\\"};
    if (!at_open) faulty.faults().write_budget = 10;
    EXPECT_TRUE(WalkFolders().empty());
    ASSERT_EQ(diagnostics.entries().size(), 1u);
    EXPECT_EQ(diagnostics.entries()[0].kind, platform::DiagnosticKind::kOutputFailure);
    EXPECT_EQ(diagnostics.entries()[0].folder, "Local Folders/Drafts");
    for (const std::string& path : files.ListFiles()) EXPECT_TRUE(path.starts_with(kRoot));
  }
  filter.reset();
  EXPECT_EQ(faulty.OpenCount(), 0);
}

class FailingCodePage final : public platform::CodePage {
 public:
  std::string ToUtf8(const std::string&) override { throw FileError("disk"); }
  std::string FromUtf8(const std::string& text) override { return text; }
};

TEST_F(Oe5FilterTest, GetSubItemTurnsAFileErrorIntoAMessageBoxAndANullString) {
  FailingCodePage failing;
  const platform::Services failing_services{registry, files, temp,       environment,
                                            failing,  ui,    diagnostics};
  filter = NewFilter(&failing_services);
  EXPECT_EQ(filter->GetSubItem(kSubItemMessageFile), std::nullopt);
  EXPECT_EQ(ui.transcript().at(0),
            "message: Import messages: File I/O Error. Hard disk can be full.");
}

TEST(Oe5StoreRoot, IsTheCurrentIdentitysStoreRootValue) {
  FakeServices s;
  s.environment.Set("APPDATA", "C:\\Users\\ann\\AppData");
  s.environment.Set("LONG", std::string(300, 'L'));
  const std::string data(782, 'x');
  const struct {
    std::vector<std::pair<std::string, std::string>> values;  // in enumeration order
    std::string root;
    bool last_user_id = true;
  } cases[] = {
      {{{"Other", "1"}, {"STORE ROOT", "D:\\OE"}}, "D:\\OE"},
      {{{"Store Root", "%APPDATA%\\Identities\\"}}, "C:\\Users\\ann\\AppData\\Identities"},
      {{{"store root", "C:\\Mail\\\\"}}, "C:\\Mail\\"},
      {{{"store root", "%NOPE%\\Mail"}}, "%NOPE%\\Mail"},
      {{{"store root", "%LONG%\\"}}, "%LONG%"},  // an expansion too long is not used
      {{{"store root", ""}}, ""},
      {{{std::string(80, 'n'), "1"}, {"store root", "C:\\Mail"}}, ""},
      {{{"Big", data + "x"}, {"store root", "C:\\Mail"}}, ""},
      {{{std::string(79, 'n'), data}, {"store root", "C:\\Mail"}}, "C:\\Mail"},
      {{{"store root", "C:\\Mail"}}, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.values.back().second);
    s.registry = platform::MemoryRegistry();
    if (c.last_user_id) s.registry.SetString(kOe5IdentitiesKey, kOe5LastUserValue, kIdentity);
    for (const auto& [name, value] : c.values) s.registry.SetString(kIdentityKey, name, value);
    EXPECT_EQ(FindStoreRoot(s.registry, s.environment), c.root);
    EXPECT_EQ(s.registry.OpenKeyCount(), 0u);
  }
}

// A registry folder without a usable "Folders.dbx" brings the question, whose Yes shows the
// location dialog with the filter's browse title. Each load runs under the wait cursor.
TEST_F(Oe5FilterTest, RegistryFolderFirstThenQuestionAndLocationDialog) {
  files.AddFile("C:\\Bad\\Folders.dbx", std::string(100, '\0'));
  registry.SetString(kIdentityKey, "store root", "C:\\Bad\\");
  ui.AnswerMessageBox(platform::kIdYes);
  ui.AnswerLocation(kRoot);
  const int cursor = ui.wait_cursor_count();
  EXPECT_TRUE(filter->IsSystemFound());
  EXPECT_EQ(ui.wait_cursor_count(), cursor + 2);
  EXPECT_TRUE(AskedToBrowseAgain());
  EXPECT_TRUE(Shown("shown 1005: C:\\Bad"));
  EXPECT_TRUE(Shown("browse: Please select location for Outlook Express 5"));
}

}  // namespace
}  // namespace kv::testing
