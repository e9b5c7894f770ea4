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

  // IsSystemFound on a store whose folder list is unreadable: question 126, answered No.
  void ExpectStoreRefused() {
    ui.AnswerMessageBox(platform::kIdNo);
    EXPECT_FALSE(Find());
    EXPECT_TRUE(AskedToBrowseAgain());
  }

  Oe4Store store;
};

TEST_F(Oe4DamageTest, FolderListShorterThanItsHeaderIsUnreadable) {
  Replace("folders.nch", Read("folders.nch").substr(0, 0x246));
  ExpectStoreRefused();
}

TEST_F(Oe4DamageTest, FolderRecordCutByTheEndOfTheFileIsUnreadable) {
  const std::string nch = Read("folders.nch");
  Replace("folders.nch", nch.substr(0, Oe4FolderRecordOffset(2) + 100));
  ExpectStoreRefused();
}

TEST_F(Oe4DamageTest, ChainThatComesBackIsUnreadableNotEndless) {
  std::string nch = Read("folders.nch");
  Put32(nch, Oe4FolderRecordOffset(2) + 12, static_cast<std::uint32_t>(Oe4FolderRecordOffset(1)));
  Replace("folders.nch", nch);
  ExpectStoreRefused();

  // A record that names itself as its successor, and a chain through unused records only.
  nch = Read("folders.nch");
  Put32(nch, Oe4FolderRecordOffset(0) + 12, static_cast<std::uint32_t>(Oe4FolderRecordOffset(0)));
  Replace("folders.nch", nch);
  ExpectStoreRefused();
}

TEST_F(Oe4DamageTest, NextOffsetPastTheEndOrNegativeIsUnreadable) {
  for (std::uint32_t next : {0x7FFFFFF0u, 0x80000000u, 0xFFFFFFFFu,
                             static_cast<std::uint32_t>(Read("folders.nch").size() - 10)}) {
    SCOPED_TRACE(next);
    std::string nch = Oe4FoldersFile(store.folders, Oe4Layout::kFirst);
    Put32(nch, Oe4FolderRecordOffset(1) + 12, next);
    Replace("folders.nch", nch);
    ExpectStoreRefused();
  }
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

TEST_F(Oe4DamageTest, TruncatedIndexEndsItsFolder) {
  // Cut inside the second index record's length field.
  const std::string idx = Read("Inbox.idx");
  const std::size_t first_length = static_cast<unsigned char>(idx[kIndexHeaderSize + 16]);
  Replace("Inbox.idx", idx.substr(0, kIndexHeaderSize + first_length + 18));

  ASSERT_TRUE(Find());
  EXPECT_EQ(Folders(Walk()), (std::vector<std::string>{"Inbox", "Sent", "Sent", "Drafts"}));
}

TEST_F(Oe4DamageTest, IndexShorterThanItsHeaderMakesTheFolderEmpty) {
  Replace("Inbox.idx", Read("Inbox.idx").substr(0, 0x40));
  ASSERT_TRUE(Find(std::nullopt, /*skip_empty=*/false));
  const std::vector<Oe4Item> items = Walk();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].file, kEmptyFolderMarker);
  EXPECT_EQ(items[0].folder, "Inbox");
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

TEST_F(Oe4DamageTest, IndexLengthZeroOnASkippedRecordSkipsEveryMessage) {
  std::vector<Oe4Message> messages = Messages({0x01, 0x10, 0x10});
  messages[0].index_length = 0;
  Replace("Inbox.idx", Oe4IndexFile(messages));

  ASSERT_TRUE(Find());
  EXPECT_EQ(Folders(Walk()), (std::vector<std::string>{"Sent", "Sent", "Drafts"}));
}

TEST_F(Oe4DamageTest, AbsurdIndexLengthEndsTheFolderAfterItsMessage) {
  std::vector<Oe4Message> messages = Messages({0x10, 0x10, 0x10});
  messages[0].index_length = 0xFFFFFFF0u;
  Replace("Inbox.idx", Oe4IndexFile(messages));

  ASSERT_TRUE(Find());
  EXPECT_EQ(Folders(Walk()), (std::vector<std::string>{"Inbox", "Sent", "Sent", "Drafts"}));
}

TEST_F(Oe4DamageTest, ShortRecordEndsTheFolder) {
  // A record of its 12 header bytes and no text: 16 bytes counted through the next marker.
  std::string mbx = Oe4MailboxFile({{Oe4TestMessage(1), 0x10, std::nullopt}});
  std::string tiny(16, '\0');
  Put32(tiny, 0, kMailboxMarker);
  mbx +=
      tiny + Oe4MailboxFile({{Oe4TestMessage(3), 0x10, std::nullopt}}).substr(kMailboxHeaderSize);
  Replace("Inbox.mbx", mbx);

  ASSERT_TRUE(Find());
  EXPECT_EQ(Folders(Walk()), (std::vector<std::string>{"Inbox", "Sent", "Sent", "Drafts"}));
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

TEST_F(Oe4DamageTest, MailboxWithoutMarkerOrWithPartialLastWordEndsCleanly) {
  Replace("Inbox.mbx", std::string(kMailboxHeaderSize, '\0') + "abc");
  ASSERT_TRUE(Find());
  EXPECT_EQ(Folders(Walk()), (std::vector<std::string>{"Sent", "Sent", "Drafts"}));

  // A record cut in its last word still reaches the end of the file.
  const std::string cut = Oe4MailboxFile(Messages({0x10})).substr(0, kMailboxHeaderSize + 16 + 30);
  Replace("Inbox.mbx", cut);
  ASSERT_TRUE(Find());
  const std::vector<Oe4Item> items = Walk();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].message, cut.substr(kMailboxHeaderSize + 16));
}

TEST_F(Oe4DamageTest, UncreatableTemporaryFileEndsEachFolder) {
  platform::FaultFileSystem faulty(files);
  faulty.faults().open_for_writing = {"\\TEMP\\"};
  platform::Services faulty_services{registry, faulty, temp, environment, code_page, ui};
  filter = FindFilterClass("oe4")->create(faulty_services);
  ASSERT_TRUE(Find());
  EXPECT_TRUE(Walk().empty());
}

TEST_F(Oe4DamageTest, MessageThatCannotBeWrittenWholeIsNotHandedOver) {
  store.mailboxes["Sent"][0].text += std::string(5000, 'z');
  Replace("Sent.mbx", Oe4MailboxFile(store.mailboxes["Sent"]));
  platform::FaultFileSystem faulty(files);
  faulty.faults().write_budget = 4096;
  platform::Services faulty_services{registry, faulty, temp, environment, code_page, ui};
  filter = FindFilterClass("oe4")->create(faulty_services);

  ASSERT_TRUE(Find());
  const std::vector<Oe4Item> items = Walk();
  EXPECT_EQ(Folders(items), (std::vector<std::string>{"Inbox", "Inbox", "Inbox", "Drafts"}));
  // Only the handed-over files remain in the temporary folder.
  std::size_t temp_files = 0;
  for (const std::string& path : files.ListFiles())
    temp_files += path.find("\\TEMP\\") != std::string::npos;
  EXPECT_EQ(temp_files, items.size());
  EXPECT_EQ(faulty.OpenCount(), 0);
}

// Forwards to another file system and records every path it was asked to change.
class ChangeRecordingFileSystem final : public platform::FileSystem {
 public:
  explicit ChangeRecordingFileSystem(platform::FileSystem& target) : target_(target) {}
  std::vector<std::string> changed;

  std::unique_ptr<platform::ReadableFile> OpenForReading(const std::string& path,
                                                         platform::OpenMode mode) override {
    return target_.OpenForReading(path, mode);
  }
  std::unique_ptr<platform::WritableFile> OpenForWriting(const std::string& path) override {
    changed.push_back(path);
    return target_.OpenForWriting(path);
  }
  std::unique_ptr<platform::MappedFile> MapReadOnly(const std::string& path) override {
    return target_.MapReadOnly(path);
  }
  std::unique_ptr<platform::FileFinder> FindFirst(const std::string& pattern) override {
    return target_.FindFirst(pattern);
  }
  bool Exists(const std::string& path) override { return target_.Exists(path); }
  std::optional<platform::FileStatus> Status(const std::string& path) override {
    return target_.Status(path);
  }
  bool Delete(const std::string& path) override {
    changed.push_back(path);
    return target_.Delete(path);
  }
  std::string NativePath(const std::string& path) override { return target_.NativePath(path); }

 private:
  platform::FileSystem& target_;
};

TEST_F(Oe4DamageTest, OnlyTemporaryFilesAreWritten) {
  std::map<std::string, std::string> before;
  for (const std::string& path : files.ListFiles()) before[path] = *files.Contents(path);
  ChangeRecordingFileSystem recording(files);
  platform::Services recording_services{registry, recording, temp, environment, code_page, ui};
  filter = FindFilterClass("oe4")->create(recording_services);

  ASSERT_TRUE(Find(std::nullopt, false));
  EXPECT_EQ(Walk().size(), 6u);
  EXPECT_EQ(recording.changed.size(), 6u);
  for (const std::string& path : recording.changed)
    EXPECT_EQ(path.rfind("C:\\TEMP\\imp", 0), 0u) << path;
  for (const auto& [path, bytes] : before) EXPECT_EQ(files.Contents(path), bytes) << path;
}

}  // namespace
}  // namespace kv::testing

namespace kv::testing {
namespace {

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
  const std::vector<Oe4FolderEntry> entries = Chain(100, 3);
  files.AddFile(std::string(kStoreDir) + "\\folders.nch",
                Oe4FoldersFile(entries, Oe4Layout::kFirst));
  files.AddFile(std::string(kStoreDir) + "\\m.mbx", Oe4MailboxFile(Messages({0x10})));
  files.AddFile(std::string(kStoreDir) + "\\m.idx", Oe4IndexFile(Messages({0x10})));
  registry.SetString(kOeRegistryKey, "store root", kStoreRoot);

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
