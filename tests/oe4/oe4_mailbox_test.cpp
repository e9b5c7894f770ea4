// Walking mailboxes: which messages become items, with which folder, state and status, and what
// the temporary message files hold.

#include <set>

#include "oe4_fixture.h"

namespace kv::testing {
namespace {

// Folder "Flags" holds one message per combination of index flags, its subject the flags in
// decimal (17 and 19 carry the skip flag: they are left out). "Sizes" holds a message larger than
// the reader's window, then lengths 0..3 modulo 4 so that every amount of NUL padding occurs; its
// last record runs to the end of the file, or a marker word ends it. "Empty" follows an unread
// message: its marker item does not take that state. Each item's file holds the record's text.
TEST_F(Oe4FilterTest, MailboxesGiveEveryMessageWithItsStateAndItsPaddedText) {
  Oe4Store store;
  std::vector<Oe4Message> flags;
  for (std::uint8_t flag :
       {0x10, 0x12, 0x08, 0x0A, 0x0C, 0x28, 0x0E, 0x11, 0x00, 0x18, 0x02, 0x04, 0x13})
    flags.push_back({Oe4TestMessage(flag), flag});
  store.AddFolder("Flags", 0, flags);
  std::string large = Oe4TestMessage(1);
  for (int line = 0; large.size() < 300 * 1024; ++line) large += std::to_string(line) + "\r\n";
  std::vector<Oe4Message> sizes{large};
  for (const std::string tail : {"", "x", "xy", "xyz"})
    sizes.push_back({Oe4TestMessage(7) + tail, 0x12});
  store.AddFolder("Sizes", 0, sizes);
  store.AddFolder("Empty", 0, {});
  store.AddFolder("Last", 0, Messages({0x10}));
  PutStore(store);
  std::string text = Walked("the root item") + Walked("the root item, empty folders kept",
                                                      std::nullopt, /*skip_empty=*/false);
  files.AddFile(Path("Sizes.mbx"), Oe4MailboxFile(sizes, /*trailing_marker=*/true));
  text += Walked("Sizes, its mailbox ending in a marker", "Sizes");
  ExpectGolden(text + Walked("Empty, kept", "Empty", false), "oe4/mailboxes.txt");

  // Each item has its own file in the temporary folder, left to the host when the filter goes.
  ASSERT_TRUE(Find());
  const std::vector<WalkedItem> items = Walk();
  filter.reset();
  std::set<std::string> names;
  for (const WalkedItem& each : items) {
    EXPECT_TRUE(each.file->starts_with("C:\\TEMP\\imp")) << *each.file;
    EXPECT_TRUE(names.insert(*each.file).second) << *each.file;
    EXPECT_TRUE(files.Exists(*each.file)) << *each.file;
  }
}

// The command affects only the next step: after Ten's first message an unknown command, after its
// second the command, which leaves Ten for Two (tests/golden/oe4/next-folder.txt). A walk that
// ended needs a new IsSystemFound.
TEST_F(Oe4FilterTest, NextFolderCommandLeavesTheCurrentFolder) {
  Oe4Store store;
  store.AddFolder("Ten", 0, Messages({0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10}));
  store.AddFolder("Two", 0, Messages({0x12, 0x00}));
  PutStore(store);
  ASSERT_TRUE(Find());
  std::string commands[] = {"!!!nextfolder", kNextFolderCommand};
  std::vector<WalkedItem> items;
  for (bool more = filter->GoFirst(); more && items.size() < 20; more = filter->GoNext()) {
    items.push_back(Current());
    if (items.size() <= 2) filter->SetPath(commands[items.size() - 1]);
  }
  ExpectGolden(WalkText(items), "oe4/next-folder.txt");
  EXPECT_FALSE(filter->GoFirst());
  ASSERT_TRUE(Find());
  EXPECT_EQ(Walk().size(), 12u);
}

// Message boxes of every object go over the window of the last SetParent on any object.
TEST_F(Oe4FilterTest, LastSetParentOnAnyObjectOwnsTheMessageBoxes) {
  NewFilter()->SetParent(0x42);
  EXPECT_EQ(g_oeHostWindow, 0x42u);
}

}  // namespace
}  // namespace kv::testing
