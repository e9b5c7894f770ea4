// Damaged stores: each test starts from a valid store, changes one thing, and checks that the
// filter ends as documented: a damaged folder list makes the store unusable (question 126), a
// damaged mailbox or index ends that folder and the walk goes on.

#include "oe4_fixture.h"
#include "platform/fake/fault_file_system.h"

namespace kv::testing {
namespace {

void Put32(std::string& bytes, std::uint64_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

class Oe4DamageTest : public Oe4FilterTest {
 protected:
  void SetUp() override {
    store.AddFolder("Inbox", 0, Messages({0x10, 0x12, 0x00}));
    store.AddFolder("Sent", 0, Messages({0x00, 0x00}));
    store.AddFolder("Drafts", 0, Messages({0x08}));
    PutStore(store);
  }

  std::string Path(const std::string& name) const { return std::string(kStoreDir) + "\\" + name; }
  std::string Read(const std::string& name) const { return files.Contents(Path(name)).value(); }
  void Replace(const std::string& name, const std::string& bytes) {
    files.AddFile(Path(name), bytes);
  }

  Oe4Store store;
};

TEST_F(Oe4DamageTest, DamagedFolderListMakesTheStoreUnreadable) {
  const std::string nch = Read("folders.nch");
  auto with_next = [&nch](std::size_t slot, std::uint64_t next) {
    std::string bytes = nch;
    Put32(bytes, Oe4FolderRecordOffset(slot) + 12, static_cast<std::uint32_t>(next));
    return bytes;
  };
  const std::pair<const char*, std::string> cases[] = {
      {"shorter than its header", nch.substr(0, 0x246)},
      {"chain comes back", with_next(2, Oe4FolderRecordOffset(1))},
      {"record is its own successor", with_next(0, Oe4FolderRecordOffset(0))},
      {"next far past the end", with_next(1, 0x7FFFFFF0u)},
      {"next negative", with_next(1, 0x80000000u)},
      {"next all ones", with_next(1, 0xFFFFFFFFu)},
      {"next inside the last record", with_next(1, nch.size() - 10)},
  };
  for (const auto& [damage, bytes] : cases) {
    SCOPED_TRACE(damage);
    Replace("folders.nch", bytes);
    ui.AnswerMessageBox(platform::kIdNo);
    EXPECT_FALSE(Find());
    EXPECT_TRUE(AskedToBrowseAgain());
  }
}

// The last record cut inside its name: the folders before it still import; the cut one names no
// mailbox that exists and is passed over.
TEST_F(Oe4DamageTest, RecordCutByTheEndKeepsTheFoldersBeforeIt) {
  Replace("folders.nch", Read("folders.nch").substr(0, Oe4FolderRecordOffset(2) + 30));
  ASSERT_TRUE(Find());
  EXPECT_EQ(Folders(Walk()), (std::vector<std::string>{"Inbox", "Inbox", "Inbox", "Sent", "Sent"}));
  EXPECT_FALSE(AskedToBrowseAgain());
}

TEST_F(Oe4DamageTest, ParentCycleLeavesNamesAsPathsAndEndsTheWalk) {
  store.folders[0].parent_id = store.folders[1].id;
  store.folders[1].parent_id = store.folders[0].id;
  store.folders[2].parent_id = store.folders[2].id;
  Replace("folders.nch", Oe4FoldersFile(store.folders, Oe4Layout::kFirst));

  // None is top-level, so the dialog's tree holds only its root item; the root keeps them all.
  ASSERT_TRUE(Find());
  EXPECT_EQ(Folders(Walk()),
            (std::vector<std::string>{"Inbox", "Inbox", "Inbox", "Sent", "Sent", "Drafts"}));
}

// Each damage to Inbox's pair ends that folder early; the walk goes on with the other folders.
TEST_F(Oe4DamageTest, DamagedMailboxOrIndexEndsItsFolder) {
  const std::string idx = Read("Inbox.idx");
  const std::size_t first_length = static_cast<unsigned char>(idx[kIndexHeaderSize + 16]);
  auto index_with_first_length = [](std::initializer_list<std::uint8_t> flags,
                                    std::uint32_t length) {
    std::vector<Oe4Message> messages = Messages(flags);
    messages[0].index_length = length;
    return Oe4IndexFile(messages);
  };
  // A record of its 12 header bytes and no text: 16 bytes counted through the next marker.
  std::string tiny(16, '\0');
  Put32(tiny, 0, kMailboxMarker);
  const std::string short_record = Oe4MailboxFile(Messages({0x10})) + tiny +
                                   Oe4MailboxFile({Oe4TestMessage(3)}).substr(kMailboxHeaderSize);
  const std::vector<std::string> after_one{"Inbox", "Sent", "Sent", "Drafts"};
  const std::vector<std::string> none{"Sent", "Sent", "Drafts"};
  struct Case {
    const char* damage;
    const char* file;
    std::string bytes;
    std::vector<std::string> folders;
    bool keep_empty = false;  // "Skip Empty Folders" unchecked: an emptied Inbox gives its marker
  };
  const Case cases[] = {
      {"index shorter than its header", "Inbox.idx", idx.substr(0, 0x40), after_one, true},
      {"index cut in the second length", "Inbox.idx",
       idx.substr(0, kIndexHeaderSize + first_length + 18), after_one},
      {"zero length on a skipped record", "Inbox.idx",
       index_with_first_length({0x01, 0x10, 0x10}, 0), none},
      {"absurd index length", "Inbox.idx", index_with_first_length({0x10, 0x10, 0x10}, 0xFFFFFFF0u),
       after_one},
      {"record shorter than its header", "Inbox.mbx", short_record, after_one},
      {"mailbox without marker", "Inbox.mbx", std::string(kMailboxHeaderSize, '\0') + "abc", none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.damage);
    PutStore(store);  // undoes the previous case
    Replace(c.file, c.bytes);
    ASSERT_TRUE(Find(std::nullopt, /*skip_empty=*/!c.keep_empty));
    const std::vector<Oe4Item> items = Walk();
    EXPECT_EQ(Folders(items), c.folders);
    EXPECT_TRUE(!c.keep_empty || items.at(0).file == kEmptyFolderMarker);
  }
}

TEST_F(Oe4DamageTest, IndexLengthZeroReadsTheSameIndexRecordAgain) {
  std::vector<Oe4Message> messages = Messages({0x12, 0x00, 0x08});
  messages[0].index_length = 0;
  Replace("Inbox.idx", Oe4IndexFile(messages));

  ASSERT_TRUE(Find());
  const std::vector<Oe4Item> items = Walk();
  ASSERT_EQ(items.size(), 6u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(items[i].state, 6) << i;
    EXPECT_EQ(items[i].message, Padded(Oe4TestMessage(i + 1)));
  }
}

TEST_F(Oe4DamageTest, MarkersOnlyCountAtWordBoundaries) {
  // The marker's bytes inside a text at an odd offset belong to the text.
  std::string text = Oe4TestMessage(1) + "x";
  text += std::string("\x00\x7F\x00\x7F", 4);
  Replace("Inbox.mbx", Oe4MailboxFile({{text, 0x10, std::nullopt}}));

  ASSERT_TRUE(Find());
  const std::vector<Oe4Item> items = Walk();
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items[0].message, Padded(text));
  EXPECT_EQ(items[1].folder, "Sent");
}

TEST_F(Oe4DamageTest, RecordCutInItsLastWordStillReachesTheEnd) {
  const std::string cut = Oe4MailboxFile(Messages({0x10})).substr(0, kMailboxHeaderSize + 16 + 30);
  Replace("Inbox.mbx", cut);
  ASSERT_TRUE(Find());
  const std::vector<Oe4Item> items = Walk();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].message, cut.substr(kMailboxHeaderSize + 16));
}

TEST_F(Oe4DamageTest, TemporaryFileThatCannotBeWrittenWholeIsNotHandedOver) {
  store.mailboxes["Sent"][0].text += std::string(5000, 'z');
  Replace("Sent.mbx", Oe4MailboxFile(store.mailboxes["Sent"]));
  platform::FaultFileSystem faulty(files);
  platform::Services faulty_services{registry,  faulty, temp,       environment,
                                     code_page, ui,     diagnostics};
  filter = FindFilterClass("oe4")->create(faulty_services);
  faulty.faults().write_budget = 4096;
  ASSERT_TRUE(Find());
  const std::vector<Oe4Item> items = Walk();
  EXPECT_EQ(Folders(items), (std::vector<std::string>{"Inbox", "Inbox", "Inbox", "Drafts"}));
  // Only the handed-over files remain in the temporary folder.
  std::size_t temp_files = 0;
  for (const std::string& path : files.ListFiles())
    temp_files += path.find("\\TEMP\\") != std::string::npos;
  EXPECT_EQ(temp_files, items.size());
  EXPECT_EQ(faulty.OpenCount(), 0);

  // A temporary file that cannot be created ends each folder.
  faulty.faults().open_for_writing = {"\\TEMP\\"};
  ASSERT_TRUE(Find());
  EXPECT_TRUE(Walk().empty());
}

TEST_F(Oe4DamageTest, OnlyTemporaryFilesAreWritten) {
  std::map<std::string, std::string> before;
  for (const std::string& path : files.ListFiles()) before[path] = *files.Contents(path);
  ASSERT_TRUE(Find(std::nullopt, false));
  EXPECT_EQ(Walk().size(), 6u);
  for (const auto& [path, bytes] : before) EXPECT_EQ(files.Contents(path), bytes) << path;
  for (const std::string& path : files.ListFiles()) {
    EXPECT_TRUE(before.contains(path) || path.starts_with("C:\\TEMP\\imp")) << path;
  }
}

// Folder i is the parent of folder i + 1, every name `name_length` characters long.
std::vector<Oe4FolderEntry> Chain(std::size_t depth, std::size_t name_length) {
  std::vector<Oe4FolderEntry> entries;
  for (std::uint32_t id = 1; id <= depth; ++id) {
    entries.push_back(
        {id, std::string(name_length, static_cast<char>('a' + id % 26)), "m", id - 1});
  }
  return entries;
}

TEST_F(Oe4FilterTest, DeepFolderChainGetsItsFullPath) {
  Oe4Store store;
  store.folders = Chain(100, 3);
  store.mailboxes["m"] = Messages({0x10});
  PutStore(store);
  const std::vector<Oe4FolderEntry>& entries = store.folders;

  ASSERT_TRUE(Find());
  const std::vector<Oe4Item> items = Walk();
  ASSERT_EQ(items.size(), 100u);
  std::string path = entries[0].name;
  for (std::size_t i = 1; i < entries.size(); ++i) path += "/" + entries[i].name;
  EXPECT_EQ(items.back().folder, path);
}

TEST_F(Oe4FilterTest, FolderChainTooDeepForItsPathsIsRefusedAsDamaged) {
  files.AddFile(std::string(kStoreDir) + "\\folders.nch",
                Oe4FoldersFile(Chain(1000, 258), Oe4Layout::kFirst));
  registry.SetString(kOeRegistryKey, "store root", kStoreRoot);
  ui.AnswerMessageBox(platform::kIdNo);
  EXPECT_FALSE(Find());
  EXPECT_TRUE(AskedToBrowseAgain());
}

}  // namespace
}  // namespace kv::testing
