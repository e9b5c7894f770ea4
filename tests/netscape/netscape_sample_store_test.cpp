// The bundled sample mail directory and the summary fuzzer's seeds are what the generator writes,
// the fuzzer's inputs replay cleanly, and kvimport imports the sample with every message's bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "fuzz/netscape_summary_fuzz_run.h"
#include "platform/fake/fake_environment.h"
#include "support/fuzz_inputs.h"
#include "support/kvimport_run.h"
#include "support/netscape_generated_stores.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kSampleDir = fs::path(KV_SOURCE_DIR) / "samples" / "netscape";

// Messages per fuzz seed.
TEST(NetscapeGeneratedFiles, SampleAndFuzzSeedsAreWhatTheGeneratorWritesAndReplayCleanly) {
  platform::Windows1252CodePage code_page;
  std::map<std::string, std::string> expected, found;
  for (const auto& [name, bytes] : NsSampleStore().Files())
    expected[code_page.ToUtf8(name)] = bytes;
  for (const fs::path& file : FilesBelow(kSampleDir)) {
    const std::string name = fs::relative(file, kSampleDir).string();
    if (name != "README.md") found[name] = ReadFile(file);
  }
  EXPECT_EQ(found, expected) << "run make_netscape_store sample samples/netscape";
  const std::map<std::string, int> items = {{"root-leaf", 7},    {"two-levels", 7},
                                            {"three-levels", 7}, {"split-keys", 6},
                                            {"unnamed", 7},      {"counts-zero", 0}};
  ReplayFuzzInputs("netscape_summary_fuzz", NsFuzzSeeds(), items, "make_netscape_store",
                   fuzz::RunSummaryFuzz);
}

// The bytes of every message of the sample as stored, sorted.
std::vector<std::string> SampleMessages() {
  std::vector<std::string> messages;
  std::function<void(const NsFolder&)> add = [&](const NsFolder& folder) {
    for (const NsMessage& message : folder.messages) {
      messages.push_back(message.separator + message.text);
    }
    for (const NsFolder& subfolder : folder.subfolders) add(subfolder);
  };
  for (const NsFolder& folder : NsSampleStore().folders) add(folder);
  std::sort(messages.begin(), messages.end());
  return messages;
}

// kvimport imports a copy of the sample into `format`: the bytes of the files written below the
// target's directories named `boxes` (any directory when empty).
class NetscapeKvimport : public ::testing::Test {
 protected:
  NetscapeKvimport() { fs::copy(kSampleDir, dir.path() / "store", fs::copy_options::recursive); }
  std::vector<std::string> Delivered(const std::string& format,
                                     const std::set<std::string>& boxes = {}) {
    const fs::path target = dir.path() / format;
    RunKvimportOnStore(dir,
                       "import --filter netscape --to '" + format + ":" + target.string() + "'");
    std::vector<std::string> files;
    for (const fs::path& file : FilesBelow(target)) {
      if (boxes.empty() || boxes.contains(file.parent_path().filename())) {
        files.push_back(ReadFile(file));
      }
    }
    return files;
  }

  TempDir dir;
};

TEST_F(NetscapeKvimport, ImportKeepsEveryMessagesBytes) {
  const std::vector<std::string> expected = SampleMessages();
  std::vector<std::string> eml = Delivered("eml");
  std::sort(eml.begin(), eml.end());
  EXPECT_EQ(eml, expected);
  // Maildir and mbox take the same walk: every message arrives.
  EXPECT_EQ(Delivered("maildir", {"cur", "new"}).size(), expected.size());
  std::string mbox;
  for (const std::string& file : Delivered("mbox")) mbox += file;
  for (const std::string& bytes : expected) {
    const std::size_t id = bytes.find("Message-ID: ");
    EXPECT_NE(mbox.find(bytes.substr(id, bytes.find('\r', id) - id)), std::string::npos);
  }
}

}  // namespace
}  // namespace kv::testing
