// The bundled sample mail directory and the summary fuzzer's seeds are what the generator writes;
// the fuzzer's inputs and past findings replay cleanly through its own run; kvimport imports the
// sample from a real folder, every message with its bytes as stored, leaving nothing in its
// temporary folder and nothing changed in the store.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "fuzz/netscape_summary_fuzz_run.h"
#include "platform/fake/fake_environment.h"
#include "support/netscape_generated_stores.h"
#include "support/temp_dir.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kSampleDir = fs::path(KV_SOURCE_DIR) / "samples" / "netscape";
const fs::path kFuzzDir = fs::path(KV_SOURCE_DIR) / "tests" / "fuzz";

TEST(NetscapeGeneratedFiles, SampleAndFuzzSeedsAreWhatTheGeneratorWrites) {
  platform::Windows1252CodePage code_page;
  std::map<std::string, std::string> expected, found;
  for (const auto& [name, bytes] : NsSampleStore().Files())
    expected[code_page.ToUtf8(name)] = bytes;
  for (const auto& entry : fs::recursive_directory_iterator(kSampleDir)) {
    const std::string name = fs::relative(entry.path(), kSampleDir).string();
    if (entry.is_regular_file() && name != "README.md") found[name] = ReadFile(entry.path());
  }
  EXPECT_EQ(found, expected) << "run make_netscape_store sample samples/netscape";
  for (const auto& [name, bytes] : NsFuzzSeeds()) {
    EXPECT_EQ(ReadFile(kFuzzDir / "corpus" / "netscape_summary_fuzz" / ("seed-" + name)), bytes)
        << "run make_netscape_store fuzz-seeds tests/fuzz/corpus/netscape_summary_fuzz";
  }
}

TEST(NetscapeGeneratedFiles, FuzzInputsAndPastFindingsRunCleanly) {
  int replayed = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    std::error_code none;  // no regressions yet
    for (const auto& entry :
         fs::directory_iterator(kFuzzDir / folder / "netscape_summary_fuzz", none)) {
      const std::string bytes = ReadFile(entry.path());
      const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
      EXPECT_GE(fuzz::RunSummaryFuzzInput(data, bytes.size()), 0) << entry.path();
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 6);
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

class NetscapeKvimport : public ::testing::Test {
 protected:
  NetscapeKvimport() {
    fs::create_directories(dir.path() / "tmp");
    fs::copy(kSampleDir, store, fs::copy_options::recursive);
    for (const fs::path& file : FilesBelow(store)) before[file] = ReadFile(file);
  }
  ~NetscapeKvimport() override {
    EXPECT_TRUE(FilesBelow(dir.path() / "tmp").empty());
    for (const auto& [path, bytes] : before) EXPECT_EQ(ReadFile(path), bytes) << path;
  }

  // Runs kvimport with the Netscape filter on the copied store; stdout, failing on an exit code
  // other than 0.
  std::string Kvimport(const std::string& command, const std::string& args) {
    const fs::path out = dir.path() / "stdout";
    const fs::path err = dir.path() / "stderr";
    const std::string line = "TMPDIR='" + (dir.path() / "tmp").string() + "' '" + KV_KVIMPORT_PATH +
                             "' " + command + " --filter netscape --store '" + store.string() +
                             "' " + args + " </dev/null >'" + out.string() + "' 2>'" +
                             err.string() + "'";
    const int status = std::system(line.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << line << "\n" << ReadFile(err);
    return ReadFile(out);
  }
  // Imports into `format` and gives the bytes of the files written below the target folder's
  // directories named `boxes` (any directory when empty).
  std::vector<std::string> Delivered(const std::string& format,
                                     const std::set<std::string>& boxes = {}) {
    const fs::path target = dir.path() / format;
    Kvimport("import", "--to '" + format + ":" + target.string() + "'");
    std::vector<std::string> files;
    for (const fs::path& file : FilesBelow(target)) {
      if (boxes.empty() || boxes.contains(file.parent_path().filename())) {
        files.push_back(ReadFile(file));
      }
    }
    return files;
  }

  TempDir dir;
  fs::path store = dir.path() / "store";
  std::map<fs::path, std::string> before;
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
