// The Outlook Express 5 filter over in-memory services on stores the test writer builds: finding
// the store, the items a host sees with their folders and states, what ends a folder or the walk.
// What the walks give (each item's folder, status, state and bytes, and the reports) is kept in
// tests/golden/oe5/.

#include <gtest/gtest.h>

#include <functional>

#include "oe5/oe5_store_discovery.h"
#include "support/dbx_writer.h"
#include "support/filter_fixture.h"
#include "support/golden.h"

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

DbxFolder& Folder(DbxStore& store, const std::string& name) {
  return *std::find_if(store.folders.begin(), store.folders.end(),
                       [&name](const DbxFolder& folder) { return folder.name == name; });
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

  // Under the heading `title`: a new object's walk from `start` (below the root item, or the root
  // item) and the reports it made, as text.
  std::string Walked(const std::string& title, std::optional<std::string> start = {},
                     bool skip_empty = true) {
    filter = NewFilter();
    diagnostics.Clear();
    return FilterTest::Walked(title, std::move(start), skip_empty);
  }

  DbxStore store = DbxLocalStore();
};

// The start folder's path is a plain prefix: a sibling whose name continues it is walked too. A
// folder item keeps the state and the file of the message before it.
TEST_F(Oe5FilterTest, WalkFromTheChosenFolderWithOrWithoutEmptyFolders) {
  ExpectGolden(Walked("the root item") + Walked("Inbox", "Inbox") +
                   Walked("Inbox, empty folders kept", "Inbox", false) +
                   Walked("Inbox/Old, empty folders kept", "Inbox/Old", false),
               "oe5/walk-from-a-folder.txt");
}

// Sent's messages in walk order: a message without flags, or whose header block does not end,
// keeps the values of the one before (GoFirst starts with "received"). Only a status header
// marks a message (status 2), never the folder item after it.
TEST_F(Oe5FilterTest, StateFromTheFlagsTheReturnPathAndTheStatusHeader) {
  const struct {
    std::string text;  // headers before DbxTestMessage's, or "!" and the whole text
    std::optional<std::uint32_t> flags;
    bool indirect = false;
  } cases[] = {
      {"!Subject: no end\r\nreturn-path:\r\n", kDbxRead},
      {kReturnPath, 0},
      {kReturnPath, kDbxRead | kDbxUnsent},
      {kReturnPath, std::nullopt},
      {"", kDbxUnsent | kDbxRead},
      {"!Subject: no end\r\n", std::nullopt},
      {"", 0},
      {"", kDbxUnsent, true},
      {kReturnPath, 0x4080, true},
      {"", kDbxRead},
      {"X-KVNorvale-StatusMsg: 1\r\n", kDbxRead},
  };
  std::vector<DbxMessage>& messages = Folder(store, "Sent").messages;
  messages.clear();
  for (const auto& c : cases) {
    messages.push_back(Message(static_cast<int>(messages.size()), c.flags.value_or(0), c.text));
    if (c.text.starts_with("!")) messages.back().text = c.text.substr(1);
    messages.back().flags_field = c.flags.has_value();
    messages.back().flags_indirect = c.indirect;
  }
  PutStore();
  ExpectGolden(Walked("Sent, empty folders kept", "Sent", false), "oe5/states.txt");
}

// A record that cannot give its text ends its folder and says how many messages that left; a
// missing file leaves only the folder item; an index that lists more than the folder list counts
// is cut there. The walk goes on with the next folder.
TEST_F(Oe5FilterTest, WhatEndsAFolderIsReported) {
  const struct {
    const char* damage;
    std::function<void(DbxStore&)> change;
    const char* start;
  } cases[] = {
      {"Inbox's second record has no size field",
       [](DbxStore& s) { Folder(s, "Inbox").messages[1].size_field = false; }, "Inbox"},
      {"Inbox's second record has a size of 0",
       [](DbxStore& s) { Folder(s, "Inbox").messages[1].extra_fields = {DbxField::Word(0x11, 0)}; },
       "Inbox"},
      {"Inbox's second record names no text",
       [](DbxStore& s) { Folder(s, "Inbox").messages[1].text.clear(); }, "Inbox"},
      {"Inbox.dbx missing", [](DbxStore& s) { Folder(s, "Inbox").file_on_disk = false; }, "Inbox"},
      {"Sent's index of 5 under a count of 3",
       [](DbxStore& s) {
         for (int n = 7; n < 11; ++n) Folder(s, "Sent").messages.push_back(Message(n, kDbxRead));
         Folder(s, "Sent").count = 3;
         s.shape = DbxIndexShape::kEntrySubtrees;
         s.fanout = 2;
       },
       "Sent"},
      {"Sent's index of 5 under a count of 0",
       [](DbxStore& s) {
         for (int n = 7; n < 11; ++n) Folder(s, "Sent").messages.push_back(Message(n, kDbxRead));
         Folder(s, "Sent").count = 0;
       },
       "Sent"},
  };
  Folder(store, "Inbox").messages.push_back(Message(6, kDbxRead));
  const DbxStore whole = store;
  std::string text;
  for (const auto& c : cases) {
    store = whole;
    c.change(store);
    files.Delete(std::string(kRoot) + "\\Inbox.dbx");
    PutStore();
    text += Walked(std::string(c.damage) + ": from " + c.start, c.start, false);
  }
  ExpectGolden(text, "oe5/damaged-folders.txt");
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

// A registry folder without a usable "Folders.dbx" is tried first: the question follows, and the
// location dialog proposes that folder.
TEST_F(Oe5FilterTest, RegistryFolderFirstThenQuestionAndLocationDialog) {
  files.AddFile("C:\\Bad\\Folders.dbx", std::string(100, '\0'));
  registry.SetString(kIdentityKey, "store root", "C:\\Bad\\");
  ui.AnswerMessageBox(platform::kIdYes);
  ui.AnswerLocation(kRoot);
  EXPECT_TRUE(filter->IsSystemFound());
  EXPECT_TRUE(AskedToBrowseAgain());
  EXPECT_TRUE(Shown("shown 1005: C:\\Bad"));
}

}  // namespace
}  // namespace kv::testing
