// The bundled sample mail directory: it is what the generator writes, and kvimport lists and
// imports it from a real folder on Linux, every message with its bytes as stored, leaving nothing
// in its temporary folder and nothing changed in the store.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/digest.h"
#include "platform/fake/fake_environment.h"
#include "support/netscape_generated_stores.h"
#include "support/temp_dir.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kSampleDir = fs::path(KV_SOURCE_DIR) / "samples" / "netscape";

TEST(NetscapeSampleStore, BundledFilesAreWhatTheGeneratorWrites) {
  platform::Windows1252CodePage code_page;
  std::map<std::string, std::string> expected;
  for (const auto& [name, bytes] : NsSampleStore().Files())
    expected[code_page.ToUtf8(name)] = bytes;
  std::size_t found = 0;
  for (const auto& entry : fs::recursive_directory_iterator(kSampleDir)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), kSampleDir).string();
    if (name == "README.md") continue;
    ASSERT_TRUE(expected.contains(name)) << "unexpected " << name;
    EXPECT_EQ(ReadFile(entry.path()), expected[name])
        << name << " differs: run make_netscape_store sample samples/netscape";
    ++found;
  }
  EXPECT_EQ(found, expected.size());
}

// One message of the sample as kvimport must hand it on: folder (without the root's name), state
// and bytes.
struct SampleMessage {
  std::string folder;
  std::int32_t state;
  std::string bytes;
};

std::vector<SampleMessage> SampleMessages() {
  platform::Windows1252CodePage code_page;
  std::vector<SampleMessage> messages;
  std::function<void(const NsFolder&, const std::string&)> add = [&](const NsFolder& folder,
                                                                     const std::string& parent) {
    const std::string path = parent.empty() ? folder.name : parent + "/" + folder.name;
    for (const NsMessage& message : folder.messages) {
      std::int32_t state = message.kind == kNsKindOutgoing
                               ? (folder.name == "Drafts" ? 1 : 0)
                               : ((message.flags & kNsFlagRead) != 0 ? 2 : 6);
      messages.push_back({code_page.ToUtf8(path), state, message.separator + message.text});
    }
    for (const NsFolder& subfolder : folder.subfolders) add(subfolder, path);
  };
  for (const NsFolder& folder : NsSampleStore().folders) add(folder, "");
  return messages;
}

class NetscapeKvimport : public ::testing::Test {
 protected:
  NetscapeKvimport() {
    fs::create_directories(dir.path() / "tmp");
    fs::copy(kSampleDir, store, fs::copy_options::recursive);
    fs::remove(store / "README.md");
    for (const auto& entry : fs::recursive_directory_iterator(store)) {
      if (entry.is_regular_file()) before[entry.path()] = ReadFile(entry.path());
    }
  }
  ~NetscapeKvimport() override {
    // Nothing left in the temporary folder, nothing changed in the store.
    EXPECT_TRUE(FilesBelow(dir.path() / "tmp").empty());
    for (const auto& [path, bytes] : before) EXPECT_EQ(ReadFile(path), bytes) << path;
  }

  // Runs kvimport with the Netscape filter on the copied store; exit code and stdout.
  std::pair<int, std::string> Kvimport(const std::string& command, const std::string& args) {
    const fs::path out = dir.path() / "stdout";
    const std::string line = "TMPDIR='" + (dir.path() / "tmp").string() + "' '" + KV_KVIMPORT_PATH +
                             "' " + command + " --filter netscape --store '" + store.string() +
                             "' " + args + " </dev/null >'" + out.string() + "' 2>'" +
                             (dir.path() / "stderr").string() + "'";
    const int status = std::system(line.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out)};
  }
  std::string Stderr() const { return ReadFile(dir.path() / "stderr"); }

  TempDir dir;
  fs::path store = dir.path() / "store";
  std::map<fs::path, std::string> before;
};

TEST_F(NetscapeKvimport, ListDescribesEveryMessageAsStored) {
  const auto [code, out] = Kvimport("list", "--keep-empty");
  ASSERT_EQ(code, 0) << Stderr();
  std::vector<nlohmann::json> items;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) items.push_back(nlohmann::json::parse(line));

  std::vector<SampleMessage> expected = SampleMessages();
  std::stable_sort(
      expected.begin(), expected.end(),
      [](const SampleMessage& a, const SampleMessage& b) { return a.folder < b.folder; });
  TempDir scratch;
  std::size_t next = 0;
  for (const nlohmann::json& item : items) {
    const std::string folder = item["folder"];
    ASSERT_TRUE(folder.starts_with("Netscape Messenger 4.7/")) << folder;
    if (item["status"] == 1) {
      EXPECT_EQ(folder, "Netscape Messenger 4.7/Trash");
      EXPECT_TRUE(item["message"].is_null()) << "a folder item carries no message";
      continue;
    }
    ASSERT_LT(next, expected.size());
    const SampleMessage& message = expected[next++];
    SCOPED_TRACE(message.folder);
    EXPECT_EQ(folder, "Netscape Messenger 4.7/" + message.folder);
    EXPECT_EQ(item["state"], message.state);
    const host::FileDigest digest =
        host::DigestFile(scratch.Write("m", message.bytes).string()).value();
    EXPECT_EQ(item["message"]["size"], digest.size);
    EXPECT_EQ(item["message"]["sha256"], digest.sha256_hex);
  }
  EXPECT_EQ(next, expected.size());
  EXPECT_EQ(items.size(), expected.size() + 1);

  // A start folder whose subtree is one empty folder gives its folder item alone.
  const auto [trash_code, trash] = Kvimport("list", "--keep-empty --start Trash");
  ASSERT_EQ(trash_code, 0) << Stderr();
  EXPECT_EQ(std::count(trash.begin(), trash.end(), '\n'), 1);
  EXPECT_NE(trash.find("\"message\":null"), std::string::npos) << trash;
}

TEST_F(NetscapeKvimport, ImportKeepsEveryMessagesBytes) {
  std::vector<std::string> expected;
  for (const SampleMessage& message : SampleMessages()) expected.push_back(message.bytes);
  std::sort(expected.begin(), expected.end());

  const fs::path eml = dir.path() / "eml";
  const auto [code, out] = Kvimport("import", "--to 'eml:" + eml.string() + "'");
  ASSERT_EQ(code, 0) << Stderr();
  std::vector<std::string> written;
  for (const fs::path& file : FilesBelow(eml)) written.push_back(ReadFile(file));
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, expected);

  // Maildir and mbox take the same walk: every message arrives.
  const fs::path maildir = dir.path() / "maildir";
  ASSERT_EQ(Kvimport("import", "--to 'maildir:" + maildir.string() + "'").first, 0) << Stderr();
  std::size_t delivered = 0;
  for (const fs::path& file : FilesBelow(maildir)) {
    const fs::path box = file.parent_path().filename();
    delivered += box == "cur" || box == "new" ? 1 : 0;
  }
  EXPECT_EQ(delivered, expected.size());
  const fs::path mbox = dir.path() / "mbox";
  ASSERT_EQ(Kvimport("import", "--to 'mbox:" + mbox.string() + "'").first, 0) << Stderr();
  std::string all;
  for (const fs::path& file : FilesBelow(mbox)) all += ReadFile(file);
  for (const SampleMessage& message : SampleMessages()) {
    const std::size_t id = message.bytes.find("Message-ID: ");
    EXPECT_NE(all.find(message.bytes.substr(id, message.bytes.find('\r', id) - id)),
              std::string::npos);
  }
}

}  // namespace
}  // namespace kv::testing
