// The bundled sample store and the fuzzer's seeds are what the generator writes; the filter
// imports the sample from a real folder on Linux, and every seed and past finding runs cleanly
// through the fuzzer's own run.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/filter_classes.h"
#include "fuzz/eudora_fuzz_run.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "support/eudora_generated_stores.h"
#include "support/temp_dir.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kSampleDir = fs::path(KV_SOURCE_DIR) / "samples" / "eudora";
const fs::path kFuzzDir = fs::path(KV_SOURCE_DIR) / "tests" / "fuzz";

TEST(EudoraSampleStore, BundledFilesAreWhatTheGeneratorWrites) {
  const std::map<std::string, std::string> expected = EudoraSampleStore().Files();
  for (const auto& [name, bytes] : expected) {
    EXPECT_EQ(ReadFile(kSampleDir / name), bytes) << name << " differs: run make_eudora_store";
  }
  for (const auto& entry : fs::recursive_directory_iterator(kSampleDir)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), kSampleDir).generic_string();
    EXPECT_TRUE(name == "README.md" || expected.count(name) == 1) << "unexpected " << name;
  }
}

TEST(EudoraSampleStore, FilterImportsEveryFolderAndState) {
  TempDir temp_root;
  platform::MemoryRegistry registry;
  platform::PosixFileSystem files{platform::PosixFileSystem::Options{{}, "WINDOWS-1252"}};
  platform::PosixTempFiles temp{temp_root.path().string()};
  platform::FakeEnvironment environment;
  platform::IconvCodePage code_page{"WINDOWS-1252"};
  ui::ScriptedUserInterface ui;
  platform::DiagnosticLog diagnostics;
  platform::Services services{registry, files, temp, environment, code_page, ui, diagnostics};
  ui.set_report_unanswered(false);
  ui.AnswerLocation(kSampleDir.string());
  ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{std::nullopt, false});

  std::unique_ptr<ImportFilter> filter = FindFilterClass("eudora")->create(services);
  filter->SetParent(1);
  ASSERT_TRUE(filter->IsSystemFound());
  using Item = std::tuple<std::string, std::int32_t, std::int32_t, std::string>;
  std::vector<Item> items;
  for (bool more = filter->GoFirst(); more && items.size() < 50; more = filter->GoNext()) {
    items.emplace_back(filter->GetSubItem(kSubItemFolderName).value_or(""), filter->GetItemStatus(),
                       filter->GetItemExStatus(), filter->GetSubItem(kSubItemSubject).value_or(""));
  }
  const std::vector<Item> expected = {
      {"In", 0, 2, "Caf\xC3\xA9 on Friday"},
      {"In", 0, 6, "August newsletter"},
      {"In", kItemHasStatusMark, 2, "Quarterly report and photo"},
      {"Out", 0, 0, "Re: Quarterly report and photo"},
      {"Out", 0, 1, "Re: Caf\xC3\xA9 on Friday"},
      {"Trash", kItemIsFolder, 0, ""},
      {"Projects", kItemIsFolder, 0, ""},
      {"Priv\xC3\xA9", 0, 2, "Message 7"},
      {"Projects/Kvimport", 0, 2, "Styled notes"},
      {"Projects/Kvimport", 0, 6, "Greetings"},
  };
  EXPECT_EQ(items, expected);
  EXPECT_TRUE(diagnostics.entries().empty());
}

int RunSeed(const std::string& bytes) {
  return fuzz::RunEudoraFuzzInput(fuzz::DecodeEudoraFuzzInput(
      reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TEST(EudoraFuzzCorpus, SeedsAreWhatTheGeneratorWritesAndReachTheMessages) {
  const std::map<std::string, int> expected_items = {
      {"plain", 3}, {"parts", 3}, {"separator-mid-line", 3}, {"no-summary-keep-empty", 4}};
  for (const auto& [name, bytes] : EudoraFuzzSeeds()) {
    EXPECT_EQ(ReadFile(kFuzzDir / "corpus" / "eudora_fuzz" / ("seed-" + name)), bytes)
        << name << " differs: run make_eudora_store fuzz-seeds tests/fuzz/corpus/eudora_fuzz";
    EXPECT_EQ(RunSeed(bytes), expected_items.at(name)) << name;
  }
}

TEST(EudoraFuzzCorpus, SeedsAndPastFindingsRunCleanly) {
  int replayed = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    const fs::path dir = kFuzzDir / folder / "eudora_fuzz";
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      SCOPED_TRACE(entry.path().string());
      EXPECT_GE(RunSeed(ReadFile(entry.path())), 0);
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 4);
}

}  // namespace
}  // namespace kv::testing
