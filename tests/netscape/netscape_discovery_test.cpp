// Finding the mail directory (registry, prefs.js, the Users folder, the location dialog) and
// walking it into the folder list.

#include "netscape/netscape_folder_walk.h"
#include "netscape/netscape_profile.h"
#include "netscape_fixture.h"

namespace kv::testing {
namespace {

constexpr const char* kInstall = "C:\\Program Files\\Netscape\\Communicator\\Program";

class NetscapeLocatorTest : public NetscapeFilterTest {
 protected:
  void SetUser(const std::string& user) {
    registry.SetString(kNetscapeBiffKey, "CurrentUser", user);
  }
  void SetPopState(const std::string& user, const std::string& path) {
    registry.SetString(std::string(kNetscapeUsersKey) + "\\" + user, "defaultServer", "pop.x");
    registry.SetString(std::string(kNetscapeUsersKey) + "\\" + user + "\\servers\\pop.x",
                       "popstatePath", path);
  }
  void SetInstall(const std::string& dir) {
    registry.SetString(kNetscapeMainKey, "Install Directory", dir);
  }
  std::string Locate() {
    std::string found = NetscapeProfileLocator(registry, files);
    EXPECT_EQ(registry.OpenKeyCount(), 0u) << "every key is closed again";
    return found;
  }
};

TEST_F(NetscapeLocatorTest, CandidatesAreTriedInOrder) {
  const std::string users = "C:\\Program Files\\Netscape\\Communicator\\Users\\";
  files.AddDirectory(users + "me\\Mail");
  files.AddDirectory("D:\\State");
  files.AddDirectory("E:\\Mail Dir");
  EXPECT_EQ(Locate(), "") << "no biff key: nothing else is tried";

  SetUser("me");
  EXPECT_EQ(Locate(), "") << "no Main key";
  SetInstall(kInstall);
  EXPECT_EQ(Locate(), users + "me\\Mail");

  files.AddFile(users + "me\\prefs.js",
                "// prefs\nuser_pref(\"mail.directory\", \"E:\\\\Mail Dir\");\n");
  EXPECT_EQ(Locate(), "e:\\\\mail dir") << "lower case, the doubled backslashes kept";

  SetPopState("me", "D:\\State\\popstate.dat");
  EXPECT_EQ(Locate(), "D:\\State");
  // A popstatePath whose folder is gone falls through to the preference.
  SetPopState("me", "D:\\Gone\\popstate.dat");
  EXPECT_EQ(Locate(), "e:\\\\mail dir");
}

TEST_F(NetscapeLocatorTest, PreferenceFileRules) {
  SetUser("me");
  SetInstall(kInstall);
  files.AddDirectory("C:\\Pref");
  const std::string prefs = "C:\\Program Files\\Netscape\\Communicator\\Users\\me\\prefs.js";
  const std::pair<const char*, const char*> cases[] = {
      {"x user_pref(\"MAIL.Directory\", \"C:\\\\PREF\");", "c:\\\\pref"},
      {"x \"mail.directory\" \"C:\\Pref\"", "c:\\pref"},
      {"\"mail.directory\", \"C:\\\\Pref\");", ""},  // the key at the very start does not count
      {"x \"mail.directory\", \"C:\\\\Pref", ""},    // no closing quote
      {"x \"mail.directory\", \"C:\\\\Elsewhere\"", ""},  // no such folder
      {"x \"mail.directory\"", ""},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    files.AddFile(prefs, text);
    EXPECT_EQ(Locate(), expected);
  }
}

TEST_F(NetscapeLocatorTest, UsersFolderNeedsAnInstallPathWithABackslash) {
  SetUser("me");
  files.AddDirectory("C:\\Users\\me\\Mail");
  SetInstall("NoBackslash");
  EXPECT_EQ(Locate(), "");
  files.AddFile("C:\\Top\\Users\\me\\Mail", "a file, not a folder");
  SetInstall("C:\\Top\\Program");
  EXPECT_EQ(Locate(), "");
}

TEST_F(NetscapeLocatorTest, LongRegistryValueIsReadWhole) {
  const std::string dir = "D:\\" + std::string(300, 'd');
  files.AddDirectory(dir);
  SetUser("me");
  SetPopState("me", dir + "\\popstate.dat");
  EXPECT_EQ(Locate(), dir);
}

TEST_F(NetscapeLocatorTest, FoundDirectoryIsUsedWithoutTheLocationDialog) {
  SetUser("me");
  SetInstall(kInstall);
  NsMailDirectory store;
  store.folders.push_back({"Inbox", NsMessages(1)});
  store.AddTo(files, "C:\\Program Files\\Netscape\\Communicator\\Users\\me\\Mail");
  ASSERT_TRUE(filter->IsSystemFound());
  EXPECT_FALSE(Shown("dialog 147"));
}

TEST_F(NetscapeFilterTest, LocationDialogAndQuestion126) {
  files.AddDirectory("C:\\Nothing");
  NsMailDirectory store;
  store.folders.push_back({"Inbox", NsMessages(1)});
  store.AddTo(files, "D:\\Good");

  // Nothing found: the dialog asks with the Netscape title; Yes brings it back proposing the
  // directory that failed.
  ui.AnswerLocation("C:\\Nothing");
  ui.AnswerMessageBox(platform::kIdYes);
  ui.AnswerLocation("D:\\Good");
  ASSERT_TRUE(filter->IsSystemFound());
  EXPECT_TRUE(Shown("shown 1006: Talvon cannot determine the system location."));
  EXPECT_TRUE(Shown("browse: Please select location for Netscape Messenger 4.7"));
  EXPECT_TRUE(AskedToBrowseAgain());
  EXPECT_TRUE(Shown("shown 1005: C:\\Nothing"));

  ui.AnswerLocation("C:\\Nothing");
  ui.AnswerMessageBox(platform::kIdNo);
  EXPECT_FALSE(filter->IsSystemFound());

  ui.AnswerLocation(std::nullopt);
  EXPECT_FALSE(filter->IsSystemFound());
  EXPECT_FALSE(filter->GoFirst()) << "after the dialog, with no folder to give";
}

class NetscapeFolderWalkTest : public NetscapeFilterTest {
 protected:
  // The folder list of the mail directory as (path, file) pairs, in list order.
  std::vector<std::pair<std::string, std::string>> List(const std::string& dir = kNsMailDir) {
    BuildNetscapeFolderList(files, diagnostics, dir, kNsRoot, list);
    std::vector<std::pair<std::string, std::string>> records;
    for (std::size_t i = 0; i < list.Count(); ++i) records.push_back({list[i].path, list[i].file});
    return records;
  }
  void Add(const std::string& relative, const std::string& bytes = "x") {
    files.AddFile(std::string(kNsMailDir) + "\\" + relative, bytes);
  }
  FolderList list;
};

TEST_F(NetscapeFolderWalkTest, MailboxesWithSummariesAndTheirSubfolders) {
  const std::string dir = kNsMailDir;
  const std::string root = kNsRoot;
  Add("Inbox");
  Add("Inbox.snm");
  Add("Work");
  Add("Work.snm");
  Add("Work.SBD\\Projects");
  Add("Work.SBD\\Projects.snm");
  Add("Work.SBD\\Projects.sbd\\2024");
  Add("Work.SBD\\Projects.sbd\\2024.snm");
  Add("Trash");                // no summary
  Add("Unsent Messages", "");  // no summary, empty: nothing to say
  Add("Old.2000");             // a dot in the name
  Add("Old.2000.snm");
  Add("Sent");
  Add("Sent.snm");
  Add("Sent.sbd", "a plain file named like a subfolder directory");
  Add("Folder.snm\\inside");  // a summary name that is a directory
  Add("Folder");
  files.AddDirectory(dir + "\\Dir");  // a directory without extension
  Add("Dir.snm");

  EXPECT_EQ(List(), (std::vector<std::pair<std::string, std::string>>{
                        {root, dir},
                        {root + "/Inbox", dir + "/Inbox"},
                        {root + "/Sent", dir + "/Sent"},
                        {root + "/Work", dir + "/Work"},
                        {root + "/Work/Projects", dir + "/Work.SBD/Projects"},
                        {root + "/Work/Projects/2024", dir + "/Work.SBD/Projects.sbd/2024"},
                    }));
  ASSERT_EQ(diagnostics.entries().size(), 3u);
  EXPECT_TRUE(Reported("mailbox has no summary file Trash.snm"));
  EXPECT_TRUE(Reported("mailbox has no summary file Folder.snm"));
  EXPECT_TRUE(Reported("folder name holds a dot"));
}

TEST_F(NetscapeFolderWalkTest, EmptyOrMissingDirectoryGivesTheRootAlone) {
  files.AddDirectory(kNsMailDir);
  EXPECT_EQ(List().size(), 1u);
  EXPECT_FALSE(BuildNetscapeFolderList(files, diagnostics, "C:\\Missing", kNsRoot, list));
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_TRUE(list.DialogPaths().empty());
}

TEST_F(NetscapeFolderWalkTest, NestingIsBounded) {
  std::string relative;
  for (int level = 0; level < kMaxNetscapeFolderDepth + 5; ++level) {
    Add(relative + "F");
    Add(relative + "F.snm");
    relative += "F.sbd\\";
  }
  EXPECT_EQ(List().size(), static_cast<std::size_t>(kMaxNetscapeFolderDepth) + 1);
  EXPECT_TRUE(Reported("nested deeper than"));
}

}  // namespace
}  // namespace kv::testing
