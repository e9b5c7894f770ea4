// kvimport on Eudora stores, whose filter hands each message over in pieces: list shows the
// pieces, import rebuilds whole messages that a mail library (Python's email) reads back with their
// HTML bodies, embedded images and attachments; a missing attachment is named in the message, on
// the error stream and in the exit code. The bundled sample store, and the real store of a Windows
// installation (skipped where ../shared/samples is absent).

#include <gtest/gtest.h>

#include <filesystem>

#include "support/golden.h"
#include "support/python_email.h"
#include "support/shared_samples.h"
#include "support/transcript.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using kv::testing::FilesBelow;

class EudoraImportTest : public ::testing::Test {
 protected:
  // Every .eml file below `folder` as Python's email package reads it (DescribedMessage); nullopt
  // when python3 is missing.
  std::optional<std::string> MessagesBelow(const fs::path& folder) {
    std::string text;
    for (const fs::path& file : FilesBelow(folder)) {
      const Json parsed = kv::testing::ParseWithPython(file);
      if (parsed.is_null()) return std::nullopt;
      EXPECT_EQ(parsed["defects"], Json::array()) << file;
      text += "== " + file.lexically_relative(folder).string() + "\n" +
              kv::testing::DescribedMessage(parsed);
    }
    return text;
  }

  kv::testing::TempDir dir_;
  kv::testing::KvimportTranscript kvimport_{dir_};
};

// Eudora's inbox "In" becomes the Maildir's INBOX, not a folder ".In". A rebuilt message comes out
// the same on every run, so a second run finds each one there. info sizes a message taken apart
// by its text files, rather than calling it unreadable.
TEST_F(EudoraImportTest, SampleStoreComesBackWholeAndAMissingAttachmentIsNamed) {
  const fs::path store = dir_.path() / "store", output = dir_.path() / "eml";
  fs::copy(fs::path(KV_SOURCE_DIR) / "samples" / "eudora", store, fs::copy_options::recursive);
  fs::remove(store / "attach" / "report.txt");
  kvimport_.Run("list --filter eudora --keep-empty --store $DIR/store");
  kvimport_.Run("info --filter eudora --store $DIR/store");
  kvimport_.Run("import --filter eudora --store $DIR/store --to eml:$DIR/eml");
  const std::string to_maildir = "import --filter eudora --store $DIR/store --to maildir:$DIR/mail";
  kvimport_.Run(to_maildir);
  kvimport_.Run(to_maildir);
  kvimport_.AddFiles("$DIR/mail");
  kv::testing::ExpectGolden(kvimport_.text, "host/eudora-sample.txt");

  // Each message as a mail library reads it back: its HTML body, embedded image, the attachments
  // of received and sent mail byte for byte, the rich text part, and a note naming the attachment
  // that was not found.
  const std::optional<std::string> messages = MessagesBelow(output);
  if (!messages) GTEST_SKIP() << "python3 is not installed";
  kv::testing::ExpectGolden(*messages, "host/eudora-sample-messages.txt");
}

// The real store of a Windows installation: five messages with their HTML bodies, embedded images
// and attachments; every file the store keeps apart comes back in some message, byte for byte.
TEST_F(EudoraImportTest, RealStoreImportsFiveMessagesWithTheirAttachments) {
  const auto store = kv::testing::SharedSamples("eudora/win71");
  if (!store) GTEST_SKIP() << "no real samples at " << kv::testing::SharedSamplesPath("eudora");
  fs::create_directory_symlink(*store, dir_.path() / "store");
  kvimport_.Run("list --filter eudora --keep-empty --store $DIR/store");
  kvimport_.Run("import --filter eudora --store $DIR/store --to eml:$DIR/eml");
  kv::testing::ExpectGolden(kvimport_.text, "host/eudora-real-store.txt");
  const std::optional<std::string> messages = MessagesBelow(dir_.path() / "eml");
  if (!messages) GTEST_SKIP() << "python3 is not installed";
  kv::testing::ExpectGolden(*messages, "host/eudora-real-messages.txt");
}

}  // namespace
}  // namespace kv::host
