// Damaged stores: each case starts from a valid store, changes one thing, and checks that the
// filter ends as it should: a damaged folder list makes the store unusable or ends the list where
// it was cut, a damaged mailbox or index ends that folder and the walk goes on.

#include "oe4_fixture.h"

namespace kv::testing {
namespace {

std::string With32(std::string bytes, std::uint64_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

// Folder i is the parent of folder i + 1, every name `name_length` characters long.
std::vector<Oe4FolderEntry> Chain(std::uint32_t depth, std::size_t name_length) {
  std::vector<Oe4FolderEntry> entries;
  for (std::uint32_t id = 1; id <= depth; ++id)
    entries.push_back(
        {id, std::string(name_length, static_cast<char>('a' + id % 26)), "m", id - 1});
  return entries;
}

class Oe4DamageTest : public Oe4FilterTest {
 protected:
  void SetUp() override {
    store.AddFolder("Inbox", 0, Messages({0x10, 0x12, 0x00}));
    store.AddFolder("Sent", 0, Messages({0x00, 0x00}));
    store.AddFolder("Drafts", 0, Messages({0x08}));
    PutStore(store);
  }
  std::string Read(const std::string& name) const { return files.Contents(Path(name)).value(); }

  Oe4Store store;
};

// An unusable list asks to browse again and reports the loss of every folder; a list cut by the
// end of the file (or whose chain leads past it) keeps the records that lie whole before the cut.
// A chain too deep for its paths is refused as damaged. Parents that form cycles leave every
// folder top-level-less: the dialog's root item still keeps them all, named by their own names.
TEST_F(Oe4DamageTest, DamagedFolderListIsRefusedOrEndsWhereItIsCut) {
  const std::string nch = Read("folders.nch");
  std::vector<Oe4FolderEntry> cyclic = store.folders;
  cyclic[0].parent_id = cyclic[1].id;
  cyclic[1].parent_id = cyclic[0].id;
  cyclic[2].parent_id = cyclic[2].id;
  auto next = [&nch](std::size_t slot, std::uint64_t value) {
    return With32(nch, Oe4FolderRecordOffset(slot) + 12, static_cast<std::uint32_t>(value));
  };
  const std::uint64_t at0 = Oe4FolderRecordOffset(0), at1 = Oe4FolderRecordOffset(1),
                      at2 = Oe4FolderRecordOffset(2);
  const struct {
    const char* damage;
    std::string bytes;
  } cases[] = {
      {"shorter than its header", nch.substr(0, 0x246)},
      {"chain comes back", next(2, at1)},
      {"record is its own successor", next(0, at0)},
      {"next negative", next(1, 0x80000000u)},
      {"next all ones", next(1, 0xFFFFFFFFu)},
      {"cut after a whole record", nch.substr(0, at2)},
      {"cut inside the names of a record", nch.substr(0, at2 + 30)},
      {"cut in its parent number", nch.substr(0, at2 + 541)},
      {"next far past the end", next(1, 0x7FFFFFF0u)},
      {"next inside the last record", next(1, nch.size() - 10)},
      {"cut inside the first record", nch.substr(0, at0 + 100)},
      {"1000 nested names of 258 bytes", Oe4FoldersFile(Chain(1000, 258), Oe4Layout::kFirst)},
      {"parents in cycles", Oe4FoldersFile(cyclic, Oe4Layout::kFirst)},
  };
  std::string text;
  for (const auto& c : cases) {
    files.AddFile(Path("folders.nch"), c.bytes);
    ui.AnswerMessageBox(platform::kIdNo);  // when asked to browse again
    text += Walked(c.damage);
  }
  ExpectGolden(text, "oe4/damaged-folder-list.txt");
}

// The walk reaches every folder of a chain 100 deep with its whole path.
TEST_F(Oe4DamageTest, FolderChain100DeepGivesWholePaths) {
  Oe4Store deep;
  deep.folders = Chain(100, 3);
  deep.mailboxes["m"] = Messages({0x10});
  PutStore(deep);
  ASSERT_TRUE(Find());
  std::string path = deep.folders[0].name;
  for (std::size_t i = 1; i < deep.folders.size(); ++i) path += "/" + deep.folders[i].name;
  const std::vector<WalkedItem> items = Walk();
  ASSERT_EQ(items.size(), 100u);
  EXPECT_EQ(items.back().folder, path);
}

// Each damage to Inbox's pair ends that folder early, or passes it over; the walk goes on with the
// other folders, and one report names the folder, the file, the offset and what was lost. Some
// damage loses nothing: an index length of 0 reads the same index record again (its flags apply
// to the next message too); a marker's bytes at an odd offset belong to the text; a record cut
// inside its last word still runs to the end of the file.
TEST_F(Oe4DamageTest, DamagedMailboxOrIndexEndsItsFolderWithAReport) {
  const std::string idx = Read("Inbox.idx");
  const std::size_t first_length = static_cast<unsigned char>(idx[kIndexHeaderSize + 16]);
  auto index_with_first_length = [](std::initializer_list<std::uint8_t> flags,
                                    std::uint32_t length) {
    std::vector<Oe4Message> messages = Messages(flags);
    messages[0].index_length = length;
    return Oe4IndexFile(messages);
  };
  // A record of its 12 header bytes and no text: 16 bytes counted through the next marker.
  const std::string tiny = With32(std::string(16, '\0'), 0, kMailboxMarker);
  const std::string one = Oe4MailboxFile(Messages({0x10}));
  const std::string short_record =
      one + tiny + Oe4MailboxFile({Oe4TestMessage(3)}).substr(kMailboxHeaderSize);
  const std::string odd_marker = Oe4TestMessage(1) + "x" + std::string("\x00\x7F\x00\x7F", 4);
  const struct {
    const char* damage;
    const char* file;
    std::optional<std::string> bytes;  // nullopt: the file is removed
  } cases[] = {
      {"index shorter than its header", "Inbox.idx", idx.substr(0, 0x40)},
      {"index cut in the second length", "Inbox.idx",
       idx.substr(0, kIndexHeaderSize + first_length + 18)},
      {"zero length on a skipped record", "Inbox.idx",
       index_with_first_length({0x01, 0x10, 0x10}, 0)},
      {"absurd index length", "Inbox.idx",
       index_with_first_length({0x10, 0x10, 0x10}, 0xFFFFFFF0u)},
      {"record shorter than its header", "Inbox.mbx", short_record},
      {"last record cut in its header", "Inbox.mbx", one + tiny.substr(0, 12)},
      {"mailbox without marker", "Inbox.mbx", std::string(kMailboxHeaderSize, '\0') + "abc"},
      {"index missing", "Inbox.idx", std::nullopt},
      {"mailbox missing", "Inbox.mbx", std::nullopt},
      {"zero length: flags 0x12 for two messages", "Inbox.idx",
       index_with_first_length({0x12, 0x00, 0x08}, 0)},
      {"marker bytes at an odd offset", "Inbox.mbx", Oe4MailboxFile({{odd_marker, 0x10}})},
      {"record cut inside its last word", "Inbox.mbx", one.substr(0, kMailboxHeaderSize + 46)},
  };
  std::string text;
  for (const auto& c : cases) {
    PutStore(store);  // undoes the previous case
    if (c.bytes) files.AddFile(Path(c.file), *c.bytes);
    if (!c.bytes) files.Delete(Path(c.file));
    text += Walked(c.damage);
  }
  ExpectGolden(text, "oe4/damaged-mailboxes.txt");
}

// Folders whose files cannot be opened, or whose mailbox name leads out of the store folder, are
// passed over (without a marker, even with "Skip Empty Folders" unchecked) with the reason.
TEST_F(Oe4DamageTest, FolderThatCannotBeOpenedIsPassedOverWithTheReason) {
  Faulty().faults().open_for_reading = {"Unreadable.idx"};
  store.AddFolder("Unreadable", 0, Messages({0x10}));
  store.AddTo(files, kStoreDir);
  files.SetAttributes(Path("Sent.mbx"), platform::kAttributeDevice);
  files.Delete(Path("Drafts.idx"));
  files.Delete(Path("Drafts.mbx"));
  files.AddFile("C:\\OE\\outside\\secret.mbx", Oe4MailboxFile(Messages({0x10})));
  files.AddFile("C:\\OE\\outside\\secret.idx", Oe4IndexFile(Messages({0x10})));
  store.AddFolder("Climbing", 0, {}, "..\\outside\\secret");
  store.AddFolder("Rooted", 0, {}, "\\OE\\outside\\secret");
  files.AddFile(Path("folders.nch"), Oe4FoldersFile(store.folders, Oe4Layout::kFirst));

  ExpectGolden(Walked("empty folders kept", std::nullopt, /*skip_empty=*/false),
               "oe4/folders-that-cannot-be-opened.txt");
}

}  // namespace
}  // namespace kv::testing
