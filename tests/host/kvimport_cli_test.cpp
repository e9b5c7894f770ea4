// Runs the kvimport program on stores built here, as a user runs it from a shell: each scenario's
// command lines, exit codes, output and the files written are kept in a transcript under
// tests/golden/host/. Every run must leave the store as it was and no temporary file behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "support/golden.h"
#include "support/oe4_store_writer.h"
#include "support/transcript.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;
using kv::testing::FilesBelow;
using kv::testing::Oe4Message;
using kv::testing::Oe4Store;
using kv::testing::Oe4TestMessage;

class KvimportTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& relative) const { return (dir_.path() / relative).string(); }

  // Inbox: three messages, the second skipped by its index flag, the third unread, with a From
  // line in its body; Inbox/Old: one sent message; Drafts: one unsent message; Empty: none.
  void WriteSampleStore() {
    Oe4Store store;
    std::uint32_t inbox = store.AddFolder(
        "Inbox", 0,
        {Oe4Message{Oe4TestMessage(1), kv::testing::kOe4Received},
         Oe4Message{Oe4TestMessage(2), kv::testing::kOe4Received | kv::testing::kOe4Deleted},
         Oe4Message{Oe4TestMessage(3, "X-Note: From line follows\r\n") + "From me\r\n",
                    kv::testing::kOe4Received | kv::testing::kOe4Unread}});
    store.AddFolder("Old", inbox, {Oe4Message{Oe4TestMessage(4), 0}}, "Old mail");
    store.AddFolder("Drafts", 0, {Oe4Message{Oe4TestMessage(5), kv::testing::kOe4Draft}});
    store.AddFolder("Empty", 0, {});
    store.WriteTo(dir_.path() / "store");
  }

  kv::testing::TempDir dir_;
  kv::testing::KvimportTranscript kvimport_{dir_};
};

// Help, version and command lines that are refused (the parser's messages: command_line_test); a
// store that is not there, and folder options that name no folder of the store: nothing is
// written. An output that cannot be written ends with exit 4. A store path and a folder name that
// Windows-1252 cannot spell (the store reaches the filter as a mapped drive).
TEST_F(KvimportTest, HelpRefusalsAndOddPaths) {
  std::ofstream(Path("file")) << "x";
  fs::create_directories(Path("store"));
  for (const char* args :
       {"--help", "-V", "--bogus", "list --filter oe4",
        "import -f oe4 -s $DIR/missing -t eml:$DIR/m", "import -f oe4 -s $DIR/file -t eml:$DIR/m",
        "import -f oe4 -s $DIR/store -t eml:$DIR/m"}) {
    kvimport_.Run(args);
  }
  WriteSampleStore();
  kvimport_.Run("list --filter oe4 --store $DIR/store --start Nowhere");
  kvimport_.Run("import -f oe4 -s $DIR/store -t maildir:$DIR/m --inbox Posteingang");
  EXPECT_FALSE(fs::exists(Path("m"))) << "nothing is written after a refusal";
  kvimport_.Run("import --filter oe4 --store $DIR/store --to maildir:$DIR/file/mail");
  kvimport_.Run("list --filter oe4 --store $DIR/store", "", "/dev/full");

  Oe4Store store;
  store.AddFolder("Entw\xFCrfe", 0, {Oe4Message{Oe4TestMessage(1), kv::testing::kOe4Draft}},
                  "Drafts");
  store.AddFolder("Inbox", 0, {Oe4Message{Oe4TestMessage(2)}});
  store.WriteTo(dir_.path() / "\xD0\x9F\xD0\xBE\xD1\x87\xD1\x82\xD0\xB0");
  kvimport_.Run(
      "list --filter oe4 --store '$DIR/\xD0\x9F\xD0\xBE\xD1\x87\xD1\x82\xD0\xB0' --start "
      "'Entw\xC3\xBCrfe'");
  kv::testing::ExpectGolden(kvimport_.text, "host/kvimport-refusals.txt");
}

// list (whole, and from a start folder given in another case; sizes with the NUL padding), info,
// and import into Maildir: each message with its state, LF line ends, no NUL padding and its date
// as the file's time (each writer's own format: writers_test). A second run adds only what went
// missing and removes the temporary folder a killed run left.
TEST_F(KvimportTest, SampleStoreListedAndImported) {
  WriteSampleStore();
  kvimport_.Run("list --filter oe4 --store $DIR/store --keep-empty");
  kvimport_.Run("list --filter oe4 --store $DIR/store --start inbox/OLD/");
  kvimport_.Run("info --filter oe4 --store $DIR/store");
  const std::string to_maildir = "import -f oe4 -s $DIR/store -t maildir:$DIR/mail --keep-empty";
  kvimport_.Run(to_maildir);
  kvimport_.AddFiles("$DIR/mail");

  fs::remove(FilesBelow(Path("mail/new")).at(0));
  const fs::path killed = dir_.path() / "mail/tmp/.kvimport-tmp-4194304-abcdef";
  fs::create_directories(killed);
  fs::permissions(killed, fs::perms::owner_all);
  std::ofstream(killed / "imp1.TMP") << "cut";
  kvimport_.Run(to_maildir + " -v");
  kvimport_.AddFiles("$DIR/mail");
  EXPECT_TRUE(fs::is_empty(Path("mail/tmp")));
  kv::testing::ExpectGolden(kvimport_.text, "host/kvimport-sample.txt");
}

// A damaged store: every folder that cannot be read whole is named on stderr in the store's terms,
// counted in the summary, and the exit code says that not everything came across: a folder
// without its index, and an index cut after its first record, which keeps that message (each
// damage and its report: the OE4 reader's damage tests).
TEST_F(KvimportTest, DamagedStoreIsReportedFolderByFolderAndEndsWithExit5) {
  Oe4Store store;
  store.AddFolder("Inbox", 0, {Oe4Message{Oe4TestMessage(1)}});
  store.AddFolder("NoIndex", 0, {Oe4Message{Oe4TestMessage(2)}});
  store.AddFolder("Cut", 0, {Oe4Message{Oe4TestMessage(4)}, Oe4Message{Oe4TestMessage(5)}});
  store.WriteTo(dir_.path() / "store");
  fs::remove(Path("store/NoIndex.idx"));
  fs::resize_file(Path("store/Cut.idx"), kv::testing::kIndexHeaderSize + 30);

  kvimport_.Run("import --filter oe4 --store $DIR/store --to maildir:$DIR/mail");
  kvimport_.AddFiles("$DIR/mail");
  kvimport_.Run("info --filter oe4 --store $DIR/store");
  kvimport_.Run("list --filter oe4 --store $DIR/store");
  kv::testing::ExpectGolden(kvimport_.text, "host/kvimport-damaged.txt");
}

// A file that cannot be written (here: larger than the file size limit, as on a full disk) stops
// the import with exit 4 and names it, instead of skipping folder after folder: the message file
// when it is written, and the temporary file when a message too large to be held in memory goes
// there first.
TEST_F(KvimportTest, FileThatCannotBeWrittenStopsTheImport) {
  for (const std::size_t large : {200000u, 1200000u}) {
    fs::remove_all(Path("eml"));
    Oe4Store store;
    store.AddFolder("Small", 0, {Oe4Message{Oe4TestMessage(1)}});
    store.AddFolder("Large", 0, {Oe4Message{Oe4TestMessage(2) + std::string(large, 'x')}});
    store.AddFolder("Later", 0, {Oe4Message{Oe4TestMessage(3)}});
    store.WriteTo(dir_.path() / "store");
    kvimport_.Run("import --filter oe4 --store $DIR/store --to eml:$DIR/eml",
                  "ulimit -f " + std::to_string(large / 1024 - 20) + "; ");
    kvimport_.AddFiles("$DIR/eml");  // Later is not imported after the failure
  }
  // The temporary files' names hold the process ID.
  const std::regex temporary("(\\.kvimport-(tmp-)?)[0-9]+-[A-Za-z0-9]+");
  kv::testing::ExpectGolden(std::regex_replace(kvimport_.text, temporary, "$1*"),
                            "host/kvimport-file-too-large.txt");
}

}  // namespace
}  // namespace kv::host
