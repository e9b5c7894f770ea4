#include "host/folder_names.h"

#include <gtest/gtest.h>

#include <set>

#include "host/info_command.h"
#include "support/golden.h"

namespace kv::host {
namespace {

// Each folder name as a Maildir++ directory (the inbox being "Inbox"), as the file name of an mbox
// and of an .eml message, and in modified UTF-7 as IMAP defines it.
TEST(FolderNamesTest, EachOutputSpellsNamesAsTheGoldenFileShows) {
  const char* const names[] = {
      "Inbox", "INBOX", "Inbox/Old", "Inboxes", "Sent Items", "Tom & Jerry", "Old.MBOX",
      "000001.eml", "A/B.old/~c", "/A//B/", "Entw\xC3\xBCrfe", "Gel\xC3\xB6scht",
      // The example of the IMAP definition; a character outside the BMP (a surrogate pair);
      // invalid UTF-8 (U+FFFD).
      "~peter/mail/\xE5\x8F\xB0\xE5\x8C\x97/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
      "\xF0\x9F\x93\xA7", "a\xFFz",
      // Hostile names: none, dots, climbing levels, control characters, IMAP's "&" and "~".
      "", ".", "..", "../..", "a\tb", "a\nb\x01/&~"};
  auto quoted = [](std::string_view text) { return "\"" + testing::Escaped(text) + "\""; };
  std::string text;
  for (const char* name : names) {
    text += quoted(name) + ": maildir " + quoted(MaildirFolderDirectory(name, "Inbox")) +
            ", mbox " + quoted(SafeFileName(name, ".mbox")) + ", eml " +
            quoted(SafeFileName(name, ".eml")) + ", utf7 " + quoted(ModifiedUtf7(name)) + "\n";
  }
  testing::ExpectGolden(text, "host/folder-names.txt");
  EXPECT_EQ(MaildirFolderDirectory("Root/Posteingang/x", "Root/Posteingang"), ".INBOX.x");
  EXPECT_EQ(FolderLevels("/a//b/"), (std::vector<std::string>{"a", "b"}));
}

// Names too long for one directory entry: accented names grow about 2.7 times in modified UTF-7,
// and Maildir++ puts every level of a nested folder into one name. Each is shortened the same way
// every time, stays unique, and a folder shares its shortened levels with the folders below it.
TEST(FolderNamesTest, LongMaildirNamesAreShortenedStablyAndUniquely) {
  std::string accented;
  for (int i = 0; i < 10; ++i) accented += "\xC3\xA9t\xC3\xA9";  // "été", 11 bytes encoded
  const std::string deep = "A/" + accented + "/" + accented + "2/" + accented + "3";
  std::vector<std::string> paths;
  for (std::string path = deep;; path += "/" + accented) {
    paths.push_back(path);
    if (paths.size() == 12) break;
  }
  std::set<std::string> names;
  std::string previous;
  for (const std::string& path : paths) {
    bool shortened = false;
    const std::string name = MaildirFolderDirectory(path, "Inbox", &shortened);
    EXPECT_TRUE(shortened) << path;
    EXPECT_LE(name.size(), 255u) << name;
    EXPECT_EQ(name, MaildirFolderDirectory(path, "Inbox")) << "the same on every run";
    EXPECT_TRUE(names.insert(name).second) << name;
    if (names.size() <= 2) {
      EXPECT_TRUE(previous.empty() || name.starts_with(previous + ".")) << previous << " " << name;
    }
    previous = name;
  }
  EXPECT_TRUE(MaildirFolderDirectory(deep, "Inbox").starts_with(".A.&AOk-t&AOkA6Q-t"));
  bool shortened = true;
  MaildirFolderDirectory("A/" + accented, "Inbox", &shortened);
  EXPECT_FALSE(shortened) << "names that fit are left whole";
  // Two names alike in their first bytes stay apart.
  EXPECT_NE(MaildirFolderDirectory("A/" + accented + "/" + accented + "x", "Inbox"),
            MaildirFolderDirectory("A/" + accented + "/" + accented + "y", "Inbox"));

  const std::string long_name(300, 'n');
  const std::string file = SafeFileName(long_name, ".mbox");
  EXPECT_EQ(file.size(), 209u);
  EXPECT_EQ(file, SafeFileName(long_name, ".mbox"));
  EXPECT_NE(file, SafeFileName(long_name + "x", ".mbox"));
  EXPECT_EQ(SafeFileName(std::string(250, 'n'), ".eml").size(), 250u);
}

// kvimport info's tree: ancestors the walk did not name, states counted, columns by characters.
TEST(StoreSummaryTest, TreeWithStatesAndTotals) {
  StoreSummary summary;
  summary.Add("A/B/C", true, 0x2 | 0x4, 10);  // received, unread
  summary.Add("A/B/C", true, 0x1, 20);        // unsent
  summary.Add("A/B/C", true, 0x2, std::nullopt);
  summary.Add("Priv\xC3\xA9", false, 0, std::nullopt);
  summary.Add("Sent", true, 0, 2048);
  EXPECT_EQ(
      summary.Text(),
      "A/\n"
      "  B/\n"
      "    C                               2 messages, 30 B, 1 unread, 1 unsent, 1 unreadable\n"
      "Priv\xC3\xA9                               0 messages, 0 B\n"
      "Sent                                1 message, 2.0 KB, 1 sent\n"
      "total: 3 folders, 3 messages, 2.0 KB, 1 unread, 1 unsent, 1 sent, 1 unreadable\n");
}

}  // namespace
}  // namespace kv::host
