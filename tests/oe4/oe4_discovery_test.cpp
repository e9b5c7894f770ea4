// Finding the store and loading its folder table, through the filter's dispatch methods.

#include "oe4/oe_folders_file.h"
#include "oe4_fixture.h"

namespace kv::testing {
namespace {

Oe4Store OneFolderStore() {
  Oe4Store store;
  store.AddFolder("Inbox", 0, Messages({kOe4Received}));
  return store;
}

TEST_F(Oe4FilterTest, StoreRootValueNamedWithCapitalsLeadsToItsMailFolder) {
  registry.SetString(kOeRegistryKey, "Other", "x");
  PutStore(OneFolderStore());

  ASSERT_TRUE(Find());
  EXPECT_FALSE(Shown("dialog 147"));
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
  EXPECT_EQ(Folders(Walk()), std::vector<std::string>{"Inbox"});
}

// A value too large for the enumeration's buffers: the name (80 + NUL bytes) ends the enumeration
// before "Store Root"; the data (past 783 bytes) makes "store root" itself unusable.
TEST_F(Oe4FilterTest, ValueNameTooLargeEndsTheEnumerationBeforeStoreRoot) {
  registry.SetString(kOeRegistryKey, std::string(80, 'n'), "x");
  PutStore(OneFolderStore());
  ui.AnswerLocation(kStoreDir);
  ASSERT_TRUE(Find());
  EXPECT_TRUE(Shown("dialog 147"));
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST_F(Oe4FilterTest, StoreRootDataTooLargeIsNotFound) {
  registry.SetString(kOeRegistryKey, "store root", "C:\\" + std::string(800, 'd'));
  OneFolderStore().AddTo(files, kStoreDir);
  ui.AnswerLocation(kStoreDir);
  ASSERT_TRUE(Find());
  EXPECT_TRUE(Shown("dialog 147"));
}

TEST_F(Oe4FilterTest, WithoutRegistryTheLocationDialogAsksWithTheOe4BrowseTitle) {
  OneFolderStore().AddTo(files, "D:\\Copied");
  ui.AnswerLocation("D:\\Copied");

  ASSERT_TRUE(Find());
  EXPECT_TRUE(Shown("browse: Please select location for Outlook Express 4"));
  EXPECT_EQ(Folders(Walk()), std::vector<std::string>{"Inbox"});
}

TEST_F(Oe4FilterTest, UnusableFolderAsksToBrowseAgainUntilNo) {
  files.AddDirectory("C:\\Nothing");
  OneFolderStore().AddTo(files, "D:\\Good");

  // Yes: the location dialog comes back, proposing the folder that failed.
  ui.AnswerLocation("C:\\Nothing");
  ui.AnswerMessageBox(platform::kIdYes);
  ui.AnswerLocation("D:\\Good");
  ASSERT_TRUE(Find());
  EXPECT_TRUE(AskedToBrowseAgain());
  EXPECT_TRUE(Shown("shown 1005: C:\\Nothing"));

  // No: give up.
  ui.AnswerLocation("C:\\Nothing");
  ui.AnswerMessageBox(platform::kIdNo);
  EXPECT_FALSE(filter->IsSystemFound());
}

TEST_F(Oe4FilterTest, CancelInEitherDialogGivesUpWithoutQuestion126) {
  ui.AnswerLocation(std::nullopt);
  EXPECT_FALSE(filter->IsSystemFound());

  PutStore(OneFolderStore());
  ui.AnswerFolderDialog(std::nullopt);
  EXPECT_FALSE(filter->IsSystemFound());
  EXPECT_FALSE(AskedToBrowseAgain());
  EXPECT_FALSE(filter->GoFirst());
}

TEST_F(Oe4FilterTest, WithoutFoldersFileEveryMailboxIsATopLevelFolder) {
  Oe4Store store;
  store.with_folders_file = false;
  store.AddFolder("b", 0, Messages({kOe4Received}));
  store.AddFolder("a", 0, Messages({kOe4Received, kOe4Received}));
  files.AddFile(std::string(kStoreDir) + "\\notes.txt", "not a mailbox");
  PutStore(store);

  ASSERT_TRUE(Find());
  EXPECT_EQ(Folders(Walk()), (std::vector<std::string>{"a", "a", "b"}));
}

TEST_F(Oe4FilterTest, BothLayoutsAndUnusedRecordsGiveTheUsedFoldersInChainNotFileOrder) {
  for (Oe4Layout layout : {Oe4Layout::kFirst, Oe4Layout::kSecond}) {
    SCOPED_TRACE(layout == Oe4Layout::kFirst ? "first layout" : "second layout");
    ResetProcessState();
    Oe4Store store;
    store.layout = layout;
    store.AddUnusedRecord();
    store.AddFolder("Inbox", 0, Messages({kOe4Received}));
    store.AddUnusedRecord();
    store.AddFolder("Sent Items", 0, Messages({0x00}));
    store.AddUnusedRecord();
    PutStore(store);
    // Sent Items sits before Inbox in the file; the chain decides.
    files.AddFile(std::string(kStoreDir) + "\\folders.nch",
                  Oe4FoldersFile(store.folders, layout, {0, 3, 2, 1, 4}));

    ASSERT_TRUE(Find());
    EXPECT_EQ(Folders(Walk()), (std::vector<std::string>{"Inbox", "Sent Items"}));
    EXPECT_EQ(g_bFoldersSecondLayout, layout == Oe4Layout::kSecond);
  }
}

TEST_F(Oe4FilterTest, SecondLayoutStaysChosenForTheRestOfTheProcess) {
  Oe4Store second;
  second.layout = Oe4Layout::kSecond;
  second.AddFolder("Inbox", 0, Messages({kOe4Received}));
  second.AddFolder("Outbox", 0, Messages({0x08}));
  PutStore(second);
  ASSERT_TRUE(Find());
  EXPECT_EQ(Walk().size(), 2u);

  // A first-layout file keeps 0 at offset 8 of every record: read with the second layout, its
  // chain ends after the first record.
  Oe4Store first = second;
  first.layout = Oe4Layout::kFirst;
  first.AddTo(files, kStoreDir);
  auto later = NewFilter();
  ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{});
  ASSERT_TRUE(later->IsSystemFound());
  ASSERT_TRUE(later->GoFirst());
  EXPECT_EQ(later->GetSubItem(kSubItemFolderName), "Inbox");
  EXPECT_FALSE(later->GoNext());

  ResetProcessState();
  ASSERT_TRUE(Find());
  EXPECT_EQ(Walk().size(), 2u);
}

TEST_F(Oe4FilterTest, NestedFoldersGetBreadthFirstDisplayPaths) {
  Oe4Store store;
  // Children listed before their parents, an orphan and a duplicate number: linking must not
  // depend on file order, a parent number that matches nothing makes a top-level folder, and of
  // two folders with one number the later is the parent.
  const std::uint32_t deep = 10, child = 11, top = 12, twin = 13;
  store.folders.push_back({deep, "Deep", "deep", child});
  store.folders.push_back({child, "Child", "child", top});
  store.folders.push_back({top, "Top", "top", 0});
  store.folders.push_back({20, "Orphan", "orphan", 99});
  store.folders.push_back({twin, "Early", "early", 0});
  store.folders.push_back({twin, "Late", "late", 0});
  store.folders.push_back({30, "Kid", "kid", twin});
  for (const auto& entry : store.folders) store.mailboxes[entry.mailbox] = Messages({0x10});
  PutStore(store);

  ASSERT_TRUE(Find());
  EXPECT_EQ(Folders(Walk()), (std::vector<std::string>{"Top/Child/Deep", "Top/Child", "Top",
                                                       "Orphan", "Early", "Late", "Late/Kid"}));
}

TEST_F(Oe4FilterTest, FoldersFileWithOnlyUnusedRecordsFindsAStoreWithNothingToImport) {
  Oe4Store store;
  store.AddUnusedRecord();
  store.AddUnusedRecord();
  PutStore(store);

  EXPECT_TRUE(filter->IsSystemFound());
  EXPECT_FALSE(Shown("dialog 134"));
  EXPECT_FALSE(filter->GoFirst());
}

TEST_F(Oe4FilterTest, GoFirstAfterTheWalkEndedNeedsANewIsSystemFound) {
  PutStore(OneFolderStore());
  ASSERT_TRUE(Find());
  EXPECT_EQ(Walk().size(), 1u);
  EXPECT_FALSE(filter->GoFirst());
  ASSERT_TRUE(Find());
  EXPECT_EQ(Walk().size(), 1u);
}

}  // namespace
}  // namespace kv::testing
