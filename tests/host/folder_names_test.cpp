#include "host/folder_names.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kv::host
