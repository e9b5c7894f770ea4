#include "host/folder_names.h"

#include <gtest/gtest.h>

#include <set>

#include "host/info_command.h"

namespace kv::host {
namespace {

TEST(FolderNamesTest, ModifiedUtf7AsImapDefines) {
  EXPECT_EQ(ModifiedUtf7("Sent Items"), "Sent Items");
  EXPECT_EQ(ModifiedUtf7("Tom & Jerry"), "Tom &- Jerry");
  EXPECT_EQ(ModifiedUtf7("Entw\xC3\xBC"
                         "rfe"),
            "Entw&APw-rfe");
  // The examples of the IMAP definition.
  EXPECT_EQ(
      ModifiedUtf7("~peter/mail/\xE5\x8F\xB0\xE5\x8C\x97/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"),
      "~peter/mail/&U,BTFw-/&ZeVnLIqe-");
  EXPECT_EQ(ModifiedUtf7("\xF0\x9F\x93\xA7"), "&2D3c5w-");  // outside the BMP: a surrogate pair
  EXPECT_EQ(ModifiedUtf7("a\xFFz"), "a&,,0-z");             // invalid UTF-8: U+FFFD
  EXPECT_EQ(ModifiedUtf7("a\tb"), "a&AAk-b");
}

TEST(FolderNamesTest, MaildirDirectories) {
  EXPECT_EQ(MaildirFolderDirectory("Inbox", "Inbox"), "");
  EXPECT_EQ(MaildirFolderDirectory("INBOX", "Inbox"), "");
  EXPECT_EQ(MaildirFolderDirectory("Inbox/Old", "Inbox"), ".INBOX.Old");
  EXPECT_EQ(MaildirFolderDirectory("Inboxes", "Inbox"), ".Inboxes");
  EXPECT_EQ(MaildirFolderDirectory("Sent Items", "Inbox"), ".Sent Items");
  EXPECT_EQ(MaildirFolderDirectory("A/B.old/~c", "Inbox"), ".A.B_old._c");
  EXPECT_EQ(MaildirFolderDirectory("/A//B/", "Inbox"), ".A.B");
  EXPECT_EQ(MaildirFolderDirectory("Root/Posteingang/x", "Root/Posteingang"), ".INBOX.x");
  EXPECT_EQ(MaildirFolderDirectory("Gel\xC3\xB6scht", "Inbox"), ".Gel&APY-scht");
  // Hostile names: hierarchy dots, climbing levels, control characters, IMAP's "&" and "~".
  EXPECT_EQ(MaildirFolderDirectory("../..", "Inbox"), ".__.__");
  EXPECT_EQ(MaildirFolderDirectory("a\nb\x01/&~", "Inbox"), ".a&AAo-b&AAE-.&-~");
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

TEST(FolderNamesTest, SafeFileNames) {
  EXPECT_EQ(SafeFileName("Inbox", ".mbox"), "Inbox");
  EXPECT_EQ(SafeFileName(".", ".mbox"), "_");
  EXPECT_EQ(SafeFileName("..", ".mbox"), "__");
  EXPECT_EQ(SafeFileName("", ".mbox"), "_");
  EXPECT_EQ(SafeFileName("a\nb", ".mbox"), "a_b");
  EXPECT_EQ(SafeFileName("Old.MBOX", ".mbox"), "Old.MBOX_");
  EXPECT_EQ(SafeFileName("000001.eml", ".eml"), "000001.eml_");
  EXPECT_EQ(FolderLevels("/a//b/"), (std::vector<std::string>{"a", "b"}));
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
