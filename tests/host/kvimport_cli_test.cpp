// Runs the kvimport program on stores built here and checks its output, files and exit codes.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "host/digest.h"
#include "host/exit_codes.h"
#include "support/kvimport_run.h"
#include "support/oe4_store_writer.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;
using kv::testing::FilesBelow;
using kv::testing::KvimportRun;
using kv::testing::Oe4Message;
using kv::testing::Oe4Store;
using kv::testing::Oe4TestMessage;
using kv::testing::ReadFile;

// Tue, 3 Aug 1999 08:11:00 UTC: the date of Oe4TestMessage(1).
constexpr std::int64_t kMessage1Time = 933667860;

class KvimportTest : public ::testing::Test {
 protected:
  KvimportRun Kvimport(const std::string& args, const std::string& shell = "",
                       const std::string& stdout_path = "") {
    return kv::testing::RunKvimport(dir_, args, shell, stdout_path);
  }

  std::string Store() const { return (dir_.path() / "store").string(); }
  std::string Path(const std::string& relative) const { return (dir_.path() / relative).string(); }
  // Files the filter left in the temporary folder (the host must have removed them all).
  std::vector<fs::path> LeftoverTempFiles() const { return FilesBelow(dir_.path() / "tmp"); }

  // Inbox: three messages, the second skipped by its index flag, the third unread;
  // Inbox/Old: one sent message; Drafts: one unsent message; Empty: none.
  void WriteSampleStore() {
    Oe4Store store;
    std::uint32_t inbox = store.AddFolder(
        "Inbox", 0,
        {Oe4Message{message1_, kv::testing::kOe4Received},
         Oe4Message{Oe4TestMessage(2), kv::testing::kOe4Received | kv::testing::kOe4Deleted},
         Oe4Message{Oe4TestMessage(3, "X-Note: From line follows\r\n") + "From me\r\n",
                    kv::testing::kOe4Received | kv::testing::kOe4Unread}});
    store.AddFolder("Old", inbox, {Oe4Message{Oe4TestMessage(4), 0}}, "Old mail");
    store.AddFolder("Drafts", 0, {Oe4Message{Oe4TestMessage(5), kv::testing::kOe4Draft}});
    store.AddFolder("Empty", 0, {});
    store.WriteTo(dir_.path() / "store");
  }

  kv::testing::TempDir dir_;
  const std::string message1_ = Oe4TestMessage(1);
};

TEST_F(KvimportTest, HelpAndUsageErrors) {
  KvimportRun help = Kvimport("--help");
  EXPECT_EQ(help.exit_code, kExitOk);
  EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
  KvimportRun version = Kvimport("-V");
  EXPECT_EQ(version.exit_code, kExitOk);
  EXPECT_TRUE(version.out.starts_with("kvimport ")) << version.out;

  // A command line the parser refuses (its messages: command_line_test), and one it takes but
  // that names no store.
  for (const char* args : {"--bogus", "list --filter oe4"}) {
    KvimportRun run = Kvimport(args);
    EXPECT_EQ(run.exit_code, kExitUsage) << args;
    EXPECT_TRUE(run.err.starts_with("kvimport: ")) << args << ": " << run.err;
  }
}

TEST_F(KvimportTest, StoreNotFoundSaysWhatToDo) {
  std::ofstream(Path("file")) << "x";
  fs::create_directories(Store());
  const std::pair<std::string, std::string> cases[] = {
      {Path("missing"), "--store " + Path("missing") + " does not exist"},
      {Path("file"), "--store " + Path("file") + " is a file, not a folder"},
      {Store(), "no oe4 store in " + Store() +
                    ": the filter looks there for folders.nch or .mbx/.idx mailbox pairs"},
  };
  for (const auto& [store, message] : cases) {
    KvimportRun run = Kvimport("import -f oe4 -s " + store + " -t maildir:" + Path("m"));
    EXPECT_EQ(run.exit_code, kExitStoreNotFound) << store;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(Path("m"))) << "nothing is written when there is no store";
  }

  // A folder option naming no folder of the store is refused with the store's folders, before
  // anything is written.
  WriteSampleStore();
  const std::string folders =
      "the store has no such folder; its folders are: Inbox, Inbox/Old, "
      "Drafts, Empty\n";
  KvimportRun unknown = Kvimport("list --filter oe4 --store " + Store() + " --start Nowhere");
  EXPECT_EQ(unknown.exit_code, kExitUsage);
  EXPECT_NE(unknown.err.find("kvimport: --start Nowhere: " + folders), std::string::npos)
      << unknown.err;
  EXPECT_TRUE(unknown.out.empty());
  KvimportRun inbox =
      Kvimport("import -f oe4 -s " + Store() + " -t maildir:" + Path("m") + " --inbox Posteingang");
  EXPECT_EQ(inbox.exit_code, kExitUsage);
  EXPECT_NE(inbox.err.find("kvimport: --inbox Posteingang: " + folders), std::string::npos)
      << inbox.err;
  EXPECT_FALSE(fs::exists(Path("m")));
}

TEST_F(KvimportTest, ListDescribesEachItemAndRemovesTheFiles) {
  WriteSampleStore();
  KvimportRun run = Kvimport("list --filter oe4 --store " + Store() + " --keep-empty");
  ASSERT_EQ(run.exit_code, kExitOk) << run.err;
  const std::vector<nlohmann::json> items = kv::testing::JsonLines(run.out);
  ASSERT_EQ(items.size(), 5u) << run.out;

  EXPECT_EQ(items[0]["folder"], "Inbox");
  EXPECT_EQ(items[0]["state"], 2);
  kv::testing::TempDir scratch;
  const std::string padded = message1_ + std::string((4 - message1_.size() % 4) % 4, '\0');
  FileDigest expected = DigestFile(scratch.Write("m", padded).string()).value();
  EXPECT_EQ(items[0]["message"]["size"], expected.size) << "list keeps the NUL padding";
  EXPECT_EQ(items[0]["message"]["sha256"], expected.sha256_hex);
  EXPECT_EQ(items[2]["folder"], "Inbox/Old");
  EXPECT_EQ(items[4]["folder"], "Empty");
  EXPECT_EQ(items[4]["status"], 1);
  EXPECT_TRUE(items[4]["message"].is_null());
  EXPECT_TRUE(LeftoverTempFiles().empty());

  KvimportRun full = Kvimport("list --filter oe4 --store " + Store(), "", "/dev/full");
  EXPECT_EQ(full.exit_code, kExitOutputError) << full.err;
  EXPECT_NE(full.err.find("cannot write the list to standard output"), std::string::npos);
  EXPECT_TRUE(LeftoverTempFiles().empty());

  KvimportRun started = Kvimport("list --filter oe4 --store " + Store() + " --start inbox/OLD/");
  ASSERT_EQ(started.exit_code, kExitOk) << started.err;
  EXPECT_EQ(std::count(started.out.begin(), started.out.end(), '\n'), 1);
  EXPECT_NE(started.out.find("\"Inbox/Old\""), std::string::npos);
}

TEST_F(KvimportTest, ImportToMaildirTwiceAddsOnlyWhatIsMissing) {
  WriteSampleStore();
  const std::string args =
      "import --filter oe4 --store " + Store() + " --to maildir:" + Path("mail") + " --keep-empty";
  KvimportRun first = Kvimport(args);
  ASSERT_EQ(first.exit_code, kExitOk) << first.err;
  EXPECT_NE(first.err.find("4 messages"), std::string::npos) << first.err;
  EXPECT_TRUE(LeftoverTempFiles().empty());

  std::vector<fs::path> inbox_read = FilesBelow(Path("mail/cur"));
  std::vector<fs::path> inbox_new = FilesBelow(Path("mail/new"));
  ASSERT_EQ(inbox_read.size(), 1u);
  ASSERT_EQ(inbox_new.size(), 1u);
  std::string lf = message1_;
  std::erase(lf, '\r');
  EXPECT_EQ(ReadFile(inbox_read[0]), lf) << "LF line ends, without the NUL padding";
  struct stat status {};
  ASSERT_EQ(::stat(inbox_read[0].c_str(), &status), 0);
  EXPECT_EQ(status.st_mtime, kMessage1Time);
  EXPECT_EQ(FilesBelow(Path("mail/.Drafts/cur")).size(), 1u);
  EXPECT_EQ(FilesBelow(Path("mail/.INBOX.Old/cur")).size(), 1u);
  EXPECT_TRUE(fs::exists(Path("mail/.Empty/maildirfolder")));

  // A message that went missing from the target comes back; nothing else is written twice. The
  // temporary folder of a killed run is removed; this run's own goes at its end.
  fs::remove(inbox_new[0]);
  fs::create_directories(Path("mail/tmp/.kvimport-tmp-4194304-abcdef"));
  fs::permissions(Path("mail/tmp/.kvimport-tmp-4194304-abcdef"), fs::perms::owner_all);
  std::ofstream(Path("mail/tmp/.kvimport-tmp-4194304-abcdef/imp1.TMP")) << "cut";
  KvimportRun second = Kvimport(args + " -v");
  ASSERT_EQ(second.exit_code, kExitOk) << second.err;
  EXPECT_TRUE(second.err.starts_with("kvimport: Inbox: " + Path("mail/new/"))) << second.err;
  EXPECT_NE(second.err.find("1 message ("), std::string::npos) << second.err;
  EXPECT_NE(second.err.find("3 already there"), std::string::npos) << second.err;
  EXPECT_EQ(FilesBelow(Path("mail/cur")).size(), 1u);
  EXPECT_EQ(FilesBelow(Path("mail/new")).size(), 1u);
  EXPECT_TRUE(fs::is_empty(Path("mail/tmp")));
}

// (An existing mbox is refused without --append: writers_test.)
TEST_F(KvimportTest, ImportToMboxAppendingAddsOnlyWhatIsMissing) {
  WriteSampleStore();
  const std::string args = "import --filter oe4 --store " + Store() + " --to mbox:" + Path("mbox");
  ASSERT_EQ(Kvimport(args).exit_code, kExitOk);
  std::string inbox = ReadFile(Path("mbox/Inbox.mbox"));
  EXPECT_TRUE(inbox.starts_with("From sender1@example.org Tue Aug  3 08:11:00 1999\n")) << inbox;
  EXPECT_NE(inbox.find("\n>From me\n"), std::string::npos);
  EXPECT_EQ(inbox.find('\r'), std::string::npos) << "LF line ends";
  EXPECT_TRUE(fs::exists(Path("mbox/Inbox/Old.mbox")));
  EXPECT_FALSE(fs::exists(Path("mbox/Empty.mbox"))) << "empty folders are skipped by default";

  ASSERT_EQ(Kvimport(args + " --append").exit_code, kExitOk);
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("mbox")), fs::directory_iterator()), 4)
      << "Inbox.mbox, Inbox/, Drafts.mbox and the state file; no temporary folder";
  EXPECT_EQ(ReadFile(Path("mbox/Inbox.mbox")), inbox) << "a second run adds only what is missing";
}

// (What each filter's messages look like as .eml files: import_command_test.)
TEST_F(KvimportTest, UnwritableOutputEndsWithExit4) {
  WriteSampleStore();
  std::ofstream(Path("file")) << "x";
  KvimportRun blocked =
      Kvimport("import --filter oe4 --store " + Store() + " --to maildir:" + Path("file/mail"));
  EXPECT_EQ(blocked.exit_code, kExitOutputError);
  EXPECT_TRUE(LeftoverTempFiles().empty());
}

TEST_F(KvimportTest, NonAsciiStartFolderAndStorePath) {
  Oe4Store store;
  store.AddFolder(
      "Entw\xFC"
      "rfe",
      0, {Oe4Message{Oe4TestMessage(1), kv::testing::kOe4Draft}}, "Drafts");
  store.AddFolder("Inbox", 0, {Oe4Message{Oe4TestMessage(2)}});
  // A folder name Windows-1252 cannot spell reaches the filter as a mapped drive.
  const fs::path cyrillic = dir_.path() / "\xD0\x9F\xD0\xBE\xD1\x87\xD1\x82\xD0\xB0";
  store.WriteTo(cyrillic);
  KvimportRun run = Kvimport("list --filter oe4 --store '" + cyrillic.string() +
                             "' --start 'Entw\xC3\xBC"
                             "rfe'");
  ASSERT_EQ(run.exit_code, kExitOk) << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
  EXPECT_NE(run.out.find("\"folder\":\"Entw\xC3\xBC"
                         "rfe\",\"status\":0,\"state\":1"),
            std::string::npos)
      << run.out;
}

// A damaged store: every folder that cannot be read whole is named on stderr in the store's terms,
// counted in the summary, and the exit code says that not everything came across. A mailbox that
// is a FIFO does not hang the import; a mailbox name that climbs out of the store is not followed;
// a folder list cut in its last record loses that folder only.
TEST_F(KvimportTest, DamagedStoreIsReportedFolderByFolderAndEndsWithExit5) {
  Oe4Store store;
  store.AddFolder("Inbox", 0, {Oe4Message{message1_}});
  store.AddFolder("NoIndex", 0, {Oe4Message{Oe4TestMessage(2)}});
  store.AddFolder("Fifo", 0, {Oe4Message{Oe4TestMessage(3)}});
  store.AddFolder("Cut", 0, {Oe4Message{Oe4TestMessage(4)}, Oe4Message{Oe4TestMessage(5)}});
  store.AddFolder("Climbing", 0, {}, "..\\outside\\secret");
  store.AddFolder("Lost", 0, {Oe4Message{Oe4TestMessage(7)}});
  store.WriteTo(dir_.path() / "store");
  const std::uint64_t lost_record = kv::testing::Oe4FolderRecordOffset(5);
  fs::resize_file(dir_.path() / "store/folders.nch", lost_record + 100);
  fs::remove(dir_.path() / "store/NoIndex.idx");
  fs::remove(dir_.path() / "store/Fifo.mbx");
  ASSERT_EQ(::mkfifo(Path("store/Fifo.mbx").c_str(), 0600), 0);
  fs::resize_file(dir_.path() / "store/Cut.idx", kv::testing::kIndexHeaderSize + 30);
  Oe4Store outside;
  outside.AddFolder("secret", 0, {Oe4Message{Oe4TestMessage(6)}});
  outside.WriteTo(dir_.path() / "outside");

  const std::vector<std::string> reports = {
      "kvimport: not imported: NoIndex: NoIndex.idx: file missing; lost: the folder\n",
      "kvimport: not imported: Fifo: Fifo.mbx: not a file that holds data (a device or a FIFO); "
      "lost: the folder\n",
      "kvimport: not imported: Cut: Cut.idx at offset ",
      "kvimport: not imported: Climbing: ..\\outside\\secret: the mailbox name leads outside the "
      "store folder and is not followed; lost: the folder\n",
      "kvimport: not imported: folders.nch at offset " + std::to_string(lost_record) +
          ": the file ends inside the folder record that starts here; lost: the folders listed "
          "from this record on\n"};
  KvimportRun import =
      Kvimport("import --filter oe4 --store " + Store() + " --to maildir:" + Path("mail"));
  EXPECT_EQ(import.exit_code, kExitSkippedItems) << import.err;
  for (const std::string& report : reports) {
    EXPECT_NE(import.err.find(report), std::string::npos) << report << "in\n" << import.err;
  }
  EXPECT_NE(import.err.find("2 messages ("), std::string::npos) << import.err;
  EXPECT_NE(import.err.find("5 store problems (see above)"), std::string::npos) << import.err;
  EXPECT_NE(import.err.find("5 parts of the store could not be read"), std::string::npos)
      << import.err;
  EXPECT_EQ(FilesBelow(Path("mail/cur")).size(), 1u);
  EXPECT_EQ(FilesBelow(Path("mail/.Cut/cur")).size(), 1u) << "the message before the cut";
  EXPECT_TRUE(LeftoverTempFiles().empty());

  KvimportRun info = Kvimport("info --filter oe4 --store " + Store());
  EXPECT_EQ(info.exit_code, kExitSkippedItems) << info.err;
  EXPECT_NE(info.out.find("\nCut                                 1 message, "), std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("problems: 5 parts of the store cannot be read"), std::string::npos)
      << info.out;

  KvimportRun list = Kvimport("list --filter oe4 --store " + Store());
  EXPECT_EQ(list.exit_code, kExitSkippedItems) << list.err;
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 2) << list.out;
  EXPECT_NE(list.err.find(reports[0]), std::string::npos) << list.err;
}

// A file that cannot be written (here: larger than the file size limit, as on a full disk) stops
// the import with exit 4 and names it, instead of skipping folder after folder: the message file
// when it is written, and the temporary file when a message too large to be held in memory goes
// there first.
TEST_F(KvimportTest, FileThatCannotBeWrittenStopsTheImport) {
  for (const std::size_t large : {200000u, 1200000u}) {
    fs::remove_all(Path("eml"));
    Oe4Store store;
    store.AddFolder("Small", 0, {Oe4Message{message1_}});
    store.AddFolder("Large", 0, {Oe4Message{Oe4TestMessage(2) + std::string(large, 'x')}});
    store.AddFolder("Later", 0, {Oe4Message{Oe4TestMessage(3)}});
    store.WriteTo(dir_.path() / "store");
    KvimportRun run =
        Kvimport("import --filter oe4 --store " + Store() + " --to eml:" + Path("eml"),
                 "ulimit -f " + std::to_string(large / 1024 - 20) + "; ");
    EXPECT_EQ(run.exit_code, kExitOutputError) << run.err;
    const std::string said =
        large < 1000000 ? "kvimport: cannot write " + Path("eml/Large/.kvimport-")
                        : "kvimport: stopped: the filter cannot write its temporary message file: "
                          "Large: ";
    EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(large < 1000000 ? "File too large" : "Make room on that disk"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(FilesBelow(Path("eml")).size(), 1u) << "Later is not imported after the failure";
    EXPECT_TRUE(LeftoverTempFiles().empty());
  }
}

}  // namespace
}  // namespace kv::host
