// Finding a Eudora store: the registry's command line, long folder names, the location dialog
// shown every time, the questions for an unusable or incomplete store, the folder maps and the
// settings file.

#include <gtest/gtest.h>

#include "eudora/eudora_folders.h"
#include "eudora/eudora_paths.h"
#include "eudora_fixture.h"

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

TEST_F(EudoraFilterTest, FolderMapsLoadDepthFirstAndTheChosenFolderStartsTheWalk) {
  PutStore(NestedStore());
  struct Case {
    std::optional<std::string> start;
    bool skip_empty;
    std::vector<std::string> folders;
  };
  const Case cases[] = {
      {std::nullopt,
       false,
       {"In", "Out", "Trash", "Projects", "Friends", "In2", "Projects/Old", "Projects/Current",
        "Projects/Old/1998", "Friends/Anna"}},
      {std::nullopt,
       true,
       {"In", "Out", "In2", "Projects/Current", "Projects/Old/1998", "Friends/Anna"}},
      {"Projects", false, {"Projects", "Projects/Old", "Projects/Current", "Projects/Old/1998"}},
      // A mailbox's walk also takes a later entry whose file path merely begins with its own.
      {"In", true, {"In", "In2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start.value_or("root"));
    filter = NewFilter();
    ASSERT_TRUE(Find(c.start, c.skip_empty));
    const std::vector<EudoraItem> items = Walk();
    EXPECT_EQ(Folders(items), c.folders);
    for (const EudoraItem& item : items) {  // empty folders are folder items, messages are not
      const bool folder = item.folder == "Trash" || item.folder == "Projects" ||
                          item.folder == "Friends" || item.folder == "Projects/Old";
      EXPECT_EQ(item.status, folder ? kItemIsFolder : 0) << item.folder;
      EXPECT_EQ(item.body.has_value(), !folder) << item.folder;
      if (folder) {
        EXPECT_EQ(std::tie(item.state, item.from), std::make_tuple(0, std::string()));
      }
    }
  }
  EXPECT_TRUE(diagnostics.entries().empty()) << ::testing::PrintToString(Reports());
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

TEST_F(EudoraFilterTest, MessageOptionsCarryTheSummaryAndTheSettings) {
  EudoraStore store;
  std::vector<EudoraMessage> first = EudoraMessages({kEudoraRead});
  first[0].priority = 1;
  first[0].encoding = '=';
  first[0].mime = 5;
  store.AddMailbox("", "Mail", first);
  store.AddMailbox("", "Loose", EudoraMessages({kEudoraRead}), /*with_toc=*/false);
  store.SetSettingsFileName("Eudora.ini");
  store.SetSetting("UseQuotedPrintable", "0");
  store.SetSetting("SendMIME", " 0 ");
  PutStore(store);
  ui.AnswerMessageBox(platform::kIdYes);
  ASSERT_TRUE(Find());

  auto options = [this]() {
    const std::string text = filter->GetSubItem(kSubItemMessageOptions).value_or("");
    EXPECT_EQ(text.size(), 640u);
    std::vector<unsigned> bytes;
    for (std::size_t i = 0; i + 4 <= text.size(); i += 4) {
      EXPECT_EQ(text[i + 3], ' ');
      bytes.push_back(static_cast<unsigned>(std::stoul(text.substr(i, 3), nullptr, 16)));
    }
    return bytes;
  };
  ASSERT_TRUE(filter->GoFirst());
  std::vector<unsigned> bytes = options();
  ASSERT_EQ(bytes.size(), 160u);
  EXPECT_EQ(bytes[0], 1u) << "the defaults pass through";
  EXPECT_EQ((std::vector<unsigned>{bytes[2], bytes[3], bytes[63], bytes[65], bytes[66]}),
            (std::vector<unsigned>{2, 0, 1, 2, 0}));
  // Without a summary the message keeps the previous message's values.
  ASSERT_TRUE(filter->GoNext());
  bytes = options();
  EXPECT_EQ((std::vector<unsigned>{bytes[2], bytes[63], bytes[65], bytes[66]}),
            (std::vector<unsigned>{2, 1, 2, 0}));

  // A store whose first message has no summary shows the settings file's values.
  filter = NewFilter();
  files.Delete("C:\\Eudora\\Mail.toc");
  ui.AnswerMessageBox(platform::kIdYes);
  ASSERT_TRUE(Find());
  ASSERT_TRUE(filter->GoFirst());
  bytes = options();
  EXPECT_EQ((std::vector<unsigned>{bytes[2], bytes[63], bytes[65], bytes[66]}),
            (std::vector<unsigned>{0, 1, 2, 1}));
}

}  // namespace
}  // namespace kv::testing
