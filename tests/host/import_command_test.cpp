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
#include "support/temp_dir.h"

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
  ScriptedFilter(platform::TempFiles& temp, std::vector<ScriptedItem> items, bool found)
      : temp_(temp), items_(std::move(items)), found_(found) {}

  std::string GetName() override { return "scripted"; }
  bool IsSystemFound() override { return found_; }
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
  bool found_;
  std::size_t index_ = 0;
  std::string file_;
};

class ImportCommandTest : public ::testing::Test {
 protected:
  int Run(Command command, std::vector<ScriptedItem> items, bool found = true,
          const volatile std::sig_atomic_t* interrupted = nullptr) {
    filter_ = std::make_unique<ScriptedFilter>(temp_, std::move(items), found);
    CommandLine line;
    line.command = command;
    line.filter = filter_name_;
    line.store = dir_.path().string();
    line.destination = destination_;
    line.append = true;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    CommandStreams streams{out, err, false, interrupted};
    int code = command == Command::kList ? RunList(line, services_, &ui_, streams, *filter_)
                                         : RunImport(line, services_, &ui_, streams, *filter_);
    out_ = Contents(out);
    err_ = Contents(err);
    return code;
  }

  static std::string Contents(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(file);
    return text;
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
  std::string out_;
  std::string err_;
};

TEST_F(ImportCommandTest, OnlyFilesInTheTemporaryFolderAreTakenAway) {
  fs::path outside = dir_.Write("store/message.txt", "Subject: outside\n\n");
  int code = Run(Command::kImport, {{"Inbox", "temp:Subject: one\n\n"},
                                    {"Inbox", outside.string()},
                                    {"Inbox", (dir_.path() / "missing").string()},
                                    {"Inbox", ""},
                                    {"Empty", kEmptyFolderMarker, kItemIsFolder},
                                    {std::nullopt, "temp:Subject: nameless\n\n"}});
  EXPECT_EQ(code, kExitSkippedItems);
  EXPECT_NE(err_.find("2 items named no readable message"), std::string::npos) << err_;
  EXPECT_NE(err_.find("missing"), std::string::npos) << err_;
  EXPECT_NE(err_.find("3 messages"), std::string::npos) << err_;
  EXPECT_EQ(ReadFile(dir_.path() / "out/Inbox/000001.eml"), "Subject: one\n\n");
  EXPECT_EQ(ReadFile(dir_.path() / "out/Inbox/000002.eml"), "Subject: outside\n\n");
  EXPECT_TRUE(fs::exists(outside)) << "a file outside the temporary folder is only copied";
  EXPECT_FALSE(fs::exists(dir_.path() / "out/Inbox/000003.eml"));
  EXPECT_TRUE(fs::is_directory(dir_.path() / "out/Empty"));
  EXPECT_EQ(ReadFile(dir_.path() / "out/_/000001.eml"), "Subject: nameless\n\n");
  EXPECT_TRUE(FilesBelow(dir_.path() / "tmp").empty());
}

TEST_F(ImportCommandTest, ListHashesAndRemovesOnlyOwnedFiles) {
  fs::path outside = dir_.Write("store/message.txt", "abc");
  ASSERT_EQ(Run(Command::kList, {{"A", "temp:abc"}, {"B", outside.string()}, {"C", "nowhere"}}),
            kExitOk);
  const std::string abc =
      "\"sha256\":\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"";
  EXPECT_EQ(out_, "{\"folder\":\"A\",\"status\":0,\"state\":2,\"message\":{\"size\":3," + abc +
                      "}}\n"
                      "{\"folder\":\"B\",\"status\":0,\"state\":2,\"message\":{\"size\":3," +
                      abc +
                      "}}\n"
                      "{\"folder\":\"C\",\"status\":0,\"state\":2,\"message\":null}\n");
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_TRUE(FilesBelow(dir_.path() / "tmp").empty());
}

// What one filter's messages and folders carry that the output leaves out: a Netscape message's
// mailbox separator line (Maildir and mbox only), the root level of its folder paths; trailing
// NULs only for Outlook Express 4.
TEST_F(ImportCommandTest, ConventionsOfEachFilter) {
  using namespace std::string_literals;
  const std::string message = "From - Tue Aug 03\r\nSubject: a\r\n\r\nb\0\0"s;
  struct Case {
    std::string filter;
    DestinationKind kind;
    std::string file;  // below the output root
    std::string bytes;
  } cases[] = {
      {"netscape", DestinationKind::kMaildir, ".Sent/cur", "Subject: a\n\nb\0\0"s},
      {"netscape", DestinationKind::kEml, "Sent/000001.eml", message},
      {"oe4", DestinationKind::kEml, "Root/Sent/000001.eml", message.substr(0, message.size() - 2)},
      {"oe5", DestinationKind::kMaildir, ".Sent/cur", "From - Tue Aug 03\nSubject: a\n\nb\0\0"s},
  };
  for (const Case& c : cases) {
    filter_name_ = c.filter;
    const fs::path root =
        dir_.path() / ("out-" + c.filter + std::to_string(static_cast<int>(c.kind)));
    destination_ = Destination{c.kind, root.string()};
    ASSERT_EQ(Run(Command::kImport, {{"Root/Sent", "temp:" + message}, {"Root", "temp:x"}}),
              kExitOk)
        << err_;
    fs::path file = root / c.file;
    if (fs::is_directory(file)) file = FilesBelow(file).at(0);
    EXPECT_EQ(ReadFile(file), c.bytes) << c.filter << " " << file;
  }
  destination_ = Destination{DestinationKind::kMbox, (dir_.path() / "mbox").string()};
  filter_name_ = "netscape";
  ASSERT_EQ(Run(Command::kImport, {{"Root/Sent", "temp:" + message}}), kExitOk) << err_;
  const std::string mbox = ReadFile(dir_.path() / "mbox/Sent.mbox");
  EXPECT_EQ(mbox.substr(mbox.find('\n') + 1), "Subject: a\nStatus: RO\n\nb\0\0\n\n"s) << mbox;
}

// The messages below an output root: Maildir files, mbox From_ lines, .eml files.
std::size_t MessagesBelow(const fs::path& root) {
  std::size_t count = 0;
  for (const fs::path& file : FilesBelow(root)) {
    const std::string name = file.string();
    if (name.ends_with(".mbox")) {
      std::string text = "\n" + ReadFile(file);
      for (std::size_t at = 0; (at = text.find("\nFrom ", at)) != std::string::npos; ++at) ++count;
    } else if (name.ends_with(".eml") || name.find("/cur/") != std::string::npos ||
               name.find("/new/") != std::string::npos) {
      ++count;
    }
  }
  return count;
}

// A run interrupted in its first message stops after it and leaves no temporary file; run again,
// every message is there once, identical messages of one folder included; a third run adds nothing.
TEST_F(ImportCommandTest, ReRunsAddOnlyWhatIsMissing) {
  const std::vector<ScriptedItem> items = {
      {"A", "temp:one\n"}, {"A", "temp:two\n"}, {"A", "temp:one\n"}, {"B", "temp:one\n"}};
  for (DestinationKind kind :
       {DestinationKind::kMaildir, DestinationKind::kMbox, DestinationKind::kEml}) {
    const fs::path root = dir_.path() / ("out" + std::to_string(static_cast<int>(kind)));
    destination_ = Destination{kind, root.string()};
    volatile std::sig_atomic_t stop = 1;
    EXPECT_EQ(Run(Command::kImport, items, true, &stop), kExitInterrupted);
    EXPECT_NE(err_.find("interrupted"), std::string::npos) << err_;
    EXPECT_EQ(MessagesBelow(root), 1u);
    EXPECT_TRUE(FilesBelow(dir_.path() / "tmp").empty());
    EXPECT_EQ(Run(Command::kImport, items), kExitOk) << err_;
    EXPECT_NE(err_.find("3 messages (12 bytes, 0.0 MB) in 2 folders, 1 already there"),
              std::string::npos)
        << err_;
    EXPECT_EQ(Run(Command::kImport, items), kExitOk);
    EXPECT_NE(err_.find("0 messages (0 bytes, 0.0 MB) in 2 folders, 4 already there"),
              std::string::npos)
        << err_;
    EXPECT_EQ(MessagesBelow(root), 4u) << static_cast<int>(kind);
  }
}

}  // namespace
}  // namespace kv::host

namespace kv::host {
namespace {

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
