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

// The store folder a command line gives (the text between its first and last blank), the summary
// beside a mailbox, the long form of a folder, and each folder map line's name, file and joined
// type or that it is no entry: tests/golden/eudora/paths.txt.
TEST(EudoraPaths, CommandLinesSummariesLongFormsAndMapLines) {
  std::string listing = "== command lines\n";
  for (const char* command_line :
       {"C:\\EUDORA\\EUDORA.EXE C:\\EUDORA C:\\EUDORA\\EUDORA.INI", "  prog   C:\\Mail   ini \r\n",
        "prog C:\\My Mail ini", "prog C:\\EUDORA", "prog", ""}) {
    listing +=
        Quoted(command_line) + " -> " + Quoted(StoreFolderFromCommandLine(command_line)) + "\n";
  }
  listing += "== summaries\n";
  for (const char* mailbox : {"C:\\Mail.box\\In.mbx", "C:\\x/Old.mail.mbx", "In"}) {
    listing += Quoted(mailbox) + " -> " + Quoted(SummaryPathFor(mailbox)) + "\n";
  }
  listing += "== long forms\n";
  platform::MemoryFileSystem files;
  files.AddDirectory("C:\\Program Files\\Qualcomm\\Eudora Mail");
  files.AddDirectory("C:\\MAIL\\EUDORA.OLD");  // given as it is: an extension is not looked up
  files.AddDirectory("C:\\MAIL\\Eudora");      // beside EUDORA.OLD: never taken for it
  files.AddFile("C:\\Program Files\\notes.txt", "x");
  for (const char* source :
       {"C:\\PROGRA~1\\QUALCOMM\\EUDORA~1", "C:\\program files\\qualcomm\\eudora mail\\",
        "c:\\PROGRA~1", "C:\\MAIL\\EUDORA.OLD", "C:/mail/eudora", "\\\\server\\share\\mail",
        "C:\\PROGRA~1\\Missing", "C:\\PROGRA~1\\notes"}) {
    listing += Quoted(source) + " -> " + Quoted(ExpandLongPath(files, source)) + "\n";
  }
  EXPECT_EQ(ExpandLongPath(files, "C:\\PROGRA~1", 16), "C:\\PROGRA~1")
      << "a long form that does not fit keeps the source";
  EXPECT_EQ(ExpandLongPath(files, "C:\\nowhere\\" + std::string(300, 'x')).size(), 259u);
  listing += "== folder map lines\n";
  for (const char* line :
       {"In,In.mbx,S,N", "A,B,C,D,E", "Old,Old.fol,F,", " My Box , box.mbx ,S,Y\r", "In,In.mbx,S",
        ",In.mbx,S,N", "In,,S,N", "In,In.mbx,,N", ""}) {
    std::string name = "x", file = "x", type = "x";
    const bool used = ParseFolderMapLine(line, name, file, type);
    listing += Quoted(line) + (used ? " -> name " : " -> no entry; name ") + Quoted(name) +
               " file " + Quoted(file) + " type " + Quoted(type) + "\n";
  }
  ExpectGolden(listing, "eudora/paths.txt");
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
  NestedStore().AddTo(files, kEudoraDir);
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

// Odd folder maps, read as far as they make sense (tests/golden/eudora/odd-maps.txt): a blank
// name, a line that is no entry, an empty line, a subfolder listed twice, one without its map,
// and one whose map lists the folder itself, nested until the depth limit.
TEST_F(EudoraFilterTest, OddFolderMapsAreReadAsFarAsTheyMakeSense) {
  EudoraStore store;
  store.AddMapLine("", "   ,blank.mbx,S,N");
  store.AddMapLine("", "not an entry");
  store.AddMapLine("", "");
  store.AddFolder("", "Twice");
  store.AddMapLine("", "Twice,Twice.fol,F,N");
  store.AddMapLine("", "Lost,Lost.fol,F,N");
  store.AddFolder("", "Deep");
  store.AddMapLine("Deep", "Loop,.,F,N");
  store.AddMailbox("Twice", "Inner", EudoraMessages({kEudoraRead}));
  store.AddFile("Lost.fol/a.mbx", "");
  store.AddFile("Lost.fol/b.mbx", "");
  store.AddFile("blank.mbx", EudoraMailboxFile(EudoraMessages({kEudoraRead})));
  store.AddFile("blank.toc", "");
  store.AddTo(files, kEudoraDir);
  ASSERT_TRUE(Find(std::nullopt, /*skip_empty=*/true));
  ExpectGolden(Listing(/*brief=*/true), "eudora/odd-maps.txt");
}

// What the user is shown and asked, case by case (tests/golden/eudora/questions.txt): the folder
// from the registry's command line proposed in its long form (the dialog is shown every time); a
// folder that holds no store, browsed again from there; an incomplete store (an empty folder map,
// a summary missing), to go on with or not; an entry of another type, which needs no summary.
TEST_F(EudoraFilterTest, UnusableOrIncompleteStoresAsk) {
  files.AddDirectory("C:\\Program Files\\Qualcomm\\Eudora");
  registry.SetString(kEudoraRegistryKey, "Other", "x");
  registry.SetString(kEudoraRegistryKey, "CURRENT",
                     "C:\\PROGRA~1\\QUALCOMM\\EUDORA\\EUDORA.EXE C:\\PROGRA~1\\QUALCOMM\\EUDORA "
                     "C:\\PROGRA~1\\QUALCOMM\\EUDORA\\EUDORA.INI");
  NestedStore().AddTo(files, "C:\\Program Files\\Qualcomm\\Eudora");
  files.AddDirectory("C:\\Nothing");
  EudoraStore empty_map;
  empty_map.AddMapLine("", "");
  empty_map.AddTo(files, "C:\\Empty");
  EudoraStore missing_toc;
  missing_toc.AddMailbox("", "In", EudoraMessages({kEudoraRead}), /*with_toc=*/false);
  missing_toc.AddTo(files, "C:\\NoToc");
  EudoraStore odd_type;
  odd_type.AddMapLine("", "Box,Box.mbx,X,N");
  odd_type.AddFile("Box.mbx", "");
  odd_type.AddFolder("", "Sub");
  odd_type.AddTo(files, "C:\\Odd");

  struct Case {
    std::vector<std::string> locations;  // location dialog answers, in order
    std::vector<int> answers;            // message box answers, in order
  };
  const Case cases[] = {
      {{"C:\\Program Files\\Qualcomm\\Eudora"}, {}},
      {{"C:\\Nothing", "C:\\Odd"}, {platform::kIdYes}},
      {{"C:\\Empty"}, {platform::kIdNo}},
      {{"C:\\Empty"}, {platform::kIdYes}},
      {{"C:\\NoToc"}, {platform::kIdYes}},
      {{"C:\\Odd"}, {}},
  };
  std::string listing;
  for (const Case& c : cases) {
    filter = NewFilter();
    ui = ui::ScriptedUserInterface();
    ui.set_report_unanswered(false);
    for (const std::string& location : c.locations) ui.AnswerLocation(location);
    for (int answer : c.answers) ui.AnswerMessageBox(answer);
    AnswerFolders();
    const bool found = filter->IsSystemFound();
    listing += "== " + c.locations[0] + (found ? ": found\n" : ": not found\n");
    for (const std::string& line : ui.transcript()) listing += Escaped(line) + "\n";
  }
  ExpectGolden(listing, "eudora/questions.txt");
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

}  // namespace
}  // namespace kv::testing
