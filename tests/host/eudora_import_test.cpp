// kvimport on Eudora stores, whose filter hands each message over in pieces: list shows the
// pieces, import rebuilds whole messages that a mail library (Python's email) reads back with their
// HTML bodies, embedded images and attachments; a missing attachment is named in the message, on
// the error stream and in the exit code. The bundled sample store, and the real store of a Windows
// installation (skipped where ../shared/samples is absent).

#include <gtest/gtest.h>

#include <filesystem>

#include "host/exit_codes.h"
#include "support/kvimport_run.h"
#include "support/python_email.h"
#include "support/shared_samples.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using kv::testing::FilesBelow;
using kv::testing::FromHex;
using kv::testing::ReadFile;

class EudoraImportTest : public ::testing::Test {
 protected:
  // Runs kvimport; the exit code, its output in `out_` and `err_`.
  int Kvimport(const std::string& args) {
    kv::testing::KvimportRun run = kv::testing::RunKvimport(dir_, args);
    out_ = std::move(run.out);
    err_ = std::move(run.err);
    return run.exit_code;
  }

  // Every message written below `folder`, parsed, in file order; nullopt when python3 is missing.
  std::optional<std::vector<Json>> Messages(const fs::path& folder) {
    std::vector<Json> messages;
    for (const fs::path& file : FilesBelow(folder)) {
      if (file.filename() == "maildirfolder") continue;
      Json parsed = kv::testing::ParseWithPython(file);
      if (parsed.is_null()) return std::nullopt;
      EXPECT_EQ(parsed["defects"], Json::array()) << file;
      messages.push_back(std::move(parsed));
    }
    return messages;
  }

  // The parts of `messages` (leaves only) as "type name" -> bytes, for lookups.
  static std::multimap<std::string, std::string> Leaves(const std::vector<Json>& messages) {
    std::multimap<std::string, std::string> leaves;
    for (const Json& message : messages) {
      for (const Json& part : message["parts"]) {
        if (!part.contains("data")) continue;
        std::string name = part["filename"].is_string() ? part["filename"].get<std::string>() : "";
        leaves.emplace(part["type"].get<std::string>() + " " + name, FromHex(part["data"]));
      }
    }
    return leaves;
  }

  kv::testing::TempDir dir_;
  std::string out_, err_;
};

TEST_F(EudoraImportTest, SampleStoreComesBackWholeAndAMissingAttachmentIsNamed) {
  const fs::path store = dir_.path() / "store";
  fs::copy(fs::path(KV_SOURCE_DIR) / "samples" / "eudora", store, fs::copy_options::recursive);
  fs::remove(store / "attach" / "report.txt");

  ASSERT_EQ(Kvimport("list --filter eudora --keep-empty --store '" + store.string() + "'"), kExitOk)
      << err_;
  const std::vector<Json> items = kv::testing::JsonLines(out_);
  using Item = std::tuple<std::string, int, int, Json>;  // folder, status, state, subject
  std::vector<Item> walked;
  for (const Json& item : items) {
    walked.emplace_back(item["folder"], item["status"], item["state"],
                        item["headers"].is_null() ? Json() : item["headers"]["subject"]);
  }
  EXPECT_EQ(walked, (std::vector<Item>{{"In", 0, 2, "Caf\xC3\xA9 on Friday"},
                                       {"In", 0, 6, "August newsletter"},
                                       {"In", 2, 2, "Quarterly report and photo"},
                                       {"Out", 0, 0, "Re: Quarterly report and photo"},
                                       {"Out", 0, 1, "Re: Caf\xC3\xA9 on Friday"},
                                       {"Trash", 1, 0, nullptr},
                                       {"Projects", 1, 0, nullptr},
                                       {"Priv\xC3\xA9", 0, 2, "Message 7"},
                                       {"Projects/Kvimport", 0, 2, "Styled notes"},
                                       {"Projects/Kvimport", 0, 6, "Greetings"}}));
  ASSERT_EQ(items.size(), 10u);
  EXPECT_TRUE(items[1]["html"].is_object());
  EXPECT_EQ(items[2]["attachments"],
            Json({"C:\\Program Files\\Eudora\\Attach\\report.txt",
                  "C:\\Program Files\\Eudora\\Attach\\meeting photo.gif"}));
  EXPECT_EQ(items[3]["attachments"], Json({"C:\\Program Files\\Eudora\\Attach\\budget.csv"}));
  EXPECT_TRUE(items[8]["rich"].is_object());
  EXPECT_TRUE(FilesBelow(dir_.path() / "tmp").empty()) << "the handed-over files are removed";
  // info sizes a message taken apart by its text files, rather than calling it unreadable.
  ASSERT_EQ(Kvimport("info --filter eudora --store '" + store.string() + "'"), kExitOk) << err_;
  EXPECT_NE(out_.find("total: 6 folders, 8 messages, 565 B, 2 unread, 1 unsent, 1 sent\n"),
            std::string::npos)
      << out_;
  EXPECT_TRUE(FilesBelow(dir_.path() / "tmp").empty());

  const fs::path output = dir_.path() / "eml";
  EXPECT_EQ(Kvimport("import --filter eudora --store '" + store.string() +
                     "' --to eml:" + output.string()),
            kExitSkippedItems);
  EXPECT_NE(err_.find("report.txt: attachment not found"), std::string::npos) << err_;
  EXPECT_NE(err_.find("1 part of the store could not be read"), std::string::npos) << err_;
  EXPECT_TRUE(FilesBelow(dir_.path() / "tmp").empty());
  const std::optional<std::vector<Json>> messages = Messages(output);
  if (!messages) GTEST_SKIP() << "python3 is not installed";
  ASSERT_EQ(messages->size(), 8u);
  const auto leaves = Leaves(*messages);
  auto bytes = [&](const std::string& key) {
    auto found = leaves.find(key);
    return found == leaves.end() ? std::string("(none)") : found->second;
  };
  EXPECT_NE(bytes("text/html ").find("<html>"), std::string::npos) << "the HTML body is not blank";
  EXPECT_EQ(bytes("image/gif logo.gif"), ReadFile(store / "Embedded" / "logo.gif"));
  EXPECT_EQ(bytes("image/gif meeting photo.gif"), ReadFile(store / "attach" / "meeting photo.gif"));
  EXPECT_EQ(bytes("text/csv budget.csv"), ReadFile(store / "attach" / "budget.csv"))
      << "the attachment of sent mail";
  EXPECT_NE(bytes("text/plain message.txt").find("styled"), std::string::npos);
  bool noted = false;
  for (const auto& [key, data] : leaves)
    noted |= data.find("Attach\\report.txt") != std::string::npos;
  EXPECT_TRUE(noted) << "the message names its missing attachment";
}

// Eudora's inbox "In" becomes the Maildir's INBOX, not a folder ".In". A rebuilt message comes out
// the same on every run, so a second run finds each one there.
TEST_F(EudoraImportTest, ASecondRunIntoTheSameMaildirAddsNothing) {
  const fs::path store = dir_.path() / "store", maildir = dir_.path() / "maildir";
  fs::copy(fs::path(KV_SOURCE_DIR) / "samples" / "eudora", store, fs::copy_options::recursive);
  const std::string import =
      "import --filter eudora --store '" + store.string() + "' --to maildir:" + maildir.string();
  ASSERT_EQ(Kvimport(import), kExitOk) << err_;
  EXPECT_EQ(FilesBelow(maildir / "new").size() + FilesBelow(maildir / "cur").size(), 3u);
  EXPECT_FALSE(fs::exists(maildir / ".In"));
  const std::vector<fs::path> first = FilesBelow(dir_.path() / "maildir");
  ASSERT_EQ(Kvimport(import), kExitOk) << err_;
  EXPECT_NE(err_.find("0 messages (0 bytes, 0.0 MB) in 4 folders, 8 already there"),
            std::string::npos)
      << err_;
  EXPECT_EQ(FilesBelow(dir_.path() / "maildir"), first);
}

TEST_F(EudoraImportTest, RealStoreImportsFiveMessagesWithTheirAttachments) {
  const auto store = kv::testing::SharedSamples("eudora/win71");
  if (!store) GTEST_SKIP() << "no real samples at " << kv::testing::SharedSamplesPath("eudora");
  ASSERT_EQ(Kvimport("list --filter eudora --keep-empty --store '" + store->string() + "'"),
            kExitOk)
      << err_;
  std::vector<std::tuple<std::string, int, int, std::string, std::vector<std::string>>> walked;
  for (const Json& item : kv::testing::JsonLines(out_)) {
    std::vector<std::string> names;  // the attachments' file names
    for (const std::string path : item["attachments"].is_array() ? item["attachments"] : Json()) {
      names.push_back(path.substr(path.find_last_of("\\/") + 1));
    }
    walked.emplace_back(item["folder"], item["status"], item["state"],
                        item["headers"].is_null() ? "" : item["headers"]["subject"], names);
  }
  using Names = std::vector<std::string>;
  EXPECT_EQ(
      walked,
      (decltype(walked){
          {"In", 0, 6, "Email Attachment Test", Names{"stevan_white", "Email Attachment Test"}},
          {"In", 0, 6, "UT Department of Computer Science Newsletter:  News@UTCS",
           Names{"text.htm"}},
          {"In", 0, 6, "Appointment reminder from Austin Dental Arts", Names{"text.htm"}},
          {"In", 0, 6, "This is a test", Names{"tools.arlut.utexas.edugash2.htm"}},
          {"In", 0, 6, "Another email test", Names{"text.htm"}},
          {"Out", 1, 0, "", Names{}},
          {"Junk", 1, 0, "", Names{}},
          {"Trash", 1, 0, "", Names{}}}));

  const fs::path output = dir_.path() / "maildir";
  ASSERT_EQ(Kvimport("import --filter eudora --store '" + store->string() +
                     "' --to maildir:" + output.string()),
            kExitOk)
      << err_;
  const std::optional<std::vector<Json>> messages = Messages(output);
  if (!messages) GTEST_SKIP() << "python3 is not installed";
  ASSERT_EQ(messages->size(), 5u);
  const auto leaves = Leaves(*messages);
  std::size_t html_parts = 0;
  for (const auto& [key, data] : leaves) {
    if (!key.starts_with("text/html ")) continue;
    ++html_parts;
    EXPECT_NE(data.find_first_not_of(" \t\r\n"), std::string::npos) << key << " is blank";
  }
  EXPECT_EQ(html_parts, 4u);
  const auto [plain, plain_end] = leaves.equal_range("text/plain ");
  EXPECT_TRUE(std::any_of(plain, plain_end, [](const auto& leaf) {
    return leaf.second.starts_with("Testing a two level attachment.");
  }));
  // Every file the store keeps apart comes back in some message, byte for byte.
  for (const char* folder : {"attach", "Embedded"}) {
    for (const fs::path& file : FilesBelow(*store / folder)) {
      SCOPED_TRACE(file);
      bool found = false;
      for (const auto& [key, data] : leaves) {
        found |= key.ends_with(" " + file.filename().string()) && data == ReadFile(file);
      }
      EXPECT_TRUE(found);
    }
  }
}

}  // namespace
}  // namespace kv::host
