// The filter and kvimport on a store the mail client wrote (../shared/samples/oe5/kde-oe6, skipped
// when absent): every folder and message an independent reader finds arrives, byte for byte, with
// Windows-1252 folder names, files that "Folders.dbx" names but that are missing, and a file name
// in other capitals than on disk; the store is not changed.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

#include "app/filter_classes.h"
#include "oe5/oe5_store_discovery.h"
#include "oe5_samples.h"
#include "platform/fake/fake_environment.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "platform/registry.h"
#include "support/temp_dir.h"
#include "support/undbx_reader.h"
#include "ui/scripted_ui.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

// Folder display paths (UTF-8) with the number of messages the independent reader finds in them.
const std::map<std::string, std::size_t> kRealFolders = {
    {"Lokale Ordner/Posteingang", 1},
    {"Lokale Ordner/Posteingang/KDE", 5},
    {"Lokale Ordner/Posteingang/KDE/kmail", 5},
    {"Lokale Ordner/Mailinglists/acpi-devel", 4},
    {"Lokale Ordner/Mailinglists/ck", 5},
    {"Lokale Ordner/Mailinglists/hal", 3},
    {"Lokale Ordner/Mailinglists/hal/hal-commit", 4},
    {"Lokale Ordner/Mailinglists/linux-kernel", 4},
};
// Folders of the local tree without messages: four whose files are missing, and Mailinglists.
const std::vector<std::string> kEmptyRealFolders = {
    "Lokale Ordner/Entw\xC3\xBC"
    "rfe",
    "Lokale Ordner/Gel\xC3\xB6"
    "schte Objekte",
    "Lokale Ordner/Gesendete Objekte", "Lokale Ordner/Mailinglists", "Lokale Ordner/Postausgang"};

// The undbx folder (the file's name without ".dbx") that holds a display path's messages.
std::string UndbxFolder(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  return name == "KDE" ? "kde" : name;
}

class Oe5RealStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Oe5Samples()) GTEST_SKIP() << "no real samples at " << Oe5SamplesPath();
    fs::copy(*Oe5Samples() / "kde-oe6", root.path() / "store");
    fs::create_directories(root.path() / "tmp");
  }

  struct Item {
    std::string folder;
    std::int32_t status = 0;
    std::string text;
  };

  std::vector<Item> Walk(bool skip_empty) {
    platform::PosixFileSystem files{platform::PosixFileSystem::Options{
        {{'D', (root.path() / "store").string()}}, "WINDOWS-1252"}};
    platform::PosixTempFiles temp{(root.path() / "tmp").string()};
    platform::FakeEnvironment environment;
    platform::IconvCodePage code_page{"WINDOWS-1252"};
    platform::MemoryRegistry registry;
    kv::ui::ScriptedUserInterface ui;
    platform::Services services{registry, files, temp, environment, code_page, ui, diagnostics};
    registry.SetString(kOe5IdentitiesKey, kOe5LastUserValue, "{1}");
    registry.SetString(std::string(kOe5IdentitiesKey) + "\\{1}" + kOe5IdentityKeySuffix,
                       "Store Root", "D:\\");
    ui.AnswerFolderDialog(kv::ui::ScriptedUserInterface::FolderAnswer{std::nullopt, skip_empty});
    std::unique_ptr<ImportFilter> filter = FindFilterClass("oe5")->create(services);
    filter->SetParent(3);
    std::vector<Item> items;
    if (!filter->IsSystemFound()) return items;
    for (bool more = filter->GoFirst(); more && items.size() < 1000; more = filter->GoNext()) {
      Item item;
      item.folder = filter->GetSubItem(kSubItemFolderName).value_or("<null>");
      item.status = filter->GetItemStatus();
      if ((item.status & kItemIsFolder) == 0) {
        const fs::path file = filter->GetSubItem(kSubItemMessageFile).value_or("");
        item.text = ReadFile(file);
        fs::remove(file);
      }
      items.push_back(item);
    }
    return items;
  }

  std::map<fs::path, std::string> Snapshot() const {
    std::map<fs::path, std::string> files;
    for (const fs::path& path : FilesBelow(root.path() / "store")) files[path] = ReadFile(path);
    return files;
  }

  TempDir root;
  platform::DiagnosticLog diagnostics;
};

TEST_F(Oe5RealStore, EveryFolderAndMessageArrivesAsTheIndependentReaderFindsIt) {
  const auto before = Snapshot();
  const std::vector<Item> items = Walk(/*skip_empty=*/true);
  std::map<std::string, std::vector<std::string>> by_folder;
  for (const Item& item : items) {
    EXPECT_EQ(item.status & kItemIsFolder, 0);
    by_folder[item.folder].push_back(item.text);
  }
  std::map<std::string, std::size_t> counts;
  for (auto& [folder, texts] : by_folder) {
    counts[folder] = texts.size();
    std::sort(texts.begin(), texts.end());
  }
  EXPECT_EQ(counts, kRealFolders);
  EXPECT_TRUE(diagnostics.entries().empty());
  EXPECT_EQ(Snapshot(), before);

  if (!UndbxInstalled()) GTEST_SKIP() << "undbx is not installed: bytes not compared";
  std::optional<std::map<std::string, std::vector<std::string>>> independent =
      UndbxMessages(*Oe5Samples() / "kde-oe6");
  ASSERT_TRUE(independent);
  for (const auto& [folder, texts] : by_folder) {
    EXPECT_EQ(texts, (*independent)[UndbxFolder(folder)]) << folder;
  }
}

TEST_F(Oe5RealStore, KeptEmptyFoldersIncludeThoseWhoseFilesAreMissing) {
  std::vector<std::string> folder_items;
  for (const Item& item : Walk(/*skip_empty=*/false)) {
    if (item.status & kItemIsFolder) folder_items.push_back(item.folder);
  }
  std::vector<std::string> expected = kEmptyRealFolders;
  for (const auto& [folder, count] : kRealFolders) expected.push_back(folder);
  std::sort(expected.begin(), expected.end());
  std::sort(folder_items.begin(), folder_items.end());
  EXPECT_EQ(folder_items, expected);
}

// kvimport itself, into .eml trees and a Maildir: each folder's files hold exactly the messages the
// independent reader extracts from that folder's file.
TEST_F(Oe5RealStore, KvimportWritesEveryMessageTheIndependentReaderFinds) {
  if (!UndbxInstalled()) GTEST_SKIP() << "undbx is not installed";
  std::optional<std::map<std::string, std::vector<std::string>>> independent =
      UndbxMessages(*Oe5Samples() / "kde-oe6");
  ASSERT_TRUE(independent);
  const fs::path eml = root.path() / "eml";
  const fs::path maildir = root.path() / "Maildir";
  for (const std::string& to : {"eml:" + eml.string(), "maildir:" + maildir.string()}) {
    const std::string command = "TMPDIR='" + (root.path() / "tmp").string() + "' '" +
                                KV_KVIMPORT_PATH + "' import --filter oe5 --store '" +
                                (root.path() / "store").string() + "' --to '" + to +
                                "' --as-stored </dev/null >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  }
  std::vector<std::string> all_independent;
  for (const auto& [folder, count] : kRealFolders) {
    std::vector<std::string> texts;
    for (const fs::path& file : FilesBelow(eml / folder)) {
      if (file.parent_path() == eml / folder) texts.push_back(ReadFile(file));
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (*independent)[UndbxFolder(folder)]) << folder;
    all_independent.insert(all_independent.end(), texts.begin(), texts.end());
  }
  std::vector<std::string> in_maildir;
  for (const fs::path& file : FilesBelow(maildir)) {
    if (file.parent_path().filename() == "cur" || file.parent_path().filename() == "new") {
      in_maildir.push_back(ReadFile(file));
    }
  }
  std::sort(in_maildir.begin(), in_maildir.end());
  std::sort(all_independent.begin(), all_independent.end());
  EXPECT_EQ(in_maildir.size(), 31u);
  EXPECT_EQ(in_maildir, all_independent);
  EXPECT_TRUE(FilesBelow(root.path() / "tmp").empty());
}

}  // namespace
}  // namespace kv::testing
