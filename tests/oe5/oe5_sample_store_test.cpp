// The bundled sample store and the fuzzer's seed corpus: both are what the generator writes; the
// sample imports through kvimport as its README says, and every seed and past finding runs cleanly
// through the fuzzer's own run, reaching the messages it was made for.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>

#include "fuzz/oe5_fuzz_run.h"
#include "support/oe5_generated_stores.h"
#include "support/temp_dir.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kSampleDir = fs::path(KV_SOURCE_DIR) / "samples" / "oe5";
const fs::path kFuzzDir = fs::path(KV_SOURCE_DIR) / "tests" / "fuzz";

TEST(Oe5SampleStore, BundledFilesAreWhatTheGeneratorWrites) {
  const DbxStore store = Oe5SampleStore();
  std::map<std::string, std::string> expected;
  for (const auto& [name, bytes] : store.Files()) expected[DbxDiskName(name)] = bytes;
  for (const auto& [name, bytes] : expected) {
    EXPECT_EQ(ReadFile(kSampleDir / name), bytes) << name << " differs: run make_oe5_store sample";
  }
  for (const auto& entry : fs::directory_iterator(kSampleDir)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "README.md" || expected.count(name) == 1) << "unexpected " << name;
  }
}

// `kvimport list` of the sample with `options`: its output, empty when it failed.
std::string ListSample(const std::string& options) {
  TempDir dir;
  const std::string command = "TMPDIR='" + dir.path().string() + "' '" + KV_KVIMPORT_PATH +
                              "' list --filter oe5 " + options + " --store '" +
                              kSampleDir.string() + "' >'" + (dir.path() / "out").string() +
                              "' 2>&1";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(dir.path() / "out");
  return ReadFile(dir.path() / "out");
}

TEST(Oe5SampleStore, KvimportListsEveryFolderAndMessage) {
  const std::string out = ListSample("--keep-empty");
  // Nine messages and nine folder items; the news folder and the local root are not walked.
  std::size_t messages = 0, folder_items = 0;
  for (std::size_t at = out.find("\"status\":"); at != std::string::npos;
       at = out.find("\"status\":", at + 1)) {
    (out[at + 9] == '1' ? folder_items : messages) += 1;
  }
  EXPECT_EQ(messages, 9u);
  EXPECT_EQ(folder_items, 9u);
  EXPECT_EQ(out.find("news.example.com"), std::string::npos);
  EXPECT_NE(out.find("\"folder\":\"Local Folders/Priv\xC3\xA9\",\"status\":0,\"state\":6"),
            std::string::npos);
  EXPECT_NE(out.find("\"folder\":\"Local Folders/Inbox\",\"status\":2,\"state\":2"),
            std::string::npos);
}

// --start picks a folder in the dialog by its path below the root item: that folder and its
// subfolders are listed, nothing else.
TEST(Oe5SampleStore, KvimportStartsAtAChosenSubfolder) {
  const std::string out = ListSample("--start Inbox/Projects");
  std::vector<std::string> folders;
  for (std::size_t at = out.find("\"folder\":\""); at != std::string::npos;
       at = out.find("\"folder\":\"", at + 1)) {
    folders.push_back(out.substr(at + 10, out.find('"', at + 10) - at - 10));
  }
  EXPECT_EQ(folders, (std::vector<std::string>{"Local Folders/Inbox/Projects",
                                               "Local Folders/Inbox/Projects/Archive 1998"}));
}

int RunSeed(const std::string& bytes) {
  return fuzz::RunOe5FuzzInput(
      fuzz::DecodeOe5FuzzInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TEST(Oe5FuzzCorpus, SeedsAreWhatTheGeneratorWritesAndReachTheMessages) {
  // Items per seed. The damaged chains give three messages before the record without a size ends
  // the folder; the folder tree gives, from one file of three messages, each folder's count of
  // them (2, 1, 5 cut to 3, 2) and a folder item each, its self-parented folder left out.
  const std::map<std::string, int> expected_items = {
      {"flat", 3},           {"left-chain", 20},     {"entry-subtrees", 20},
      {"damaged-chains", 3}, {"indirect-fields", 2}, {"folder-tree", 12}};
  for (const auto& [name, bytes] : Oe5FuzzSeeds()) {
    EXPECT_EQ(ReadFile(kFuzzDir / "corpus" / "oe5_fuzz" / ("seed-" + name)), bytes)
        << name << " differs: run make_oe5_store fuzz-seeds tests/fuzz/corpus/oe5_fuzz";
    EXPECT_EQ(RunSeed(bytes), expected_items.at(name)) << name;
  }
}

TEST(Oe5FuzzCorpus, SeedsAndPastFindingsRunCleanly) {
  int replayed = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    const fs::path dir = kFuzzDir / folder / "oe5_fuzz";
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      SCOPED_TRACE(entry.path().string());
      EXPECT_GE(RunSeed(ReadFile(entry.path())), 0);
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 6);
}

}  // namespace
}  // namespace kv::testing
