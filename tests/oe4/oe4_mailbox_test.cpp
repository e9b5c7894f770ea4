// Walking mailboxes: which messages become items, with which folder, state and status, and what
// the temporary message files hold.

#include <functional>
#include <set>
#include <stdexcept>

#include "oe4_fixture.h"

namespace kv::testing {
namespace {

TEST_F(Oe4FilterTest, IndexFlagsGiveTheMessageStateAndTheSkipFlagDropsTheMessage) {
  constexpr std::int32_t kSkipped = -1;
  const std::pair<std::uint8_t, std::int32_t> cases[] = {
      {0x10, 2},        {0x12, 6}, {0x08, 1}, {0x0A, 1}, {0x0C, 1}, {0x28, 0},       {0x0E, 1},
      {0x11, kSkipped}, {0x00, 0}, {0x18, 2}, {0x02, 0}, {0x04, 0}, {0x13, kSkipped}};
  Oe4Store store;
  std::vector<Oe4Message> messages;
  for (const auto& [flags, state] : cases) messages.push_back({Oe4TestMessage(flags), flags});
  store.AddFolder("Inbox", 0, messages);
  PutStore(store);

  ASSERT_TRUE(Find());
  const std::vector<WalkedItem> items = Walk();
  ASSERT_EQ(items.size(), std::size(cases) - 2);
  std::size_t item = 0;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    if (cases[i].second == kSkipped) continue;
    SCOPED_TRACE(::testing::Message() << "flags 0x" << std::hex << int{cases[i].first});
    EXPECT_EQ(items[item].state, cases[i].second);
    EXPECT_EQ(items[item].status, 0);
    EXPECT_EQ(items[item++].message, Padded(messages[i].text));
  }
  // Each item has its own file, left to the host when the filter goes.
  filter.reset();
  std::set<std::string> names;
  for (const WalkedItem& each : items) {
    EXPECT_TRUE(names.insert(*each.file).second) << *each.file;
    EXPECT_TRUE(files.Exists(*each.file)) << *each.file;
  }
}

TEST_F(Oe4FilterTest, MessageFileHoldsTheRecordTextUpToTheNextMarkerOrTheEnd) {
  // A message larger than the reader's window, then lengths 0..3 modulo 4 so that every amount of
  // NUL padding occurs; the last record runs to the end of the file, or a marker word ends it.
  std::string large = Oe4TestMessage(1);
  for (int line = 0; large.size() < 300 * 1024; ++line) large += std::to_string(line) + "\r\n";
  std::vector<Oe4Message> messages{large};
  for (const std::string tail : {"", "x", "xy", "xyz"})
    messages.push_back(Oe4TestMessage(7) + tail);
  Oe4Store store;
  store.AddFolder("Inbox", 0, messages);
  PutStore(store);
  for (bool trailing_marker : {false, true}) {
    SCOPED_TRACE(trailing_marker ? "trailing marker" : "record runs to the end");
    files.AddFile(Path("Inbox.mbx"), Oe4MailboxFile(messages, trailing_marker));
    ASSERT_TRUE(Find());
    const std::vector<WalkedItem> items = Walk();
    ASSERT_EQ(items.size(), messages.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].message, Padded(messages[i].text)) << i;
      EXPECT_EQ(items[i].file->find("imp"), items[i].file->rfind('\\') + 1);
    }
  }
}

TEST_F(Oe4FilterTest, EmptyFolderIsOneMarkerItemUnlessSkipped) {
  Oe4Store store;
  store.AddFolder("Inbox", 0, Messages({0x12}));
  store.AddFolder("Empty", 0, {});
  store.AddFolder("Last", 0, Messages({0x10}));
  PutStore(store);
  ASSERT_TRUE(Find(std::nullopt, /*skip_empty=*/true));
  EXPECT_EQ(Folders(Walk()), (std::vector<std::string>{"Inbox", "Last"}));

  ASSERT_TRUE(Find(std::nullopt, /*skip_empty=*/false));
  const std::vector<WalkedItem> items = Walk();
  ASSERT_EQ(Folders(items), (std::vector<std::string>{"Inbox", "Empty", "Last"}));
  EXPECT_EQ(items[1].file, kEmptyFolderMarker);
  EXPECT_EQ(items[1].status, kItemIsFolder);
  EXPECT_EQ(items[1].state, kStateReceived);  // not the unread state of the message before it

  // The marker can be the first item.
  ASSERT_TRUE(Find("Empty", /*skip_empty=*/false));
  ASSERT_TRUE(filter->GoFirst());
  EXPECT_EQ(Current().file, kEmptyFolderMarker);
  EXPECT_FALSE(filter->GoNext());
}

// The command affects only the next step. A walk that ended needs a new IsSystemFound.
TEST_F(Oe4FilterTest, NextFolderCommandLeavesTheCurrentFolder) {
  Oe4Store store;
  store.AddFolder("Ten", 0, Messages({0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10}));
  store.AddFolder("Two", 0, Messages({0x12, 0x00}));
  PutStore(store);
  ASSERT_TRUE(Find());
  ASSERT_TRUE(filter->GoFirst());
  std::string ignored = "!!!nextfolder", command = kNextFolderCommand;
  filter->SetPath(ignored);
  ASSERT_TRUE(filter->GoNext());
  EXPECT_EQ(Current().folder, "Ten");
  filter->SetPath(command);
  ASSERT_TRUE(filter->GoNext());
  const WalkedItem item = Current();
  EXPECT_EQ(item.folder, "Two");
  EXPECT_EQ(item.message, Padded(Oe4TestMessage(1)));
  EXPECT_EQ(item.state, 6);
  ASSERT_TRUE(filter->GoNext());
  EXPECT_EQ(Current().folder, "Two");
  EXPECT_FALSE(filter->GoNext());

  EXPECT_FALSE(filter->GoFirst());
  ASSERT_TRUE(Find());
  EXPECT_EQ(Walk().size(), 12u);
}

// A code page whose conversion to UTF-8 fails the way a test asks.
class ThrowingCodePage final : public platform::CodePage {
 public:
  std::function<void()> fail;
  std::string ToUtf8(const std::string& text) override {
    fail();
    return text;
  }
  std::string FromUtf8(const std::string& text) override { return text; }
};

TEST_F(Oe4FilterTest, FailuresWhileAnsweringAPropertyBecomeMessageBoxesAndNull) {
  ThrowingCodePage failing;
  platform::Services failing_services{registry, files, temp, environment, failing, ui, diagnostics};
  auto subject = NewFilter(&failing_services);
  // The host window of the last SetParent on any object owns the box.
  filter->SetParent(0x42);
  EXPECT_EQ(g_oeHostWindow, 0x42u);

  failing.fail = [] { throw FileError("disk full"); };
  EXPECT_EQ(subject->GetSubItem(kSubItemFolderName), std::nullopt);
  EXPECT_TRUE(Shown("message: Import messages: File I/O Error. Hard disk can be full."));
}

}  // namespace
}  // namespace kv::testing
