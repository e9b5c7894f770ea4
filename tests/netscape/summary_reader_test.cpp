// The summary reader over summaries the store writer builds: what it lists, in which order and with
// which status, and what a damaged summary leaves (each damage starts from a valid summary and
// changes one thing).

#include "netscape/summary_reader.h"

#include <gtest/gtest.h>

#include "platform/fake/memory_file_system.h"
#include "support/netscape_store_writer.h"

namespace kv::testing {
namespace {

constexpr const char* kSummaryPath = "C:\\Mail\\Inbox.snm";
// The message class's root field: the class table puts folder information, key lists, then
// message headers, each entry 25 bytes from the table's tenth byte.
constexpr std::size_t kHeaderClassRoot = 10 + 2 * 25 + 21;

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}
std::uint32_t Get32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// A named summary of `count` read incoming messages; message n lies at n * 1000 with key n.
SnmSummary Summary(std::uint32_t count, std::size_t fanout = 0) {
  SnmSummary summary;
  summary.folder_name = "Inbox";
  summary.node_fanout = fanout;
  for (std::uint32_t n = 1; n <= count; ++n) {
    summary.messages.push_back({n * 1000, 100 + n, kNsFlagRead, kNsKindIncoming, n});
  }
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
      EXPECT_EQ(reader.MessageCount(), 0u);
      return positions;
    }
    for (bool more = reader.NextMessage(true); more; more = reader.NextMessage(false)) {
      positions.push_back(reader.CurrentPosition());
    }
    return positions;
  }
  std::vector<std::uint32_t> List(const SnmSummary& summary) { return List(SnmFile(summary)); }

  // Whether the last List reported `words` (null: reported nothing) about the summary file.
  bool Said(const char* words) const {
    if (words == nullptr) return diagnostics.entries().empty();
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
  // fanout, k of the class entries, extra and stale class entries, messages.
  const std::tuple<std::size_t, std::uint8_t, bool, std::uint32_t> cases[] = {
      {0, 0, false, 5}, {1, 0, false, 5}, {2, 1, true, 9}, {3, 3, true, 40}, {2, 0, false, 300}};
  for (const auto& [fanout, tail_units, extra_classes, count] : cases) {
    SnmSummary summary = Summary(count, fanout);
    summary.class_tail_units = tail_units;
    summary.extra_classes = extra_classes;
    const std::vector<std::uint32_t> listed = List(summary);
    ASSERT_EQ(listed.size(), count) << fanout;
    for (std::uint32_t n = 1; n <= count; ++n) EXPECT_EQ(listed[n - 1], n * 1000);
  }
  EXPECT_TRUE(Said(nullptr));
}

TEST_F(SummaryReaderTest, StatusOfTheCurrentEntry) {
  // Folder name, kind, flags; then incoming, unread, unsent, and the folder name the reader gives.
  const std::tuple<std::optional<std::string>, std::uint16_t, std::uint32_t, bool, bool, bool,
                   std::string>
      cases[] = {
          {"Inbox", 0x8001, 0xFFFFFFFE, true, true, false, "Inbox"},  // any other kind: incoming
          {"DRAFTS", kNsKindIncoming, 0, true, true, false, "DRAFTS"},
          {"dRaFtS", kNsKindOutgoing, 0, false, false, true, "dRaFtS"},
          {"Drafts2", kNsKindOutgoing, 0, false, false, false, "Drafts2"},
          {std::nullopt, kNsKindOutgoing, 0, false, false, false, kSummaryPath},  // path stands in
      };
  for (const auto& [name, kind, flags, incoming, unread, unsent, folder_name] : cases) {
    SnmSummary summary;
    summary.folder_name = name;
    summary.messages = {{0x12345678, 10, flags, kind, 1}};
    ASSERT_EQ(List(summary), std::vector<std::uint32_t>{0x12345678});
    EXPECT_EQ(reader.IsIncoming(), incoming) << folder_name;
    EXPECT_EQ(reader.IsUnread(), unread) << folder_name;
    EXPECT_EQ(reader.IsUnsent(), unsent) << folder_name;
    EXPECT_EQ(reader.FolderName(), folder_name);
  }
  // The end and Close keep the last entry current; an open reader refuses to open again.
  reader.Close();
  EXPECT_EQ(reader.CurrentPosition(), 0x12345678u);
  EXPECT_EQ(reader.FolderName(), "");
  EXPECT_TRUE(reader.Open(kSummaryPath));
  EXPECT_FALSE(reader.Open(kSummaryPath));
}

TEST_F(SummaryReaderTest, KeyListsAndCountsDecideWhichHeadersAreListed) {
  using Blocks = std::vector<std::vector<std::uint32_t>>;
  struct Case {
    std::optional<Blocks> blocks;
    std::vector<std::uint32_t> keys;  // key of each header, in index order
    std::optional<std::pair<std::uint32_t, std::uint32_t>> counts;
    std::vector<std::uint32_t> listed;
    const char* report;
  };
  const Case cases[] = {
      {Blocks{{1, 3}}, {1, 2, 3}, {}, {1000, 3000}, "no message key list holds"},
      {Blocks{{1, 2, 2}, {2}}, {1, 2}, {}, {1000, 2000}, nullptr},  // a key listed twice
      {Blocks{{7}}, {7, 7}, {}, {1000, 2000}, nullptr},             // two headers, one key
      {Blocks{{3}, {}, {1}, {2}}, {1, 2, 3}, {}, {1000, 2000, 3000}, nullptr},
      {Blocks{}, {1, 2}, {}, {}, "no message key list holds"},
      {{}, {1, 2}, std::pair{0u, 0u}, {}, "counts no messages"},
      {{}, {1, 2}, std::pair{0u, 1u}, {1000, 2000}, nullptr},
      {{}, {1, 2}, std::pair{1u, 0u}, {1000, 2000}, nullptr},
      {{}, {}, {}, {}, nullptr},  // an empty folder is no damage
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    diagnostics.Clear();
    SnmSummary summary = Summary(static_cast<std::uint32_t>(c.keys.size()));
    for (std::size_t i = 0; i < c.keys.size(); ++i) summary.messages[i].key = c.keys[i];
    summary.key_blocks = c.blocks;
    summary.counts = c.counts;
    EXPECT_EQ(List(summary), c.listed);
    EXPECT_TRUE(Said(c.report));
  }
}

TEST_F(SummaryReaderTest, MissingFileListsNothingAndSaysSo) {
  EXPECT_FALSE(reader.Open("C:\\Mail\\Missing.snm", "Netscape Messenger 4.7/Missing"));
  ASSERT_EQ(diagnostics.entries().size(), 1u);
  EXPECT_EQ(diagnostics.entries()[0].folder, "Netscape Messenger 4.7/Missing");
  EXPECT_EQ(diagnostics.entries()[0].problem, "summary file cannot be read");
}

// The writer puts the class table last: every cut before the end of the message class's entry
// lists nothing, every cut inside a class entry's fixed part or tail says so.
TEST_F(SummaryReaderTest, SummaryCutAtAnyLength) {
  SnmSummary summary = Summary(3);
  summary.extra_classes = true;  // entries: stale 30, 7, 31, 29, 30, 40
  summary.class_tail_units = 2;  // 26 tail bytes per entry
  const SnmLayout layout = WriteSnm(summary);
  const std::size_t message_class_end = layout.class_table + 10 + 4 * (25 + 26) + 25;
  const std::size_t last_class_end = message_class_end + 26 + 25;
  for (std::size_t length = 0; length <= layout.bytes.size(); ++length) {
    diagnostics.Clear();
    ASSERT_EQ(List(layout.bytes.substr(0, length)).size(), length < message_class_end ? 0u : 3u)
        << length;
    ASSERT_EQ(Said(nullptr), length >= last_class_end) << length;
  }
}

// Each case changes one thing of a summary whose message index has two levels of branches (fanout
// 2 over 6 messages: the root's first branch holds the leaves of messages 1-4, its second the leaf
// of messages 5 and 6).
TEST_F(SummaryReaderTest, DamagedSummaryListsFewerMessagesAndSaysWhy) {
  const SnmLayout layout = WriteSnm(Summary(6, 2));
  const std::string& good = layout.bytes;
  const auto size = static_cast<std::uint32_t>(good.size());
  const std::uint32_t root = layout.header_root;
  const std::uint32_t branch = Get32(good, root + 8);
  const std::uint32_t leaf = Get32(good, branch + 8);
  const std::uint32_t info_leaf = Get32(good, layout.folder_info_root + 8);
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
  const std::tuple<std::string, std::size_t, const char*> cases[] = {
      {with32(0, kSnmMagic ^ 1), 0, "magic"},
      {with32(8, size + 1), 0, "outside the file"},  // class table offset
      {with32(8, 0), 0, "outside the file"},
      {good.substr(0, 23), 0, "shorter than its header"},
      {"", 0, "shorter than its header"},
      {with32(8, kSnmHeaderSize).substr(0, kSnmHeaderSize), 0, "class table cut off"},
      {with32(layout.class_table + kHeaderClassRoot, size), 0, "root node of the message header"},
      {with_kind(root, 0x7), 0, "root node of the message header index"},
      {with32(root + 4, 0x7FFF), 0, "root node of the message header index"},  // count too big
      {with32(root + 8, layout.folder_info), 2, "no known kind"},
      {with32(root + 8, size + 100), 2, "outside the file"},
      {with32(root + 8, layout.key_list_root), 2, "no known kind"},  // a root branch as a child
      {with32(branch + 8, branch), 4, "reached a second time"},      // a branch holding itself
      {with32(branch + 12, leaf), 4, "reached a second time"},       // a leaf listed twice
      {with32(leaf + 4, 0xFFFF), 4, "outside the file"},             // leaf count too big
      {with32(leaf + 8, size - 61), 5, "message headers outside"},
      {with32(leaf + 8, 0), 5, nullptr},  // offset 0: no object
      {with32(layout.key_blocks[0] + 4, 0xFFFF), 0, "key lists or their key blocks"},
      {with32(info_leaf + 8, size - 88), 0, "folder information lies outside"},
      {with32(info_leaf + 8, 0), 0, "names no object"},
      {with_kind(layout.folder_info_root, 0x2), 0, "root node of the folder information index"},
      {with32(layout.folder_info + 85, size), 6, nullptr},  // name too long: the path stands in
  };
  for (const auto& [bytes, listed, report] : cases) {
    SCOPED_TRACE(report != nullptr ? report : "no report");
    diagnostics.Clear();
    EXPECT_EQ(List(bytes).size(), listed);
    EXPECT_TRUE(Said(report));
  }
  EXPECT_EQ(reader.FolderName(), kSummaryPath);
}

// A message index root with 1000 children that all name one leaf, and a chain of branches deeper
// than any real index: each node is read once, within bounds.
TEST_F(SummaryReaderTest, SharedOrDeepNodesAreReadWithinBounds) {
  SnmLayout layout = WriteSnm(Summary(1));
  std::string& bytes = layout.bytes;
  const std::uint32_t leaf = layout.header_root;
  bytes[leaf] = static_cast<char>(0x90);  // the root leaf becomes a plain leaf
  const auto fan = static_cast<std::uint32_t>(bytes.size());
  bytes += std::string(8 + 4 * 1000, '\0');
  bytes[fan] = static_cast<char>(0x50);
  Put32(bytes, fan + 4, 1000);
  for (std::uint32_t i = 0; i < 1000; ++i) Put32(bytes, fan + 8 + 4 * i, leaf);
  const auto chain = static_cast<std::uint32_t>(bytes.size());
  for (std::uint32_t i = 0; i < 40; ++i) {
    bytes += std::string(12, '\0');
    bytes[chain + 12 * i] = static_cast<char>(i == 0 ? 0x50 : 0x10);
    Put32(bytes, chain + 12 * i + 4, 1);
    Put32(bytes, chain + 12 * i + 8, i == 39 ? leaf : chain + 12 * (i + 1));
  }
  const std::pair<std::uint32_t, const char*> roots[] = {{fan, "reached a second time"},
                                                         {chain, "deeper than"}};
  for (const auto& [root, words] : roots) {
    diagnostics.Clear();
    Put32(bytes, layout.class_table + kHeaderClassRoot, root);
    EXPECT_EQ(List(bytes).size(), root == fan ? 1u : 0u);
    EXPECT_TRUE(Said(words));
  }
}

}  // namespace
}  // namespace kv::testing
