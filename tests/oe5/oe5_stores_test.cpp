// Whole stores through kvimport: the ones the mail client wrote (../shared/samples/oe5, skipped
// when absent) give what the independent reader undbx gives, byte for byte; the test writer is
// checked against the client's files.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "support/dbx_writer.h"
#include "support/kvimport_run.h"
#include "support/shared_samples.h"
#include "support/temp_dir.h"
#include "support/undbx_reader.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;
using Texts = std::map<std::string, std::vector<std::string>>;

const fs::path kRealDir = kv::testing::SharedSamplesPath("oe5");

class Oe5RealStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::is_directory(kRealDir)) GTEST_SKIP() << "no samples at " << kRealDir;
    if (!UndbxInstalled()) GTEST_SKIP() << "undbx is not installed";
  }

  // kvimport's import of dir/store into .eml files, empty folders kept: each folder (below the
  // local root) with its messages' bytes, sorted.
  Texts Import() {
    const fs::path eml = dir.path() / "eml";
    RunKvimportOnStore(dir, "import --filter oe5 --keep-empty --to eml:'" + eml.string() + "'");
    Texts folders;
    for (const auto& entry : fs::recursive_directory_iterator(eml)) {
      const fs::path relative = fs::relative(entry.path(), eml);
      if (entry.is_directory()) folders[relative.string()];
      if (entry.is_regular_file()) {
        folders[relative.parent_path().string()].push_back(ReadFile(entry.path()));
      }
    }
    for (auto& [folder, texts] : folders) std::sort(texts.begin(), texts.end());
    return folders;
  }

  TempDir dir;
};

// Windows-1252 folder names, four files that "Folders.dbx" names but that are missing, and
// "KDE.dbx" that is "kde.dbx" on disk: 31 messages.
TEST_F(Oe5RealStore, WholeStoreGivesTheIndependentReadersFoldersAndMessages) {
  fs::copy(kRealDir / "kde-oe6", dir.path() / "store");
  Texts undbx = UndbxMessages(kRealDir / "kde-oe6").value();
  const Texts expected = {
      {"Posteingang", undbx["Posteingang"]},
      {"Posteingang/KDE", undbx["kde"]},
      {"Posteingang/KDE/kmail", undbx["kmail"]},
      {"Mailinglists", {}},
      {"Mailinglists/acpi-devel", undbx["acpi-devel"]},
      {"Mailinglists/ck", undbx["ck"]},
      {"Mailinglists/hal", undbx["hal"]},
      {"Mailinglists/hal/hal-commit", undbx["hal-commit"]},
      {"Mailinglists/linux-kernel", undbx["linux-kernel"]},
      {"Entw\xC3\xBCrfe", {}},
      {"Gel\xC3\xB6schte Objekte", {}},
      {"Gesendete Objekte", {}},
      {"Postausgang", {}},
  };
  EXPECT_EQ(Import(), expected);
  std::size_t messages = 0;
  for (const auto& [folder, texts] : expected) messages += texts.size();
  EXPECT_EQ(messages, 31u);
}

// Single folder files, one holding a deleted message that a normal read does not return, under a
// "Folders.dbx" the test writer makes.
TEST_F(Oe5RealStore, SingleFilesGiveTheIndependentReadersMessages) {
  DbxStore store = DbxLocalStore();
  for (const char* name : {"mtdbx_test", "mtdbx_test1", "mbx2mbox_test4"}) {
    store.AddFolder(name, 1);
    store.folders.back().count = 10;
    fs::create_directories(dir.path() / "store");
    fs::copy(kRealDir / "single" / (name + std::string(".dbx")), dir.path() / "store");
  }
  dir.Write("store/Folders.dbx", store.FoldersFile());
  const Texts undbx = UndbxMessages(kRealDir / "single").value();
  EXPECT_EQ(Import(), undbx);
  EXPECT_EQ(undbx.at("mtdbx_test").size() + undbx.at("mbx2mbox_test4").size(), 4u);
}

// The writer lays out a folder record as the client did ("Posteingang" rebuilt from its fields),
// both kinds of file start as the client's do, and undbx reads the writer's index trees and block
// chains as the writer meant them.
TEST_F(Oe5RealStore, WriterWritesAsTheClientDoes) {
  constexpr std::uint32_t kRecord = 0x31A0;
  const std::string real = ReadFile(kRealDir / "kde-oe6" / "Folders.dbx");
  DbxFileWriter writer(DbxFileWriter::Kind::kFolders);
  const std::uint32_t at = writer.AddRecord(
      {{DbxField::Direct(0x80, 4), DbxField::Direct(0x81, 1), DbxField::String(0x02, "Posteingang"),
        DbxField::String(0x03, "Posteingang.dbx"), DbxField::Word(0x06, 0x00800011),
        DbxField::Direct(0x87, 1), DbxField::Direct(0x89, 1), DbxField::Direct(0x8A, 3)},
       std::nullopt,
       std::nullopt});
  const std::string& w = writer.bytes();
  EXPECT_EQ(w.substr(at + 4, 4) + w[at + 10] + w.substr(at + 12),
            real.substr(kRecord + 4, 4) + real[kRecord + 10] + real.substr(kRecord + 12, 64));
  EXPECT_EQ(w.substr(0, 16), real.substr(0, 16));
  EXPECT_EQ(DbxFileWriter(DbxFileWriter::Kind::kMessages).bytes().substr(0, 16),
            ReadFile(kRealDir / "kde-oe6" / "kde.dbx").substr(0, 16));

  std::vector<DbxMessage> messages(40);
  std::vector<std::string> texts;
  for (int n = 0; n < 40; ++n) {
    texts.push_back(messages[n].text =
                        DbxTestMessage(n) + std::string(n * 97, static_cast<char>('a' + n % 26)));
  }
  std::sort(texts.begin(), texts.end());
  dir.Write("store/Flat.dbx", DbxFolderFile(messages, DbxIndexShape::kFlat));
  dir.Write("store/Chain.dbx", DbxFolderFile(messages, DbxIndexShape::kLeftChain, 6));
  EXPECT_EQ(UndbxMessages(dir.path() / "store"), (Texts{{"Chain", texts}, {"Flat", texts}}));
}

}  // namespace
}  // namespace kv::testing
