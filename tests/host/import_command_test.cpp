// The import and list commands against a scripted filter, for what real stores rarely produce:
// files outside the temporary folder, missing files, folder items without a folder name.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/commands.h"
#include "host/exit_codes.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "support/golden.h"
#include "support/transcript.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;
using kv::testing::FilesBelow;
using kv::testing::ReadFile;

struct ScriptedItem {
  AutomationString folder;
  std::string message_file;  // "" for none; a name starting with "temp:" is written in the temp
                             // folder with the bytes after the colon
  std::int32_t status = 0;
  std::int32_t state = kStateReceived;
};

// A filter that finds a store when told to and hands over the items it was given.
class ScriptedFilter final : public ImportFilter {
 public:
  ScriptedFilter(platform::TempFiles& temp, std::vector<ScriptedItem> items)
      : temp_(temp), items_(std::move(items)) {}

  std::string GetName() override { return "scripted"; }
  bool IsSystemFound() override { return true; }
  bool GoFirst() override { return Position(0); }
  bool GoNext() override { return Position(index_ + 1); }
  std::int32_t GetItemStatus() override { return items_[index_].status; }
  std::int32_t GetItemExStatus() override { return items_[index_].state; }
  AutomationString GetSubItem(std::int16_t code) override {
    if (code == kSubItemFolderName) return items_[index_].folder;
    if (code == kSubItemMessageFile) return file_;
    return std::string();
  }

 private:
  bool Position(std::size_t index) {
    index_ = index;
    if (index_ >= items_.size()) return false;
    file_ = items_[index_].message_file;
    if (file_.starts_with("temp:")) {
      std::string bytes = file_.substr(5);
      file_ = temp_.GetTempFileName(temp_.TempPath(), "imp", 0).value();
      std::ofstream(file_, std::ios::binary) << bytes;
    }
    return true;
  }

  platform::TempFiles& temp_;
  std::vector<ScriptedItem> items_;
  std::size_t index_ = 0;
  std::string file_;
};

class ImportCommandTest : public ::testing::Test {
 protected:
  // Runs the command over `items`: its exit code, standard output and error, for a golden file.
  std::string Run(Command command, std::vector<ScriptedItem> items,
                  const volatile std::sig_atomic_t* interrupted = nullptr) {
    filter_ = std::make_unique<ScriptedFilter>(temp_, std::move(items));
    CommandLine line;
    line.command = command;
    line.filter = filter_name_;
    line.store = dir_.path().string();
    line.destination = destination_;
    line.append = true;
    std::FILE* out = std::fopen((dir_.path() / "output").c_str(), "w");
    CommandStreams streams{out, out, false, interrupted};
    int code = command == Command::kList ? RunList(line, services_, &ui_, streams, *filter_)
                                         : RunImport(line, services_, &ui_, streams, *filter_);
    std::fclose(out);
    return kv::testing::Normalized(
        "exit " + std::to_string(code) + "\n" + ReadFile(dir_.path() / "output"), dir_.path());
  }

  kv::testing::TempDir dir_;
  platform::MemoryRegistry registry_;
  platform::PosixFileSystem files_;
  platform::PosixTempFiles temp_{
      (fs::create_directories(dir_.path() / "tmp"), (dir_.path() / "tmp").string())};
  platform::PosixEnvironment environment_;
  platform::IconvCodePage code_page_;
  ui::ScriptedUserInterface ui_;
  platform::DiagnosticLog diagnostics_;
  platform::Services services_{registry_,  files_, temp_,       environment_,
                               code_page_, ui_,    diagnostics_};
  Destination destination_{DestinationKind::kEml, (dir_.path() / "out").string()};
  std::string filter_name_ = "oe4";
  std::unique_ptr<ScriptedFilter> filter_;
};

// Items the scripted filter hands over: files outside the temporary folder (copied, not taken
// away), missing files, items that name no file, an empty folder, an item without a folder name.
// list hashes what it can read; neither command removes what it does not own.
TEST_F(ImportCommandTest, OnlyFilesInTheTemporaryFolderAreTakenAway) {
  const fs::path outside = dir_.Write("store/message.txt", "Subject: outside\n\n");
  std::string text =
      Run(Command::kList, {{"A", "temp:abc"}, {"B", outside.string()}, {"C", "nowhere"}});
  text += Run(Command::kImport, {{"Inbox", "temp:Subject: one\n\n"},
                                 {"Inbox", outside.string()},
                                 {"Inbox", (dir_.path() / "missing").string()},
                                 {"Inbox", ""},
                                 {"Empty", kEmptyFolderMarker, kItemIsFolder},
                                 {std::nullopt, "temp:Subject: nameless\n\n"}});
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_TRUE(FilesBelow(dir_.path() / "tmp").empty());
  kv::testing::ExpectGolden(text + kv::testing::DescribeFiles(dir_.path() / "out"),
                            "host/scripted-items.txt");
}

// What one filter's messages and folders carry that the output leaves out: a Netscape message's
// mailbox separator line (Maildir and mbox only), the root level of its folder paths; trailing
// NULs only for Outlook Express 4.
TEST_F(ImportCommandTest, ConventionsOfEachFilter) {
  using namespace std::string_literals;
  const std::pair<std::string, DestinationKind> cases[] = {{"netscape", DestinationKind::kMaildir},
                                                           {"netscape", DestinationKind::kMbox},
                                                           {"netscape", DestinationKind::kEml},
                                                           {"oe4", DestinationKind::kEml},
                                                           {"oe5", DestinationKind::kMaildir}};
  std::string text;
  for (const auto& [filter, kind] : cases) {
    filter_name_ = filter;
    const std::string root = filter + "-" + std::to_string(static_cast<int>(kind));
    destination_ = Destination{kind, (dir_.path() / root).string()};
    const std::string message = "From - Tue Aug 03\r\nDate: 3 Aug 1999 10:11 +0200\r\n\r\nb\0\0"s;
    text += root + ": " +
            Run(Command::kImport, {{"Root/Sent", "temp:" + message}, {"Root", "temp:" + message}});
    text += kv::testing::DescribeFiles(dir_.path() / root);
  }
  kv::testing::ExpectGolden(text, "host/filter-conventions.txt");
}

// A run interrupted in its first message stops after it and leaves no temporary file; run again,
// every message is there once, identical messages of one folder included; a third run adds nothing.
TEST_F(ImportCommandTest, ReRunsAddOnlyWhatIsMissing) {
  // The sender of the mbox From_ lines comes from the header.
  const std::string head = "temp:From: Ann <ann@example.com>\nDate: 3 Aug 1999 10:11 +0200\n\n";
  const std::vector<ScriptedItem> items = {
      {"A", head + "one\n"}, {"A", head + "two\n"}, {"A", head + "one\n"}, {"B", head + "one\n"}};
  std::string text;
  for (DestinationKind kind :
       {DestinationKind::kMaildir, DestinationKind::kMbox, DestinationKind::kEml}) {
    const fs::path root = dir_.path() / ("out" + std::to_string(static_cast<int>(kind)));
    destination_ = Destination{kind, root.string()};
    volatile std::sig_atomic_t stop = 1;
    text += Run(Command::kImport, items, &stop);
    text += kv::testing::DescribeFiles(root);
    EXPECT_TRUE(FilesBelow(dir_.path() / "tmp").empty());
    text += Run(Command::kImport, items);
    text += Run(Command::kImport, items);
    text += kv::testing::DescribeFiles(root);
  }
  kv::testing::ExpectGolden(text, "host/scripted-re-runs.txt");
}

TEST(StoreLocationTest, SpelledInTheCodePageOrMappedToADrive) {
  platform::IconvCodePage code_page("WINDOWS-1252");
  std::map<char, std::string> drives{{'Z', "/mnt/z"}};
  EXPECT_EQ(StoreLocation("/home/j\xC3\xB6rg/oe", code_page, drives), "/home/j\xF6rg/oe");
  EXPECT_EQ(drives.size(), 1u);
  EXPECT_EQ(StoreLocation("/home/\xD0\x9F/oe", code_page, drives), "Y:\\");
  EXPECT_EQ(drives['Y'], "/home/\xD0\x9F/oe");
}

}  // namespace
}  // namespace kv::host
