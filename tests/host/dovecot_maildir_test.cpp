// Reads a Maildir written by kvimport with the mail server's own administration tool, when it is
// installed (Debian package dovecot-core); skipped otherwise.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/kvimport_run.h"
#include "support/oe4_store_writer.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;
using kv::testing::Oe4Message;
using kv::testing::Oe4TestMessage;

// The user the server's tool drops to when the test runs as root (it refuses root).
constexpr unsigned kNobody = 65534;

TEST(DovecotMaildirTest, TheServerSeesEveryFolderMessageAndFlag) {
  if (std::system("command -v doveadm >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "doveadm (Debian package dovecot-core) is not installed";
  }
  kv::testing::TempDir dir;
  kv::testing::Oe4Store store;
  std::uint32_t inbox = store.AddFolder(
      "Inbox", 0,
      {Oe4Message{Oe4TestMessage(1), kv::testing::kOe4Received},
       Oe4Message{Oe4TestMessage(2), kv::testing::kOe4Received | kv::testing::kOe4Unread}});
  store.AddFolder("Old", inbox, {Oe4Message{Oe4TestMessage(3), 0}}, "Old");
  store.AddFolder(
      "Entw\xFC"
      "rfe",
      0, {Oe4Message{Oe4TestMessage(4), kv::testing::kOe4Draft}}, "Drafts");
  store.AddFolder("Sent.Items", 0, {Oe4Message{Oe4TestMessage(5), 0}}, "Sent");
  store.AddFolder("Empty", 0, {});
  store.WriteTo(dir.path() / "store");

  const fs::path mail = dir.path() / "mail";
  ASSERT_EQ(
      kv::testing::RunKvimportOnStore(
          dir, "import --filter oe4 --quiet --keep-empty --to 'maildir:" + mail.string() + "'"),
      "");

  const bool root = ::geteuid() == 0;
  const unsigned uid = root ? kNobody : ::geteuid();
  const unsigned gid = root ? kNobody : ::getegid();
  fs::create_directories(dir.path() / "control");
  if (root) {
    fs::permissions(dir.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    ASSERT_EQ(std::system(("chown -R " + std::to_string(uid) + ":" + std::to_string(gid) + " '" +
                           mail.string() + "' '" + (dir.path() / "control").string() + "'")
                              .c_str()),
              0);
  }
  const fs::path config = dir.path() / "dovecot.conf";
  std::ofstream(config) << "mail_location = maildir:" << mail.string()
                        << ":INDEX=MEMORY:CONTROL=" << (dir.path() / "control").string() << "\n"
                        << "base_dir = " << (dir.path() / "run").string() << "\n"
                        << "state_dir = " << (dir.path() / "state").string() << "\n"
                        << "ssl = no\nlog_path = /dev/stderr\n"
                        << "mail_uid = " << uid << "\nmail_gid = " << gid << "\n"
                        << "first_valid_uid = 0\nfirst_valid_gid = 0\n";
  const std::string doveadm = "HOME='" + dir.path().string() +
                              "' USER=" + (root ? std::string("nobody") : std::to_string(uid)) +
                              " doveadm -c '" + config.string() + "' ";

  EXPECT_EQ(kv::testing::CommandOutput(doveadm + "mailbox list | sort"),
            "Empty\nEntw\xC3\xBC"
            "rfe\nINBOX\nINBOX.Old\nSent_Items\n");
  std::string fetched =
      kv::testing::CommandOutput(doveadm + "fetch 'mailbox flags hdr.subject' ALL");
  for (const char* expected :
       {"mailbox: INBOX\nflags: \\Seen \\Recent\nhdr.subject: Message 1\n",
        "mailbox: INBOX\nflags: \\Recent\nhdr.subject: Message 2\n",
        "mailbox: INBOX.Old\nflags: \\Seen \\Recent\nhdr.subject: Message 3\n",
        "mailbox: Entw\xC3\xBC"
        "rfe\nflags: \\Seen \\Draft \\Recent\nhdr.subject: Message 4\n",
        "mailbox: Sent_Items\nflags: \\Seen \\Recent\nhdr.subject: Message 5\n"}) {
    EXPECT_NE(fetched.find(expected), std::string::npos) << expected << "in\n" << fetched;
  }
}

}  // namespace
}  // namespace kv::host
