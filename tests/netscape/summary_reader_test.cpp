// The summary reader over summaries the store writer builds: what it lists, in which order and with
// which status, and what a damaged summary leaves (each damage test starts from a valid summary
// and changes one thing).

#include "netscape/summary_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/fake/memory_file_system.h"
#include "support/netscape_store_writer.h"

namespace kv::testing {
namespace {

constexpr const char* kSummaryPath = "C:\\Mail\\Inbox.snm";

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

SnmMessage Entry(std::uint32_t n, std::uint16_t kind = kNsKindIncoming,
                 std::uint32_t flags = kNsFlagRead) {
  return {n * 1000, 100 + n, flags, kind, n};
}

std::vector<SnmMessage> Entries(std::uint32_t count) {
  std::vector<SnmMessage> entries;
  for (std::uint32_t n = 1; n <= count; ++n) entries.push_back(Entry(n));
  return entries;
}

SnmSummary Summary(std::optional<std::string> name, std::vector<SnmMessage> messages) {
  SnmSummary summary;
  summary.folder_name = std::move(name);
  summary.messages = std::move(messages);
  return summary;
}

class SummaryReaderTest : public ::testing::Test {
 protected:
  // Opens `bytes` as the summary; the positions of the messages listed, in order.
  std::vector<std::uint32_t> List(const std::string& bytes) {
    reader.Close();
    files.AddFile(kSummaryPath, bytes);
    std::vector<std::uint32_t> positions;
    if (!reader.Open(kSummaryPath, "Netscape Messenger 4.7/Inbox")) {
      EXPECT_FALSE(reader.IsOpen());
      EXPECT_EQ(reader.MessageCount(), 0u);
      return positions;
    }
    for (bool more = reader.NextMessage(true); more; more = reader.NextMessage(false)) {
      positions.push_back(reader.CurrentPosition());
    }
    EXPECT_EQ(positions.size(), reader.MessageCount());
    return positions;
  }
  std::vector<std::uint32_t> List(const SnmSummary& summary) { return List(SnmFile(summary)); }

  bool Reported(const std::string& words) const {
    for (const platform::Diagnostic& entry : diagnostics.entries()) {
      if (entry.problem.find(words) != std::string::npos && entry.file == kSummaryPath) return true;
    }
    return false;
  }

  platform::MemoryFileSystem files;
  platform::DiagnosticLog diagnostics;
  SummaryReader reader{files, diagnostics};
};

TEST_F(SummaryReaderTest, ListsEveryKeyedMessageInIndexOrderWhateverTheIndexShape) {
  struct Case {
    std::size_t fanout;
    std::uint8_t tail_units;
    bool extra_classes;
    std::uint32_t messages;
  };
  const Case cases[] = {{0, 0, false, 5}, {1, 0, false, 5}, {2, 1, true, 9},
                        {3, 3, true, 40}, {7, 2, false, 1}, {2, 0, false, 300}};
  for (const Case& c : cases) {
    SCOPED_TRACE("fanout " + std::to_string(c.fanout) + ", " + std::to_string(c.messages));
    SnmSummary summary;
    summary.folder_name = "Inbox";
    summary.messages = Entries(c.messages);
    summary.node_fanout = c.fanout;
    summary.class_tail_units = c.tail_units;
    summary.extra_classes = c.extra_classes;
    std::vector<std::uint32_t> expected;
    for (const SnmMessage& m : summary.messages) expected.push_back(m.position);
    EXPECT_EQ(List(summary), expected);
  }
  EXPECT_TRUE(diagnostics.entries().empty());
}

TEST_F(SummaryReaderTest, CurrentEntryCarriesEveryFieldAndStatus) {
  SnmSummary summary = Summary("Inbox", {{0x12345678, 0x9ABCDEF0, 0xFFFFFFFE, 0x8001, 3},
                                         Entry(4, kNsKindOutgoing, 0),
                                         Entry(5, kNsKindIncoming, 5)});
  files.AddFile(kSummaryPath, SnmFile(summary));
  ASSERT_TRUE(reader.Open(kSummaryPath));
  ASSERT_TRUE(reader.NextMessage(true));
  EXPECT_EQ(reader.CurrentPosition(), 0x12345678u);
  EXPECT_EQ(reader.CurrentLength(), 0x9ABCDEF0u);
  EXPECT_EQ(reader.CurrentEntry().flags, 0xFFFFFFFEu);
  EXPECT_EQ(reader.CurrentEntry().kind, 0x8001);
  EXPECT_TRUE(reader.IsIncoming() && reader.IsUnread());
  ASSERT_TRUE(reader.NextMessage(false));
  EXPECT_FALSE(reader.IsIncoming() || reader.IsUnread()) << "only incoming messages are unread";
  ASSERT_TRUE(reader.NextMessage(false));
  EXPECT_FALSE(reader.IsUnread());
  EXPECT_FALSE(reader.NextMessage(false));
  EXPECT_EQ(reader.CurrentPosition(), 5000u) << "the end keeps the last entry current";

  // Close keeps the current entry and empties the rest; the reader opens again.
  reader.Close();
  EXPECT_EQ(reader.CurrentPosition(), 5000u);
  EXPECT_EQ(reader.FolderName(), "");
  EXPECT_EQ(reader.MessageCount(), 0u);
  EXPECT_TRUE(reader.Open(kSummaryPath));
  EXPECT_FALSE(reader.Open(kSummaryPath)) << "refused while open";
}

TEST_F(SummaryReaderTest, OnlyAFolderNamedDraftsMakesOutgoingMessagesUnsent) {
  struct Case {
    std::optional<std::string> name;
    bool unsent;
    std::string folder_name;
  };
  const Case cases[] = {
      {"Drafts", true, "Drafts"},    {"DRAFTS", true, "DRAFTS"},          {"Sent", false, "Sent"},
      {"Drafts2", false, "Drafts2"}, {std::nullopt, false, kSummaryPath},  // no name: the summary's
                                                                           // own path stands in
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder_name);
    reader.Close();
    SnmSummary summary;
    summary.folder_name = c.name;
    summary.messages = {Entry(1, kNsKindOutgoing)};
    files.AddFile(kSummaryPath, SnmFile(summary));
    ASSERT_TRUE(reader.Open(kSummaryPath));
    ASSERT_TRUE(reader.NextMessage(true));
    EXPECT_EQ(reader.IsUnsent(), c.unsent);
    EXPECT_EQ(reader.FolderName(), c.folder_name);
  }
}

TEST_F(SummaryReaderTest, KeyListsDecideWhichHeadersAreListed) {
  struct Case {
    const char* what;
    std::vector<std::vector<std::uint32_t>> blocks;
    std::vector<std::uint32_t> keys;  // key of each header, in index order
    std::vector<std::uint32_t> listed;
    const char* report;  // words of the expected report, or null
  };
  const Case cases[] = {
      {"a key in no block", {{1, 3}}, {1, 2, 3}, {1000, 3000}, "no message key list holds"},
      {"a key listed twice lists once", {{1, 2, 2}, {2}}, {1, 2}, {1000, 2000}, nullptr},
      {"two headers with one key both list", {{7}}, {7, 7}, {1000, 2000}, nullptr},
      {"keys spread over blocks", {{3}, {}, {1}, {2}}, {1, 2, 3}, {1000, 2000, 3000}, nullptr},
      {"no key at all", {}, {1, 2}, {}, "no message key list holds"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    diagnostics.Clear();
    SnmSummary summary;
    for (std::size_t i = 0; i < c.keys.size(); ++i) {
      summary.messages.push_back(Entry(static_cast<std::uint32_t>(i + 1)));
      summary.messages.back().key = c.keys[i];
    }
    summary.key_blocks = c.blocks;
    EXPECT_EQ(List(summary), c.listed);
    if (c.report != nullptr) {
      EXPECT_TRUE(Reported(c.report));
    } else {
      EXPECT_TRUE(diagnostics.entries().empty());
    }
  }
}

TEST_F(SummaryReaderTest, CountsDecideWhetherTheFolderListsAnything) {
  struct Case {
    std::pair<std::uint32_t, std::uint32_t> counts;
    std::size_t listed;
  };
  for (const Case& c : {Case{{0, 0}, 0}, Case{{0, 1}, 2}, Case{{1, 0}, 2}, Case{{9, 9}, 2}}) {
    diagnostics.Clear();
    SnmSummary summary;
    summary.counts = c.counts;
    summary.messages = Entries(2);
    EXPECT_EQ(List(summary).size(), c.listed);
    EXPECT_EQ(Reported("counts no messages"), c.listed == 0);
  }
  // An empty folder is no damage.
  diagnostics.Clear();
  EXPECT_TRUE(List(SnmSummary{}).empty());
  EXPECT_TRUE(diagnostics.entries().empty());
}

TEST_F(SummaryReaderTest, BadFileListsNothingAndSaysWhy) {
  const std::string good = SnmFile(Summary("Inbox", Entries(2)));
  std::string wrong_magic = good;
  wrong_magic[3] ^= 1;
  std::string table_beyond = good;
  Put32(table_beyond, 8, static_cast<std::uint32_t>(good.size() + 1));
  std::string table_zero = good;
  Put32(table_zero, 8, 0);
  std::string minimal = good.substr(0, kSnmHeaderSize);
  Put32(minimal, 8, kSnmHeaderSize);
  const std::pair<const char*, std::string> cases[] = {
      {"magic", wrong_magic},
      {"outside the file", table_beyond},
      {"outside the file", table_zero},
      {"shorter than its header", good.substr(0, 23)},
      {"shorter than its header", ""},
      {"class table cut off", minimal},  // exactly 24 bytes, class table at 24
  };
  for (const auto& [words, bytes] : cases) {
    SCOPED_TRACE(words);
    diagnostics.Clear();
    EXPECT_TRUE(List(bytes).empty());
    EXPECT_TRUE(Reported(words));
  }
  diagnostics.Clear();
  EXPECT_FALSE(reader.Open("C:\\Mail\\Missing.snm", "Netscape Messenger 4.7/Missing"));
  ASSERT_EQ(diagnostics.entries().size(), 1u);
  EXPECT_EQ(diagnostics.entries()[0].folder, "Netscape Messenger 4.7/Missing");
  EXPECT_EQ(diagnostics.entries()[0].problem, "summary file cannot be read");
}

// Every cut of a summary (whose class table the writer puts last) before the end of the message
// class's entry lists nothing, and every cut that reaches into a class entry's fixed part says
// so; a cut in the last entry's tail loses nothing.
TEST_F(SummaryReaderTest, SummaryCutAtAnyLengthListsNothing) {
  SnmSummary summary = Summary("Inbox", Entries(3));
  summary.extra_classes = true;  // entries: stale 30, 7, 31, 29, 30, 40
  summary.class_tail_units = 2;  // 26 tail bytes per entry
  const SnmLayout layout = WriteSnm(summary);
  const std::size_t message_class_end = layout.class_table + 10 + 4 * (25 + 26) + 25;
  const std::size_t last_class_end = message_class_end + 26 + 25;
  for (std::size_t length = 0; length < layout.bytes.size(); ++length) {
    diagnostics.Clear();
    const std::size_t listed = List(layout.bytes.substr(0, length)).size();
    ASSERT_EQ(listed, length < message_class_end ? 0u : 3u) << length;
    ASSERT_EQ(diagnostics.entries().empty(), length >= last_class_end) << length;
  }
  EXPECT_EQ(List(layout.bytes).size(), 3u);
}

std::uint32_t Get32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// Damage inside the indexes and objects: each case changes one thing of a valid summary whose
// message index has two levels of branches (fanout 2 over 6 messages: the root's first branch
// holds the leaves of messages 1-4, its second branch the leaf of messages 5 and 6).
TEST_F(SummaryReaderTest, DamagedIndexOrObjectsListFewerMessages) {
  SnmSummary summary = Summary("Inbox", Entries(6));
  summary.node_fanout = 2;
  const SnmLayout layout = WriteSnm(summary);
  const std::string& good = layout.bytes;
  const auto size = static_cast<std::uint32_t>(good.size());
  const std::uint32_t root = layout.header_root;
  const std::uint32_t branch = Get32(good, root + 8);
  const std::uint32_t leaf = Get32(good, branch + 8);
  const std::uint32_t info_leaf = Get32(good, layout.folder_info_root + 8);
  const std::size_t header_class_root = layout.class_table + 10 + 2 * 25 + 21;

  auto with32 = [&good](std::size_t at, std::uint32_t value) {
    std::string bytes = good;
    Put32(bytes, at, value);
    return bytes;
  };
  auto with_kind = [&good](std::size_t at, std::uint8_t kind) {
    std::string bytes = good;
    bytes[at] = static_cast<char>(kind << 4);
    return bytes;
  };
  struct Case {
    const char* what;
    std::string bytes;
    std::size_t listed;
    const char* report;
  };
  const Case cases[] = {
      {"message index root past the end", with32(header_class_root, size), 0,
       "root node of the message header index"},
      {"message index root of no known kind", with_kind(root, 0x7), 0,
       "root node of the message header index"},
      {"root branch count past the end", with32(root + 4, 0x7FFF), 0,
       "root node of the message header index"},
      {"a branch of no known kind", with32(root + 8, layout.folder_info), 2, "no known kind"},
      {"a branch past the end", with32(root + 8, size + 100), 2, "outside the file"},
      {"a root branch where a branch belongs", with32(root + 8, layout.key_list_root), 2,
       "no known kind"},
      {"a branch that holds itself", with32(branch + 8, branch), 4, "reached a second time"},
      {"a leaf listed twice", with32(branch + 12, leaf), 4, "reached a second time"},
      {"a leaf count past the end", with32(leaf + 4, 0xFFFF), 4, "outside the file"},
      {"a header past the end", with32(leaf + 8, size - 61), 5, "message headers outside"},
      {"a header offset of 0", with32(leaf + 8, 0), 5, nullptr},
      {"key block count past the end", with32(layout.key_blocks[0] + 4, 0xFFFF), 0,
       "key lists or their key blocks"},
      {"folder information past the end", with32(info_leaf + 8, size - 88), 0,
       "folder information lies outside"},
      {"folder information offset 0", with32(info_leaf + 8, 0), 0, "names no object"},
      {"folder information root of no known kind", with_kind(layout.folder_info_root, 0x2), 0,
       "root node of the folder information index"},
      {"name past the end", with32(layout.folder_info + 85, size), 6, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    diagnostics.Clear();
    EXPECT_EQ(List(c.bytes).size(), c.listed);
    if (c.report != nullptr) {
      EXPECT_TRUE(Reported(c.report));
    } else {
      EXPECT_TRUE(diagnostics.entries().empty());
    }
  }
  // The name's stated length must fit; then the summary's path stands in.
  EXPECT_EQ(reader.FolderName(), kSummaryPath);
}

// A hand-made summary whose message index root holds 1000 children that all name one leaf, and a
// chain of branches deeper than any real index: each is read once, within bounds.
TEST_F(SummaryReaderTest, SharedOrDeepNodesAreReadWithinBounds) {
  SnmSummary summary = Summary("Inbox", Entries(1));
  SnmLayout layout = WriteSnm(summary);
  std::string& bytes = layout.bytes;
  const std::uint32_t leaf = layout.header_root;
  bytes[leaf] = static_cast<char>(0x90);  // the root leaf becomes a plain leaf
  const auto fan = static_cast<std::uint32_t>(bytes.size());
  bytes += std::string(8 + 4 * 1000, '\0');
  bytes[fan] = static_cast<char>(0x50);
  Put32(bytes, fan + 4, 1000);
  for (std::uint32_t i = 0; i < 1000; ++i) Put32(bytes, fan + 8 + 4 * i, leaf);
  // 40 branches, each the only child of the one before, the last holding the leaf.
  const auto chain = static_cast<std::uint32_t>(bytes.size());
  for (std::uint32_t i = 0; i < 40; ++i) {
    bytes += std::string(12, '\0');
    bytes[chain + 12 * i] = static_cast<char>(i == 0 ? 0x50 : 0x10);
    Put32(bytes, chain + 12 * i + 4, 1);
    Put32(bytes, chain + 12 * i + 8, i == 39 ? leaf : chain + 12 * (i + 1));
  }
  const std::size_t header_class_root = layout.class_table + 10 + 2 * 25 + 21;

  Put32(bytes, header_class_root, fan);
  EXPECT_EQ(List(bytes).size(), 1u);
  EXPECT_TRUE(Reported("reached a second time"));

  diagnostics.Clear();
  Put32(bytes, header_class_root, chain);
  EXPECT_EQ(List(bytes).size(), 0u);
  EXPECT_TRUE(Reported("deeper than"));
}

}  // namespace
}  // namespace kv::testing
