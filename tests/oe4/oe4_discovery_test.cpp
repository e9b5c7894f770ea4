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

// "store root" is found whatever its capitals; a value name too large for the enumeration's
// buffer (80 + NUL) ends the enumeration before it, data too large (past 783 bytes) makes it
// unusable. Without it the location dialog asks.
TEST_F(Oe4FilterTest, StoreRootValueOrTheLocationDialog) {
  const struct {
    std::vector<std::pair<std::string, std::string>> values;  // in enumeration order
    bool asks;
  } cases[] = {
      {{{"Other", "x"}, {"Store Root", kStoreRoot}}, false},
      {{{std::string(80, 'n'), "x"}, {"STORE ROOT", kStoreRoot}}, true},
      {{{"store root", "C:\\" + std::string(800, 'd')}}, true},
      {{}, true},
  };
  OneFolderStore().AddTo(files, kStoreDir);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.values.empty() ? "none" : c.values[0].first);
    registry = platform::MemoryRegistry();
    for (const auto& [name, value] : c.values) registry.SetString(kOeRegistryKey, name, value);
    if (c.asks) ui.AnswerLocation(kStoreDir);
    const std::size_t shown = ui.transcript().size();
    ASSERT_TRUE(Find());
    EXPECT_EQ(Shown("dialog 147", shown), c.asks);
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
    EXPECT_EQ(Folders(Walk()), std::vector<std::string>{"Inbox"});
  }
}

// Without "folders.nch" every mailbox is a top-level folder. In either layout the chain, not the
// file order, decides; unused records are passed over. A list of unused records alone finds a
// store with nothing to import. Nested folders get breadth-first display paths: children listed
// before their parents, an orphan (whose parent number matches nothing: a top-level folder) and a
// duplicate number (of two folders with one number the later is the parent).
TEST_F(Oe4FilterTest, FolderListsGiveTheUsedFoldersInChainOrderWithTheirPaths) {
  Oe4Store store;
  store.with_folders_file = false;
  store.AddFolder("b", 0, Messages({kOe4Received}));
  store.AddFolder("a", 0, Messages({kOe4Received, kOe4Received}));
  files.AddFile(Path("notes.txt"), "not a mailbox");
  PutStore(store);
  std::string text = Walked("no folders.nch");
  for (Oe4Layout layout : {Oe4Layout::kFirst, Oe4Layout::kSecond}) {
    ResetProcessState();
    store = Oe4Store();
    store.layout = layout;
    store.AddUnusedRecord();
    store.AddFolder("Inbox", 0, Messages({kOe4Received}));
    store.AddUnusedRecord();
    store.AddFolder("Sent Items", 0, Messages({0x00}));
    store.AddUnusedRecord();
    PutStore(store);
    files.AddFile(Path("folders.nch"), Oe4FoldersFile(store.folders, layout, {0, 3, 2, 1, 4}));
    text += Walked(layout == Oe4Layout::kFirst ? "first layout" : "second layout");
    EXPECT_EQ(g_bFoldersSecondLayout, layout == Oe4Layout::kSecond);
  }
  store = Oe4Store();
  store.AddUnusedRecord();
  store.AddUnusedRecord();
  PutStore(store);
  ResetProcessState();
  const std::size_t shown = ui.transcript().size();
  text += Walked("unused records alone");
  EXPECT_FALSE(Shown("dialog 134", shown)) << "the folder dialog is not shown";
  store.folders = {{10, "Deep", "deep", 11},  {11, "Child", "child", 12},
                   {12, "Top", "top", 0},     {20, "Orphan", "orphan", 99},
                   {13, "Early", "early", 0}, {13, "Late", "late", 0},
                   {30, "Kid", "kid", 13}};
  for (const auto& entry : store.folders) store.mailboxes[entry.mailbox] = Messages({0x10});
  PutStore(store);
  ExpectGolden(text + Walked("nested"), "oe4/folder-lists.txt");
}

}  // namespace
}  // namespace kv::testing
