// Finding a Eudora store: the registry's command line, long folder names, the location dialog
// shown every time, the questions for an unusable or incomplete store, the folder maps and the
// settings file.

#include <gtest/gtest.h>

#include "eudora/eudora_folders.h"
#include "eudora/eudora_paths.h"
#include "eudora_fixture.h"
#include "support/golden.h"

namespace kv::testing {
namespace {

TEST(EudoraPaths, CommandLineGivesTheTextBetweenTheFirstAndLastBlank) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\EUDORA\\EUDORA.EXE C:\\EUDORA C:\\EUDORA\\EUDORA.INI", "C:\\EUDORA"},
      {"  prog   C:\\Mail   ini \r\n", "C:\\Mail"},
      {"prog C:\\My Mail ini", "C:\\My Mail"},
      {"prog C:\\EUDORA", ""},
      {"prog", ""},
      {"", ""},
  };
  for (const auto& [command_line, folder] : cases) {
    EXPECT_EQ(StoreFolderFromCommandLine(command_line), folder) << command_line;
  }
}

TEST(EudoraPaths, SummaryFileSitsBesideItsMailbox) {
  EXPECT_EQ(SummaryPathFor("C:\\Mail.box\\In.mbx"), "C:\\Mail.box\\In.toc");
  EXPECT_EQ(SummaryPathFor("C:\\x/Old.mail.mbx"), "C:\\x/Old.mail.toc");
  EXPECT_EQ(SummaryPathFor("In"), "In.toc");
}

TEST(EudoraPaths, LongFormOfAFolder) {
  platform::MemoryFileSystem files;
  files.AddDirectory("C:\\Program Files\\Qualcomm\\Eudora Mail");
  files.AddDirectory("C:\\MAIL\\EUDORA.OLD");
  files.AddDirectory("C:\\MAIL\\Eudora");  // beside EUDORA.OLD: never taken for it
  files.AddFile("C:\\Program Files\\notes.txt", "x");
  const std::string long_folder = "C:\\Program Files\\Qualcomm\\Eudora Mail";
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\PROGRA~1\\QUALCOMM\\EUDORA~1", long_folder},
      {"C:\\program files\\qualcomm\\eudora mail\\", long_folder},
      {"c:\\PROGRA~1", "c:\\Program Files"},
      {"C:\\MAIL\\EUDORA.OLD", "C:\\MAIL\\EUDORA.OLD"},  // the extension is not looked up
      {"C:/mail/eudora", "C:\\MAIL\\Eudora"},
      {"\\\\server\\share\\mail", "\\\\server\\share\\mail"},
      {"C:\\PROGRA~1\\Missing", "C:\\PROGRA~1\\Missing"},
      {"C:\\PROGRA~1\\notes", "C:\\PROGRA~1\\notes"},
  };
  for (const auto& [source, expanded] : cases) {
    EXPECT_EQ(ExpandLongPath(files, source), expanded) << source;
  }
  EXPECT_EQ(ExpandLongPath(files, "C:\\PROGRA~1", 16), "C:\\PROGRA~1")
      << "a long form that does not fit keeps the source";
  EXPECT_EQ(ExpandLongPath(files, "C:\\nowhere\\" + std::string(300, 'x')).size(), 259u);
}

TEST(EudoraFolderMapLine, SplitsIntoNameFileAndJoinedType) {
  struct Case {
    const char* line;
    bool used;
    const char* name;
    const char* file;
    const char* type;
  };
  const Case cases[] = {
      {"In,In.mbx,S,N", true, "In", "In.mbx", "SN"},
      {"A,B,C,D,E", true, "A", "B", "CD,E"},
      {"Old,Old.fol,F,", true, "Old", "Old.fol", "F"},
      {" My Box , box.mbx ,S,Y\r", true, " My Box ", " box.mbx ", "SY\r"},
      {"In,In.mbx,S", false, "", "", ""},
      {",In.mbx,S,N", false, "", "", ""},
      {"In,,S,N", false, "", "", ""},
      {"In,In.mbx,,N", false, "", "", ""},
      {"", false, "", "", ""},
  };
  for (const Case& c : cases) {
    std::string name = "x", file = "x", type = "x";
    EXPECT_EQ(ParseFolderMapLine(c.line, name, file, type), c.used) << c.line;
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(file, c.file);
    EXPECT_EQ(type, c.type);
  }
}

// The example store of the folder hierarchy: subfolders after the map's own entries, depth first.
EudoraStore NestedStore() {
  EudoraStore store;
  for (const char* name : {"In", "Out"}) store.AddMailbox("", name, EudoraMessages({kEudoraRead}));
  store.AddMailbox("", "Trash");  // empty
  store.AddFolder("", "Projects");
  store.AddFolder("", "Friends");
  store.AddFolder("Projects", "Old");
  store.AddMailbox("Projects", "Current", EudoraMessages({kEudoraRead}));
  store.AddMailbox("Projects/Old", "1998", EudoraMessages({kEudoraRead}));
  store.AddMailbox("Friends", "Anna", EudoraMessages({kEudoraRead}));
  // A mailbox file whose name begins with another's ("In.mbx2" after "In.mbx").
  store.AddMapLine("", "In2,In.mbx2,S,N");
  store.AddFile("In.mbx2", EudoraMailboxFile(EudoraMessages({kEudoraRead})));
  return store;
}

// The walk from the root with and without the empty folders (as folder items), from a folder and
// from a mailbox, which also takes a later entry whose file path merely begins with its own: the
// items in tests/golden/eudora/folder-maps.txt (every property for the first walk, to show that
// folder items have none).
TEST_F(EudoraFilterTest, FolderMapsLoadDepthFirstAndTheChosenFolderStartsTheWalk) {
  PutStore(NestedStore());
  const std::pair<std::optional<std::string>, bool> starts[] = {
      {std::nullopt, false}, {std::nullopt, true}, {"Projects", false}, {"In", true}};
  std::string listing;
  for (const auto& [start, skip_empty] : starts) {
    filter = NewFilter();
    ASSERT_TRUE(Find(start, skip_empty));
    listing += "== from " + start.value_or("the root") + (skip_empty ? ", skipping empty" : "") +
               "\n" + Listing(/*brief=*/!listing.empty());
  }
  ExpectGolden(listing, "eudora/folder-maps.txt");
}

TEST_F(EudoraFilterTest, OddFolderMapsAreReadAsFarAsTheyMakeSense) {
  EudoraStore store;
  store.AddMapLine("", "   ,blank.mbx,S,N");
  store.AddMapLine("", "not an entry");
  store.AddMapLine("", "");
  store.AddMapLine("", "Loop,.,F,N");  // a subfolder that is the folder itself
  store.AddFolder("", "Twice");
  store.AddMapLine("", "Twice,Twice.fol,F,N");
  store.AddMapLine("", "Lost,Lost.fol,F,N");
  store.AddMailbox("Twice", "Inner", EudoraMessages({kEudoraRead}));
  store.AddFile("Lost.fol/a.mbx", "");
  store.AddFile("Lost.fol/b.mbx", "");
  PutStore(store);
  files.AddFile("C:\\Eudora\\blank.mbx", EudoraMailboxFile(EudoraMessages({kEudoraRead})));
  files.AddFile("C:\\Eudora\\blank.toc", "");

  ASSERT_TRUE(Find(std::nullopt, /*skip_empty=*/true));
  const std::vector<std::string> folders = Folders(Walk());
  ASSERT_FALSE(folders.empty());
  EXPECT_EQ(folders[0], "NoName");
  EXPECT_EQ(std::count(folders.begin(), folders.end(), "Twice/Inner"), 2);
  EXPECT_EQ(std::count(folders.begin(), folders.end(), "Loop/Twice/Inner"), 2);
  const std::vector<std::string> reports = Reports();
  const std::vector<std::string> expected_starts = {
      "C:\\Eudora\\descmap.pce: line 2 is not \"name,file,type,flag\": not an entry; lost: the "
      "mailbox or folder the line names",
      "Loop/Loop/Loop/",  // ... nested as deep as the limit allows
      "Lost: C:\\Eudora\\Lost.fol\\descmap.pce: folder map missing; lost: 2 mailbox files in this "
      "folder",
  };
  ASSERT_GE(reports.size(), 3u) << ::testing::PrintToString(reports);
  EXPECT_EQ(reports.front(), expected_starts[0]);
  EXPECT_EQ(std::count_if(reports.begin(), reports.end(),
                          [](const std::string& line) {
                            return line.find("folders nested more than 64 deep") !=
                                   std::string::npos;
                          }),
            1);
  EXPECT_NE(std::find(reports.begin(), reports.end(), expected_starts[2]), reports.end());
}

TEST_F(EudoraFilterTest, RegistryFolderIsProposedAndTheDialogShownEveryTime) {
  files.AddDirectory("C:\\Program Files\\Qualcomm\\Eudora");
  registry.SetString(kEudoraRegistryKey, "Other", "x");
  registry.SetString(kEudoraRegistryKey, "CURRENT",
                     "C:\\PROGRA~1\\QUALCOMM\\EUDORA\\EUDORA.EXE C:\\PROGRA~1\\QUALCOMM\\EUDORA "
                     "C:\\PROGRA~1\\QUALCOMM\\EUDORA\\EUDORA.INI");
  NestedStore().AddTo(files, "C:\\Program Files\\Qualcomm\\Eudora");

  ASSERT_TRUE(Find(std::nullopt, true, "C:\\Program Files\\Qualcomm\\Eudora"));
  EXPECT_TRUE(Shown("dialog 147"));
  EXPECT_TRUE(Shown("shown 1006: Talvon has determined that your messages are located in "));
  EXPECT_FALSE(Shown("browse:")) << "the proposal was the long form, taken as it was";
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
  EXPECT_EQ(Walk().size(), 6u);
}

TEST_F(EudoraFilterTest, UnusableOrIncompleteStoresAsk) {
  files.AddDirectory("C:\\Nothing");
  EudoraStore empty_map;
  empty_map.AddMapLine("", "");
  empty_map.AddTo(files, "C:\\Empty");
  EudoraStore missing_toc;
  missing_toc.AddMailbox("", "In", EudoraMessages({kEudoraRead}), /*with_toc=*/false);
  missing_toc.AddTo(files, "C:\\NoToc");
  EudoraStore odd_type;  // an entry of another type needs no summary
  odd_type.AddMapLine("", "Box,Box.mbx,X,N");
  odd_type.AddFile("Box.mbx", "");
  odd_type.AddFolder("", "Sub");
  odd_type.AddTo(files, "C:\\Odd");

  const char* const kBrowseAgain = "message: Import messages: Message storage is corrupted";
  const char* const kIncomplete = "message: Import messages: Talvon has detected that Eudora";
  struct Case {
    const char* folder;
    std::vector<int> answers;  // message box answers, in order
    bool found;
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {"C:\\Nothing", {platform::kIdNo}, false, {kBrowseAgain}},
      {"C:\\Empty", {platform::kIdNo}, false, {kIncomplete}},
      {"C:\\Empty", {platform::kIdYes}, true, {kIncomplete}},
      {"C:\\NoToc", {platform::kIdYes}, true, {kIncomplete}},
      {"C:\\Odd", {}, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    filter = NewFilter();
    ui = ui::ScriptedUserInterface();
    ui.set_report_unanswered(false);
    for (int answer : c.answers) ui.AnswerMessageBox(answer);
    EXPECT_EQ(Find(std::nullopt, true, c.folder), c.found);
    for (const std::string& text : c.shown) EXPECT_TRUE(Shown(text)) << text;
    if (c.shown.empty()) {
      EXPECT_FALSE(Shown("message:"));
    }
  }

  // Yes to browsing again: the dialog comes back and a good folder is taken.
  filter = NewFilter();
  ui.AnswerLocation("C:\\Nothing");
  ui.AnswerMessageBox(platform::kIdYes);
  ui.AnswerLocation("C:\\Odd");
  ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{});
  EXPECT_TRUE(filter->IsSystemFound());

  filter = NewFilter();
  ui.AnswerLocation(std::nullopt);
  EXPECT_FALSE(filter->IsSystemFound());
}

}  // namespace
}  // namespace kv::testing
