// The store writer against the Eudora mail folder of a real Windows installation
// (../shared/samples/eudora/win71, see its PROVENANCE.md; skipped when absent): the same bytes for
// the same content. What the filter hands over for it and for the bundled sample store, item by
// item, is in tests/golden/eudora/.

#include <gtest/gtest.h>

#include <filesystem>

#include "eudora_fixture.h"
#include "platform/byte_view.h"
#include "support/eudora_generated_stores.h"
#include "support/eudora_store_writer.h"
#include "support/golden.h"
#include "support/shared_samples.h"
#include "support/temp_dir.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

#define SKIP_WITHOUT_REAL_STORE()                                               \
  const auto real = SharedSamples("eudora/win71");                              \
  if (!real) GTEST_SKIP() << SharedSamplesPath("eudora/win71") << " is absent"; \
  const fs::path& kRealStore = *real

// The real mailbox taken apart at its separator lines, with each message's summary bytes: this
// reading is the test's own, so that the writer is checked against the store, not the reader.
std::vector<EudoraMessage> RealMessages(const std::string& mailbox, const std::string& toc) {
  const std::string separator = "From ???@??? ";
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; (at = mailbox.find(separator, at)) != std::string::npos; ++at) {
    if (at == 0 || mailbox[at - 1] == '\n') starts.push_back(at);
  }
  std::vector<EudoraMessage> messages;
  const ByteView summary(reinterpret_cast<const std::uint8_t*>(toc.data()), toc.size());
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : mailbox.size();
    const std::size_t line_end = mailbox.find("\r\n", starts[i]);
    EudoraMessage message;
    message.separator_date =
        mailbox.substr(starts[i] + separator.size(), line_end - starts[i] - separator.size());
    message.text = mailbox.substr(line_end + 2, end - line_end - 2);
    const std::size_t record = kEudoraTocHeaderSize + kEudoraTocRecordSize * i;
    message.state = summary.u8(record + 12).value_or(0xFF);
    message.encoding = summary.u8(record + 14).value_or(0xFF);
    message.mime = summary.u8(record + 15).value_or(0xFF);
    message.priority = summary.u8(record + 16).value_or(0xFF);
    messages.push_back(message);
  }
  return messages;
}

TEST(EudoraRealStore, WriterWritesWhatEudoraWrote) {
  SKIP_WITHOUT_REAL_STORE();
  EXPECT_EQ(EudoraFolderMap({{"In", "In.mbx", "S", "Y"},
                             {"Out", "Out.mbx", "S", "N"},
                             {"Junk", "Junk.mbx", "S", "N"},
                             {"Trash", "Trash.mbx", "S", "N"}}),
            ReadFile(kRealStore / "descmap.pce"));

  const std::string mailbox = ReadFile(kRealStore / "In.mbx");
  const std::string toc = ReadFile(kRealStore / "In.toc");
  const std::vector<EudoraMessage> messages = RealMessages(mailbox, toc);
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(EudoraMailboxFile(messages), mailbox);

  // The fields the writer and the reader know agree byte for byte; the rest is Eudora's own.
  const std::string written = EudoraTocFile("In", 0, messages);
  ASSERT_EQ(written.size(), toc.size());
  auto same = [&](std::size_t offset, std::size_t size) {
    EXPECT_EQ(written.substr(offset, size), toc.substr(offset, size)) << "offset " << offset;
  };
  same(0, 2);    // version
  same(8, 32);   // mailbox name
  same(40, 2);   // mailbox kind
  same(102, 2);  // message count
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const std::size_t record = kEudoraTocHeaderSize + kEudoraTocRecordSize * i;
    same(record + 0, 8);   // offset and length in the mailbox
    same(record + 12, 1);  // state
    same(record + 14, 3);  // encoding, MIME, priority
  }
  const std::pair<std::string, std::uint16_t> empty_boxes[] = {
      {"Out", 1}, {"Junk", 2}, {"Trash", 3}};
  for (const auto& [name, kind] : empty_boxes) {
    const std::string empty = ReadFile(kRealStore / (name + ".toc"));
    const std::string header = EudoraTocFile(name, kind, {});
    ASSERT_EQ(header.size(), empty.size()) << name;
    EXPECT_EQ(header.substr(8, 34), empty.substr(8, 34)) << name;
    EXPECT_EQ(header.substr(102, 2), empty.substr(102, 2)) << name;
  }
}

TEST_F(EudoraFilterTest, SampleStoreGivesItsGoldenListing) {
  EudoraSampleStore().AddTo(files, kEudoraDir);
  ASSERT_TRUE(Find(std::nullopt, /*skip_empty=*/false));
  ExpectGolden(Listing(), "eudora/sample-walk.txt");
}

TEST_F(EudoraFilterTest, RealStoreGivesItsGoldenListing) {
  SKIP_WITHOUT_REAL_STORE();
  for (const fs::path& file : FilesBelow(kRealStore)) {
    std::string path = "C:\\Real\\" + fs::relative(file, kRealStore).generic_string();
    std::replace(path.begin(), path.end(), '/', '\\');
    files.AddFile(path, ReadFile(file));
  }
  ASSERT_TRUE(Find(std::nullopt, /*skip_empty=*/false, "C:\\Real"));
  ExpectGolden(Listing(), "eudora/win71-walk.txt");
}

}  // namespace
}  // namespace kv::testing
