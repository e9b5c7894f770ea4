// Damaged stores: each test starts from a valid store, changes one thing, and checks that the
// filter ends as it should: a damaged folder list makes the store unusable (question 126), a
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

TEST_F(Oe4DamageTest, DamagedFolderListMakesTheStoreUnreadableAndSaysWhy) {
  const std::string nch = Read("folders.nch");
  auto with_next = [&nch](std::size_t slot, std::uint64_t next) {
    std::string bytes = nch;
    Put32(bytes, Oe4FolderRecordOffset(slot) + 12, static_cast<std::uint32_t>(next));
    return bytes;
  };
  struct Case {
    const char* damage;
    std::string bytes;
    std::uint64_t offset;  // where the report places the damage
  };
  const Case cases[] = {
      {"shorter than its header", nch.substr(0, 0x246), 0},
      {"chain comes back", with_next(2, Oe4FolderRecordOffset(1)), Oe4FolderRecordOffset(1)},
      {"record is its own successor", with_next(0, Oe4FolderRecordOffset(0)),
       Oe4FolderRecordOffset(0)},
      {"next negative", with_next(1, 0x80000000u), Oe4FolderRecordOffset(1)},
      {"next all ones", with_next(1, 0xFFFFFFFFu), Oe4FolderRecordOffset(1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.damage);
    Replace("folders.nch", c.bytes);
    diagnostics.Clear();
    ui.AnswerMessageBox(platform::kIdNo);
    EXPECT_FALSE(Find());
    EXPECT_TRUE(AskedToBrowseAgain());
    ASSERT_EQ(diagnostics.entries().size(), 1u);
    const platform::Diagnostic& report = diagnostics.entries()[0];
    EXPECT_EQ(report.file, "folders.nch");
    EXPECT_EQ(report.offset, c.offset);
    EXPECT_NE(report.lost.find("every folder"), std::string::npos) << report.lost;
  }
}

// A folder list cut by the end of the file, or whose chain leads past it, keeps the folders whose
// records lie whole before the cut and says where it was cut.
TEST_F(Oe4DamageTest, FolderListCutByTheEndKeepsTheWholeRecordsBeforeIt) {
  const std::string nch = Read("folders.nch");
  std::string far_next = nch;
  Put32(far_next, Oe4FolderRecordOffset(1) + 12, 0x7FFFFFF0u);
  std::string next_inside_last = nch;
  Put32(next_inside_last, Oe4FolderRecordOffset(1) + 12,
        static_cast<std::uint32_t>(nch.size() - 10));
  const std::vector<std::string> two{"Inbox", "Inbox", "Inbox", "Sent", "Sent"};
  struct Case {
    const char* damage;
    std::string bytes;
    std::uint64_t offset;
    std::vector<std::string> folders;
  };
  const Case cases[] = {
      {"cut after a whole record", nch.substr(0, Oe4FolderRecordOffset(2)),
       Oe4FolderRecordOffset(2), two},
      {"cut inside the names of a record", nch.substr(0, Oe4FolderRecordOffset(2) + 30),
       Oe4FolderRecordOffset(2), two},
      {"cut in its parent number", nch.substr(0, Oe4FolderRecordOffset(2) + 541),
       Oe4FolderRecordOffset(2), two},
      {"next far past the end", far_next, 0x7FFFFFF0u, two},
      {"next inside the last record", next_inside_last, nch.size() - 10, two},
      {"cut inside the first record",
       nch.substr(0, Oe4FolderRecordOffset(0) + 100),
       Oe4FolderRecordOffset(0),
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.damage);
    Replace("folders.nch", c.bytes);
    diagnostics.Clear();
    ASSERT_TRUE(Find());
    EXPECT_EQ(Folders(Walk()), c.folders);
    EXPECT_FALSE(AskedToBrowseAgain());
    ASSERT_EQ(diagnostics.entries().size(), 1u);
    const platform::Diagnostic& report = diagnostics.entries()[0];
    EXPECT_EQ(report.file, "folders.nch");
    EXPECT_EQ(report.offset, c.offset);
    EXPECT_NE(report.problem.find("the file ends"), std::string::npos) << report.problem;
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

// Each damage to Inbox's pair ends that folder early, or passes it over; the walk goes on with the
// other folders, and one report names the folder, the file, the offset and what was lost.
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
  std::string tiny(16, '\0');
  Put32(tiny, 0, kMailboxMarker);
  const std::string one = Oe4MailboxFile(Messages({0x10}));
  const std::string short_record =
      one + tiny + Oe4MailboxFile({Oe4TestMessage(3)}).substr(kMailboxHeaderSize);
  const std::vector<std::string> after_one{"Inbox", "Sent", "Sent", "Drafts"};
  const std::vector<std::string> none{"Sent", "Sent", "Drafts"};
  struct Case {
    const char* damage;
    const char* file;
    std::optional<std::string> bytes;  // nullopt: the file is removed
    std::vector<std::string> folders;
    const char* reported_file;  // nullptr: nothing is reported
    std::optional<std::uint64_t> offset;
    const char* lost;
  };
  const Case cases[] = {
      {"index shorter than its header", "Inbox.idx", idx.substr(0, 0x40), none, "Inbox.idx",
       kIndexHeaderSize, "the rest of the folder: 3 records"},
      {"index cut in the second length", "Inbox.idx",
       idx.substr(0, kIndexHeaderSize + first_length + 18), after_one, "Inbox.idx",
       kIndexHeaderSize + first_length, "the rest of the folder: 2 records"},
      {"zero length on a skipped record", "Inbox.idx",
       index_with_first_length({0x01, 0x10, 0x10}, 0), none, nullptr, std::nullopt, nullptr},
      {"absurd index length", "Inbox.idx", index_with_first_length({0x10, 0x10, 0x10}, 0xFFFFFFF0u),
       after_one, "Inbox.idx", kIndexHeaderSize + 0xFFFFFFF0ull,
       "the rest of the folder: 2 records"},
      {"record shorter than its header", "Inbox.mbx", short_record, after_one, "Inbox.mbx",
       one.size(), "the rest of the folder: 1 record"},
      {"last record cut in its header", "Inbox.mbx", one + tiny.substr(0, 12), after_one,
       "Inbox.mbx", one.size(), "the record, cut off"},
      {"mailbox without marker", "Inbox.mbx", std::string(kMailboxHeaderSize, '\0') + "abc", none,
       nullptr, std::nullopt, nullptr},
      {"index missing", "Inbox.idx", std::nullopt, none, "Inbox.idx", std::nullopt, "the folder"},
      {"mailbox missing", "Inbox.mbx", std::nullopt, none, "Inbox.mbx", std::nullopt, "the folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.damage);
    PutStore(store);  // undoes the previous case
    if (c.bytes) {
      Replace(c.file, *c.bytes);
    } else {
      files.Delete(Path(c.file));
    }
    diagnostics.Clear();
    ASSERT_TRUE(Find());
    EXPECT_EQ(Folders(Walk()), c.folders);
    if (c.reported_file == nullptr) {
      EXPECT_TRUE(diagnostics.entries().empty());
      continue;
    }
    ASSERT_EQ(diagnostics.entries().size(), 1u);
    const platform::Diagnostic& report = diagnostics.entries()[0];
    EXPECT_EQ(report.kind, platform::DiagnosticKind::kSkipped);
    EXPECT_EQ(report.folder, "Inbox");
    EXPECT_EQ(report.file, c.reported_file);
    EXPECT_EQ(report.offset, c.offset);
    EXPECT_TRUE(report.lost.starts_with(c.lost)) << report.lost;
  }
}

// Folders whose files cannot be opened, or whose mailbox name leads out of the store folder, are
// passed over (without a marker, even with "Skip Empty Folders" unchecked) with a report that says
// why.
TEST_F(Oe4DamageTest, FolderThatCannotBeOpenedIsPassedOverWithTheReason) {
  platform::FaultFileSystem faulty(files);
  platform::Services faulty_services{registry,  faulty, temp,       environment,
                                     code_page, ui,     diagnostics};
  filter = FindFilterClass("oe4")->create(faulty_services);
  faulty.faults().open_for_reading = {"Unreadable.idx"};
  store.AddFolder("Unreadable", 0, Messages({0x10}));
  store.AddTo(files, kStoreDir);
  files.SetAttributes(Path("Sent.mbx"), platform::kAttributeDevice);
  files.Delete(Path("Drafts.idx"));
  files.Delete(Path("Drafts.mbx"));
  files.AddFile("C:\\OE\\outside\\secret.mbx", Oe4MailboxFile(Messages({0x10})));
  files.AddFile("C:\\OE\\outside\\secret.idx", Oe4IndexFile(Messages({0x10})));
  store.AddFolder("Climbing", 0, {}, "..\\outside\\secret");
  store.AddFolder("Rooted", 0, {}, "\\OE\\outside\\secret");
  Replace("folders.nch", Oe4FoldersFile(store.folders, Oe4Layout::kFirst));

  ASSERT_TRUE(Find(std::nullopt, /*skip_empty=*/false));
  EXPECT_EQ(Folders(Walk()), (std::vector<std::string>{"Inbox", "Inbox", "Inbox"}));
  std::vector<std::string> reports;
  for (const platform::Diagnostic& report : diagnostics.entries()) {
    EXPECT_EQ(report.lost, "the folder");
    reports.push_back(report.folder + ": " + report.file + ": " + report.problem);
  }
  EXPECT_EQ(reports, (std::vector<std::string>{
                         "Sent: Sent.mbx: not a file that holds data (a device or a FIFO)",
                         "Drafts: Drafts.mbx: file missing; Drafts.idx: file missing",
                         "Unreadable: Unreadable.idx: file cannot be opened for reading",
                         "Climbing: ..\\outside\\secret: the mailbox name leads outside the store "
                         "folder and is not followed",
                         "Rooted: \\OE\\outside\\secret: the mailbox name leads outside the store "
                         "folder and is not followed"}));
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
  ASSERT_EQ(diagnostics.entries().size(), 1u);
  EXPECT_EQ(diagnostics.entries()[0].kind, platform::DiagnosticKind::kOutputFailure);
  EXPECT_EQ(diagnostics.entries()[0].folder, "Sent");
  EXPECT_TRUE(diagnostics.entries()[0].file.starts_with("C:\\TEMP\\imp"));

  // A temporary file that cannot be created ends each folder, with a report for each.
  faulty.faults().open_for_writing = {"\\TEMP\\"};
  diagnostics.Clear();
  ASSERT_TRUE(Find());
  EXPECT_TRUE(Walk().empty());
  EXPECT_EQ(diagnostics.entries().size(), 3u);
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
