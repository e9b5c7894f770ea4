#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/import_filter.h"
#include "host/maildir_writer.h"
#include "host/mboxrd.h"
#include "host/message_identity.h"
#include "host/output_files.h"
#include "host/tree_writers.h"
#include "support/golden.h"
#include "support/transcript.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;
using kv::testing::FilesBelow;
using kv::testing::ReadFile;

constexpr std::int64_t kJune2 = 1054566062;

std::int64_t ModifiedTime(const fs::path& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_mtime;
}

// Runs a Python program with the standard library's mailbox module; "" when python3 is absent.
std::string RunPython(const std::string& program) {
  if (std::system("python3 -c 'import mailbox' >/dev/null 2>&1") != 0) return "";
  return kv::testing::CommandOutput("python3 -c '" + program + "'");
}

std::optional<std::uint64_t> LengthWithoutTrailingNuls(const fs::path& path) {
  MessageFile file;
  int error = 0;
  if (!file.Open(path.string(), /*owned=*/false, error)) return std::nullopt;
  return file.LengthWithoutTrailingNuls();
}

class WritersTest : public ::testing::Test {
 protected:
  // A file as a filter hands it over, in its own temporary folder.
  HandedOverMessage HandOver(const std::string& bytes, std::int32_t state = kStateReceived,
                             std::optional<std::int64_t> time = kJune2,
                             std::string sender = "a@example.com") {
    std::string name = "imp" + std::to_string(++count_) + ".TMP";
    fs::path path = handed_.Write(name, bytes);
    std::uint64_t length = LengthWithoutTrailingNuls(path).value();
    return HandedOverMessage{path.string(),
                             length,
                             state,
                             time,
                             std::move(sender),
                             true,
                             IdentifyBytes(bytes.substr(0, length))};
  }

  std::string Out(const std::string& relative = "") const {
    return relative.empty() ? out_.path().string() : (out_.path() / relative).string();
  }

  kv::testing::TempDir handed_;
  kv::testing::TempDir out_;
  int count_ = 0;
};

TEST(OutputFilesTest, TrailingNulsAreNotCounted) {
  kv::testing::TempDir dir;
  constexpr std::size_t kHead = MessageFile::kHeadPiece;
  EXPECT_EQ(LengthWithoutTrailingNuls(dir.Write("a", std::string("ab\0c\0\0\0", 7))), 4u);
  EXPECT_EQ(LengthWithoutTrailingNuls(dir.Write("b", std::string(5000, '\0'))), 0u);
  EXPECT_EQ(LengthWithoutTrailingNuls(dir.Write("c", "x" + std::string(4096, '\0'))), 1u);
  EXPECT_EQ(LengthWithoutTrailingNuls(dir.Write("d", "")), 0u);
  // Longer than the piece read at once: the end is read apart, across its 4 KiB steps.
  EXPECT_EQ(
      LengthWithoutTrailingNuls(dir.Write("e", std::string(kHead, 'x') + std::string(9000, '\0'))),
      kHead);
  EXPECT_EQ(LengthWithoutTrailingNuls(dir.Write("f", std::string(kHead + 5000, '\0'))), 0u);
  EXPECT_EQ(LengthWithoutTrailingNuls(dir.path() / "missing"), std::nullopt);
  EXPECT_EQ(LengthWithoutTrailingNuls(dir.path()), std::nullopt);
}

// How a message file on disk reaches its name in the output.
TEST(OutputFilesTest, MoveToNewNameNeverReplacesAndCopiesAcrossFileSystems) {
  kv::testing::TempDir dir;
  fs::path from = dir.Write("from", "new");
  fs::path to = dir.Write("to", "old");
  const std::string staging = (dir.path() / "staging").string();
  int error = 0;
  bool renamed = true;
  EXPECT_EQ(MoveToNewName(from, to, staging, error, &renamed), PlaceResult::kExists);
  EXPECT_FALSE(renamed);
  EXPECT_EQ(ReadFile(to), "old");
  EXPECT_EQ(MoveToNewName(from, dir.path() / "moved", staging, error, &renamed),
            PlaceResult::kPlaced);
  EXPECT_TRUE(renamed);
  EXPECT_EQ(ReadFile(dir.path() / "moved"), "new");
  EXPECT_FALSE(fs::exists(from));

  // A rename between file systems fails; the file is copied with its time and the source stays.
  struct stat here {
  }, shm{};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.path().c_str(), &here) != 0 ||
      shm.st_dev == here.st_dev || ::access("/dev/shm", W_OK) != 0) {
    GTEST_SKIP() << "no second file system to copy across";
  }
  fs::path elsewhere = fs::path("/dev/shm") / ("kv-place-" + std::to_string(::getpid()));
  std::ofstream(elsewhere, std::ios::binary) << "moved";
  fs::last_write_time(elsewhere, fs::last_write_time(to));
  EXPECT_EQ(MoveToNewName(elsewhere, dir.path() / "across", staging, error, &renamed),
            PlaceResult::kPlaced);
  EXPECT_FALSE(renamed);
  EXPECT_EQ(ReadFile(dir.path() / "across"), "moved");
  EXPECT_EQ(ModifiedTime(dir.path() / "across"), ModifiedTime(to));
  EXPECT_FALSE(fs::exists(staging));
  EXPECT_TRUE(fs::exists(elsewhere));
  fs::remove(elsewhere);
}

TEST(OutputFilesTest, InsideFolderResolvesLinksAndDots) {
  kv::testing::TempDir dir;
  dir.Write("tmp/imp1.TMP", "x");
  fs::create_symlink(dir.Write("store/a.mbx", "x"), dir.path() / "tmp/link");
  auto inside = [&dir](const char* path) {
    return IsInsideFolder((dir.path() / path).string(), (dir.path() / "tmp").string());
  };
  EXPECT_TRUE(inside("tmp/imp1.TMP"));
  EXPECT_TRUE(
      IsInsideFolder((dir.path() / "tmp/imp1.TMP").string(), (dir.path() / "tmp/").string()));
  for (const char* outside : {"store/a.mbx", "tmp/../store/a.mbx", "tmp/link", "tmp", "tmp2"}) {
    EXPECT_FALSE(inside(outside)) << outside;
  }
}

// The same messages through each writer: Maildir (LF line ends, the state in the directory and
// the flags, the size in the name, the date as the file's time), mbox (From_ lines, quoted From
// lines, Status and X-Status headers in place of the stored ones, also at the end of a message
// that is all header block), mbox keeping the stored bytes, and .eml (numbered in walk order past
// a name that is taken, the bytes as handed over). Trailing NULs are dropped everywhere; empty
// folders are created; each writer takes the handed-over file away or leaves it to the caller.
// An mbox that is there already is refused before anything is written, unless appending. A root
// that cannot be made is named.
TEST_F(WritersTest, EachWriterHoldsTheSameMessages) {
  struct Input {
    std::string folder, bytes;
    std::int32_t state;
    std::string sender = "a@example.com";
  };
  const Input inputs[] = {
      {"Inbox",
       "From: a@example.com\r\nSubject: one\r\n\r\nFrom here\r\n>From there\r\n>>From "
       "everywhere\r\n" +
           std::string(3, '\0'),
       kStateReceived | kStateUnread},
      {"Inbox", "Subject: two\nStatus: U\n\nFrom lf\n", kStateReceived, "MAILER-DAEMON"},
      {"Inbox/Old", "Subject: three\n\nFromage\n\nFrom the end\n", 0},
      {"Drafts", "Subject: four\nX-Status: A\n", kStateNotSent},
      {"Sent.Items/..", "Subject: five\n\nno line end", 0},
  };
  out_.Write("eml/Inbox/000002.eml", "taken");
  out_.Write("stored/Drafts.mbox", "old");
  out_.Write("file", "not a folder");
  std::string text;
  for (auto refused : {MboxWriter(Out(), false).Start(), MaildirWriter(Out("file/m"), "").Start(),
                       MboxWriter(Out("file"), true).Start(), EmlWriter(Out("file")).Start()}) {
    text += refused ? refused->path + ": " + refused->reason + "\n" : "not refused\n";
  }
  MaildirWriter maildir(Out("maildir"), "Inbox");
  MboxWriter mbox(Out("mbox"), false), stored(Out("stored"), true, /*to_lf=*/false);
  EmlWriter eml(Out("eml"));
  for (MessageSink* writer : std::initializer_list<MessageSink*>{&maildir, &mbox, &stored, &eml}) {
    ASSERT_EQ(writer->Start(), std::nullopt);
    for (const Input& input : inputs) {
      ASSERT_EQ(writer->AddMessage(input.folder,
                                   HandOver(input.bytes, input.state, kJune2, input.sender)),
                std::nullopt);
    }
    ASSERT_EQ(writer->CreateFolder("Empty/Deeper"), std::nullopt);
    ASSERT_EQ(writer->Finish(), std::nullopt);
    text += writer->LastWritten() +
            ", handed-over files left: " + std::to_string(FilesBelow(handed_.path()).size()) + "\n";
  }
  // Messages held in memory give the same Maildir files, whether linked in without a name or
  // written through tmp/ and renamed.
  for (bool unnamed : {true, false}) {
    const std::string root = Out(unnamed ? "held" : "held-tmp");
    MaildirWriter held(root, "Inbox", true, unnamed);
    ASSERT_EQ(held.Start(), std::nullopt);
    for (const Input& input : inputs) {
      HandedOverMessage message = HandOver(input.bytes, input.state, kJune2, input.sender);
      message.bytes = input.bytes;
      ASSERT_EQ(held.AddMessage(input.folder, message), std::nullopt);
    }
    ASSERT_EQ(held.CreateFolder("Empty/Deeper"), std::nullopt);
    EXPECT_EQ(kv::testing::DescribeFiles(root), kv::testing::DescribeFiles(Out("maildir"))) << root;
    fs::remove_all(root);
  }
  kv::testing::ExpectGolden(
      kv::testing::Normalized(text, out_.path()) + kv::testing::DescribeFiles(out_.path()),
      "host/writers.txt");
  // The state as a mail library reads it (mutt and Dovecot read the same headers).
  std::string flags =
      RunPython("import mailbox\nfor p in (\"" + Out("mbox/Inbox.mbox") + "\", \"" +
                Out("mbox/Drafts.mbox") + "\"):\n  for m in mailbox.mbox(p): print(m.get_flags())");
  if (!flags.empty()) {
    EXPECT_EQ(flags, "O\nRO\nROT\n");
  }
}

// A disk that fills up in the middle of a message (here: the file size limit): the mbox is cut
// back to its last whole message and the error names it.
TEST_F(WritersTest, MboxCutBackToItsLastWholeMessageOnAWriteError) {
  MboxWriter writer(Out(), false);
  ASSERT_EQ(writer.Start(), std::nullopt);
  ASSERT_EQ(writer.AddMessage("F", HandOver("Subject: small\n\nbody\n")), std::nullopt);
  const std::string whole = ReadFile(Out("F.mbox"));
  HandedOverMessage large = HandOver("Subject: large\n\n" + std::string(200000, 'x') + "\n");
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  WriteOutcome failed = writer.AddMessage("F", large);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  ASSERT_TRUE(failed.has_value());
  EXPECT_EQ(failed->path, Out("F.mbox"));
  EXPECT_NE(failed->reason.find("cut back to its last whole message"), std::string::npos);
  EXPECT_EQ(ReadFile(Out("F.mbox")), whole);
}

// A run killed in the middle of its second message: the next run with --append finds the first
// there, cuts the unfinished one away and writes it again, so the file ends as one whole run's.
TEST_F(WritersTest, MboxKilledRunIsCompletedByTheNextOne) {
  const std::string one = "Subject: one\n\nbody\n", two = "Subject: two\n\nbody\n";
  {
    MboxWriter killed(Out("killed"), false);
    ASSERT_EQ(killed.Start(), std::nullopt);
    ASSERT_EQ(killed.AddMessage("F", HandOver(one)), std::nullopt);
    ASSERT_EQ(killed.AddMessage("F", HandOver(two)), std::nullopt);
  }  // no Finish: the process ended here
  const std::string whole = ReadFile(Out("killed/F.mbox"));
  fs::resize_file(Out("killed/F.mbox"), whole.size() - 5);
  MboxWriter again(Out("killed"), true);
  ASSERT_EQ(again.Start(), std::nullopt);
  EXPECT_TRUE(again.AlreadyThere("F", IdentifyBytes(one)));
  EXPECT_FALSE(again.AlreadyThere("F", IdentifyBytes(one))) << "only one copy is there";
  EXPECT_FALSE(again.AlreadyThere("F", IdentifyBytes(two)));
  ASSERT_EQ(again.AddMessage("F", HandOver(two)), std::nullopt);
  ASSERT_EQ(again.Finish(), std::nullopt);
  EXPECT_EQ(ReadFile(Out("killed/F.mbox")), whole);
}

}  // namespace
}  // namespace kv::host
