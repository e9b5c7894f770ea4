// The bundled sample store and the fuzzer's seeds are what the generator writes; the fuzzer's
// inputs replay cleanly; the filter imports the sample from a real folder on Linux (drive map,
// case-insensitive names, code page) without changing it.

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "app/filter_classes.h"
#include "app/process_state.h"
#include "fuzz/oe4_fuzz_run.h"
#include "oe4/oe_filter.h"
#include "oe4/oe_store_discovery.h"
#include "platform/fake/fake_environment.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "platform/registry.h"
#include "support/fuzz_inputs.h"
#include "support/oe4_generated_stores.h"
#include "support/temp_dir.h"
#include "ui/scripted_ui.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kSampleDir = fs::path(KV_SOURCE_DIR) / "samples" / "oe4";

// Items per fuzz seed: the messages of every folder that uses the mailbox, the deleted one left
// out.
TEST(Oe4SampleStore, SampleAndFuzzSeedsAreWhatTheGeneratorWritesAndReplayCleanly) {
  const std::map<std::string, std::string> expected = Oe4SampleStore().Files();
  for (const auto& [name, bytes] : expected) {
    EXPECT_EQ(ReadFile(kSampleDir / name), bytes) << name << " differs: run make_oe4_store sample";
  }
  for (const auto& entry : fs::directory_iterator(kSampleDir)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "README.md" || expected.count(name) == 1) << "unexpected " << name;
  }
  ReplayFuzzInputs("oe4_fuzz", Oe4FuzzSeeds(),
                   {{"flat", 3},
                    {"nested-second-layout", 9},
                    {"sticky-layout", 0},
                    {"listing", 3},
                    {"empty-folder", 1},
                    {"zero-index-length", 4}},
                   "make_oe4_store", [](const std::string& bytes) {
                     return fuzz::RunOe4FuzzInput(fuzz::DecodeOe4FuzzInput(
                         reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
                   });
}

// An item as the host sees it: folder, status, state, and whether a message file came with it.
using Item = std::tuple<std::string, std::int32_t, std::int32_t, bool>;

class Oe4SampleImport : public ::testing::Test {
 protected:
  Oe4SampleImport() {
    ResetProcessState();
    // The store as copied from a Windows disk, with names in other capitals.
    fs::create_directories(root.path() / "drive-c" / "oe");
    fs::copy(kSampleDir, root.path() / "drive-c" / "oe" / "mail");
    fs::remove(root.path() / "drive-c" / "oe" / "mail" / "README.md");
    fs::create_directories(root.path() / "tmp");
    registry.SetString(kOeRegistryKey, "Store Root", "C:\\OE");
    ui.set_report_unanswered(false);
  }
  ~Oe4SampleImport() override { ResetProcessState(); }

  // Every store file with its bytes and modification time.
  std::map<fs::path, std::pair<std::string, fs::file_time_type>> Snapshot() const {
    std::map<fs::path, std::pair<std::string, fs::file_time_type>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root.path() / "drive-c")) {
      if (entry.is_regular_file()) {
        files[entry.path()] = {ReadFile(entry.path()), fs::last_write_time(entry.path())};
      }
    }
    return files;
  }

  std::vector<Item> Import(bool skip_empty) {
    auto filter = FindFilterClass("oe4")->create(services);
    filter->SetParent(7);
    ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{std::nullopt, skip_empty});
    std::vector<Item> items;
    if (!filter->IsSystemFound()) return items;
    for (bool more = filter->GoFirst(); more && items.size() < 100; more = filter->GoNext()) {
      const std::string file = filter->GetSubItem(kSubItemMessageFile).value_or("");
      const bool has_file = file != kEmptyFolderMarker && fs::is_regular_file(file);
      if (has_file) fs::remove(file);
      items.push_back({filter->GetSubItem(kSubItemFolderName).value_or("<null>"),
                       filter->GetItemStatus(), filter->GetItemExStatus(), has_file});
    }
    return items;
  }

  TempDir root;
  platform::MemoryRegistry registry;
  platform::PosixFileSystem files{platform::PosixFileSystem::Options{
      {{'C', (root.path() / "drive-c").string()}}, "WINDOWS-1252"}};
  platform::PosixTempFiles temp{(root.path() / "tmp").string()};
  platform::FakeEnvironment environment;
  platform::IconvCodePage code_page{"WINDOWS-1252"};
  ui::ScriptedUserInterface ui;
  platform::DiagnosticLog diagnostics;
  platform::Services services{registry, files, temp, environment, code_page, ui, diagnostics};
};

TEST_F(Oe4SampleImport, EveryFolderAndStateArrivesAndTheStoreIsUnchanged) {
  const auto before = Snapshot();
  const std::vector<Item> expected = {
      {"Inbox", 0, 2, true},
      {"Inbox", 0, 6, true},
      {"Inbox", kItemHasStatusMark, 2, true},
      {"Inbox/Projects", 0, 6, true},
      {"Inbox/Projects/Archive 1998", 0, 2, true},
      {"Outbox", 0, 1, true},
      {"Sent Items", 0, 0, true},
      {"Drafts", 0, 1, true},
      {"Priv\xC3\xA9", 0, 6, true},
  };
  EXPECT_EQ(Import(/*skip_empty=*/true), expected);

  std::vector<Item> with_empty = Import(/*skip_empty=*/false);
  ASSERT_EQ(with_empty.size(), expected.size() + 1);
  EXPECT_EQ(with_empty[7], (Item{"Deleted Items", kItemIsFolder, 2, false}));

  EXPECT_EQ(Snapshot(), before);
}

}  // namespace
}  // namespace kv::testing
