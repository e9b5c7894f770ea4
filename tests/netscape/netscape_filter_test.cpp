// The Netscape filter through the dispatch interface over in-memory services: finding the mail
// directory, walking it into the folder list, and the items a walk gives, with their folder, state
// and bytes, through the filter's one temporary message file.

#include <gtest/gtest.h>

#include "netscape/netscape_folder_walk.h"
#include "netscape/netscape_profile.h"
#include "support/filter_fixture.h"
#include "support/golden.h"
#include "support/netscape_store_writer.h"

namespace kv::testing {
namespace {

const std::string kDir = "C:\\Netscape\\Users\\me\\Mail";
const std::string kRoot = "Netscape Messenger 4.7";

NsMessage Message(int n, std::uint16_t kind = kNsKindIncoming, std::uint32_t flags = kNsFlagRead) {
  return {NsTestMessage(n), flags, kind};
}
std::string Stored(int n) { return kNsFromLine + NsTestMessage(n); }

// Inbox (a read and an unread message) with a subfolder Old, Inbox2 (whose name continues Inbox's),
// Drafts with an unsent message, Sent with a sent one, an empty Trash.
NsMailDirectory SampleStore() {
  NsMailDirectory store;
  store.folders = {{"Inbox", {Message(1), Message(2, kNsKindIncoming, 0)}, {{"Old", {Message(3)}}}},
                   {"Inbox2", {Message(4)}},
                   {"Drafts", {Message(5, kNsKindOutgoing, 0)}},
                   {"Sent", {Message(6, kNsKindOutgoing)}},
                   {"Trash"}};
  return store;
}

class NetscapeTest : public FilterTest {
 protected:
  NetscapeTest() : FilterTest("netscape") {}
  // IsSystemFound with the location dialog answered (the registry is empty).
  bool Find() {
    ui.AnswerLocation(kDir);
    return filter->IsSystemFound();
  }
  // GoFirst with the folder dialog answered: `start` below the root (nullopt: the root item).
  bool First(std::optional<std::string> start = std::nullopt, bool skip_empty = true) {
    AnswerFolders(std::move(start), skip_empty);
    return filter->GoFirst();
  }
  // Under the heading `title`: the walk from `start` and the reports made since the last call.
  std::string Walked(const std::string& title, std::optional<std::string> start = std::nullopt,
                     bool skip_empty = true) {
    ui.AnswerLocation(kDir);
    return FilterTest::Walked(title, std::move(start), skip_empty);
  }
  std::string Locate() {
    std::string found = NetscapeProfileLocator(registry, files);
    EXPECT_EQ(registry.OpenKeyCount(), 0u) << "every key is closed again";
    return found;
  }
};

// The preference file's "mail.directory" wins over the install directory's Users folder when it
// names a folder; the server's popstatePath folder wins over both.
TEST_F(NetscapeTest, LocatorTriesItsCandidatesInOrder) {
  const std::string users = "C:\\Program Files\\Netscape\\Communicator\\Users\\";
  const std::string server_key = std::string(kNetscapeUsersKey) + "\\me\\servers\\pop.x";
  const std::string long_dir = "D:\\" + std::string(300, 'd');
  files.AddDirectory(users + "me\\Mail");
  files.AddDirectory("E:\\Mail Dir");
  files.AddDirectory("C:\\Pref");
  files.AddFile("C:\\Top\\Users\\me\\Mail", "a file, not a folder");
  SampleStore().AddTo(files, long_dir);
  EXPECT_EQ(Locate(), "") << "no biff key: nothing else is tried";
  registry.SetString(kNetscapeBiffKey, "CurrentUser", "me");
  for (const char* install : {"", "NoBackslash", "C:\\Top\\Program"}) {
    if (*install != '\0') registry.SetString(kNetscapeMainKey, "Install Directory", install);
    EXPECT_EQ(Locate(), "") << install;
  }
  registry.SetString(kNetscapeMainKey, "Install Directory",
                     "C:\\Program Files\\Netscape\\Communicator\\Program");
  EXPECT_EQ(Locate(), users + "me\\Mail");
  const std::pair<const char*, const char*> prefs[] = {
      {"x user_pref(\"MAIL.Directory\", \"C:\\\\PREF\");", "c:\\\\pref"},
      {"x \"mail.directory\" \"C:\\Pref\"", "c:\\pref"},
      // The key at the very start does not count; no closing quote.
      {"\"mail.directory\", \"C:\\\\Pref\");", nullptr},
      {"x \"mail.directory\", \"C:\\\\Pref", nullptr},
      {"x \"mail.directory\", \"C:\\\\Elsewhere\"", nullptr},  // no such folder
      {"x \"mail.directory\"", nullptr},
      // Lower case, the doubled backslashes kept.
      {"// x\nuser_pref(\"mail.directory\", \"E:\\\\Mail Dir\");", "e:\\\\mail dir"},
  };
  for (const auto& [text, expected] : prefs) {
    files.AddFile(users + "me\\prefs.js", text);
    EXPECT_EQ(Locate(), expected ? expected : users + "me\\Mail") << text;
  }
  registry.SetString(std::string(kNetscapeUsersKey) + "\\me", "defaultServer", "pop.x");
  registry.SetString(server_key, "popstatePath", "D:\\Gone\\popstate.dat");
  EXPECT_EQ(Locate(), "e:\\\\mail dir") << "the popstatePath's folder is gone";
  registry.SetString(server_key, "popstatePath", long_dir + "\\popstate.dat");
  EXPECT_EQ(Locate(), long_dir) << "a long value is read whole";
  EXPECT_TRUE(filter->IsSystemFound());
  EXPECT_FALSE(Shown("browse:")) << "the directory found is taken without asking";
}

// Mailboxes with summaries are folders, their subfolder directories below them. No summary for
// Trash and Folder (whose summary is a directory), a dot in Old.2000, a file named like a
// subfolder directory, a directory without extension, an empty mailbox, subfolder directories
// without their mailbox (one empty); nesting is bounded; an empty or missing directory gives the
// root alone.
TEST_F(NetscapeTest, FolderWalkTakesMailboxesWithSummariesAndTheirSubfolders) {
  for (const char* name :
       {"Inbox", "Inbox.snm", "Work", "Work.snm", "Work.SBD\\Projects", "Work.SBD\\Projects.snm",
        "Work.SBD\\Projects.sbd\\2024", "Work.SBD\\Projects.sbd\\2024.snm", "Trash", "Old.2000",
        "Old.2000.snm", "Sent", "Sent.snm", "Sent.sbd", "Folder", "Folder.snm\\inside", "Dir.snm",
        "Gone.sbd\\Kept", "Gone.sbd\\Kept.snm"})
    files.AddFile(kDir + "\\" + name, "x");
  files.AddFile(kDir + "\\Unsent Messages", "");
  files.AddDirectory(kDir + "\\Dir");
  files.AddDirectory(kDir + "\\Void.sbd");
  std::string deep = "C:\\Deep";
  for (int level = 0; level < kMaxNetscapeFolderDepth + 5; ++level, deep += "\\F.sbd") {
    files.AddFile(deep + "\\F", "x");
    files.AddFile(deep + "\\F.snm", "x");
  }
  files.AddDirectory("C:\\Empty");
  std::string text;
  for (const char* dir : {kDir.c_str(), "C:\\Deep", "C:\\Empty", "C:\\Missing"}) {
    FolderList list;
    const bool found = BuildNetscapeFolderList(files, diagnostics, dir, kRoot, list);
    text += "## " + std::string(dir) + (found ? ": " : ": nothing found, ") +
            std::to_string(list.Count()) + " records\n";
    for (std::size_t i = 0; i < list.Count() && i < 8; ++i)
      text += list[i].path + " <- " + list[i].file + "\n";
    text += DiagnosticsText(diagnostics.entries());
    diagnostics.Clear();
  }
  ExpectGolden(text, "netscape/folder-walk.txt");
}

// Every message as stored with its folder and state; an empty folder kept is one folder item. The
// plain prefix takes in the sibling Inbox2; skip-empty drops a start folder's only item.
TEST_F(NetscapeTest, WalkHandsOverEveryMessageAsStoredWithItsFolderAndState) {
  SampleStore().AddTo(files, kDir);
  ExpectGolden(Walked("the root item, empty folders kept", std::nullopt, false) +
                   Walked("Inbox", "Inbox") + Walked("Inbox/Old", "Inbox/Old") +
                   Walked("Trash", "Trash") + Walked("Trash, empty folders kept", "Trash", false),
               "netscape/walks.txt");
  ASSERT_TRUE(Find());
  AnswerFolders(std::nullopt, /*skip_empty=*/false);
  const std::vector<WalkedItem> items = Walk();
  for (const WalkedItem& item : items)
    EXPECT_EQ(item.file, items[0].file) << "one temporary file, named even for a folder item";
  EXPECT_TRUE(items[0].file->starts_with("C:\\TEMP\\RFC"));
  // A second GoFirst starts over, whatever the first left open.
  ASSERT_TRUE(First("Inbox"));
  ASSERT_TRUE(First("Sent"));
  EXPECT_EQ(Current().message, Stored(6));
  EXPECT_FALSE(filter->GoNext());
}

TEST_F(NetscapeTest, TemporaryFileLivesAsLongAsTheObject) {
  std::string big = NsTestMessage(7);  // more than twice the copy buffer
  for (int i = 0; big.size() < 2 * 524288 + 17; ++i) big += "line " + std::to_string(i) + "\r\n";
  NsMailDirectory store = SampleStore();
  store.folders[2].messages.insert(store.folders[2].messages.begin(), {big});
  store.AddTo(files, kDir);
  const std::string path = *filter->GetSubItem(kSubItemMessageFile);
  EXPECT_EQ(files.Contents(path), "") << "made empty when the object is created";
  ASSERT_TRUE(Find());
  ASSERT_TRUE(First());
  EXPECT_EQ(files.Contents(path), kNsFromLine + big);
  ASSERT_TRUE(filter->GoNext());
  EXPECT_EQ(files.Contents(path), Stored(5)) << "nothing of the longer message is left";
  // The host may take the file away; the next message makes it anew under the same name.
  files.Delete(path);
  ASSERT_TRUE(filter->GoNext());
  EXPECT_EQ(files.Contents(path), Stored(1));
  EXPECT_NE(*NewFilter()->GetSubItem(kSubItemMessageFile), path);
}

// Summary entries that point outside the mailbox, a mailbox gone missing: the message leaves no
// file behind, the walk goes on, the loss is said.
TEST_F(NetscapeTest, WhatTheStoreDoesNotHoldIsSkippedAndReported) {
  auto [mailbox, entries] = NsMailbox({Message(1), Message(2), Message(3)});
  entries[0].position = static_cast<std::uint32_t>(mailbox.size()) + 10;  // beyond the end
  entries[1].length += 5;  // takes in the start of message 3
  entries[2].length += 1;  // runs past the end of the file
  SnmSummary summary;
  summary.folder_name = "Inbox";
  summary.messages = entries;
  files.AddFile(kDir + "\\Inbox", mailbox);
  files.AddFile(kDir + "\\Inbox.snm", SnmFile(summary));
  std::string text = Walked("entries outside the mailbox") + "## the mailbox gone after Find\n";
  ASSERT_TRUE(Find());
  files.Delete(kDir + "\\Inbox");
  AnswerFolders();
  text += WalkText(Walk());
  ExpectGolden(text + DiagnosticsText(diagnostics.entries()), "netscape/damaged-mailbox.txt");
}

}  // namespace
}  // namespace kv::testing
