// An old system drive built here (profiles, hives, stores where each client kept them): what
// kvimport finds on it by itself, the profile and registry plumbing underneath, and the fallbacks
// for a registry it cannot read.

#include "host/old_disk.h"

#include <gtest/gtest.h>

#include <fstream>

#include "host/exit_codes.h"
#include "platform/fake/fake_environment.h"
#include "platform/posix/posix_file_system.h"
#include "support/kvimport_run.h"
#include "support/old_disk_builder.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;
using testing::ExportFormat;
using testing::JsonLines;
using testing::KvimportRun;
using testing::Oe4Message;
using testing::Oe4Store;
using testing::Oe4TestMessage;
using testing::OldDiskBuilder;
using testing::OldWindows;
using testing::PathSpelling;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

Oe4Store StoreWith(std::vector<int> messages, bool with_empty_folder = false) {
  Oe4Store store;
  std::vector<Oe4Message> inbox;
  for (int n : messages) inbox.emplace_back(Oe4TestMessage(n));
  store.AddFolder("Inbox", 0, inbox);
  if (with_empty_folder) store.AddFolder("Sent", 0, {});
  return store;
}

class OldDiskTest : public ::testing::Test {
 protected:
  KvimportRun Kvimport(const std::string& args) { return testing::RunKvimport(dir_, args); }
  std::string Disk() const { return Quoted(disk_.string()); }
  std::string Out(const std::string& name) const { return (dir_.path() / name).string(); }

  testing::TempDir dir_;
  fs::path disk_ = dir_.path() / "disk";
  platform::Windows1252CodePage code_page_;
  platform::DiagnosticLog diagnostics_;
};

// Two users with a store of each format, placed and named in the registry as each client did it:
// long paths, 8.3 short forms, %USERPROFILE%, a Netscape preference file. detect finds each store
// for the right user; import (and list, for the filter whose messages the host cannot write yet)
// takes it with no --store and no question, from the disk and from an export of the registry.
TEST_F(OldDiskTest, EveryFormatIsFoundForItsUserAndReadWithoutAQuestion) {
  OldDiskBuilder builder(disk_);
  std::map<std::string, std::string> stores;  // user/filter -> store folder
  std::map<std::string, int> numbers;         // user/filter -> the number of its one message
  const std::string users[] = {"alice", "bob"};
  for (int u = 0; u < 2; ++u) {
    const std::string& user = users[u];
    const bool first = u == 0;
    builder.AddUser(user);
    int n = 10 * (u + 1);
    numbers[user + "/oe4"] = ++n;
    stores[user + "/oe4"] = builder.AddOe4Store(user, StoreWith({n}),
                                                first ? PathSpelling::kLong : PathSpelling::kShort);
    testing::DbxStore oe5 = testing::DbxLocalStore();
    numbers[user + "/oe5"] = ++n;
    testing::DbxMessage message;
    message.text = testing::DbxTestMessage(n);
    oe5.AddFolder("Inbox", 1, {message});
    stores[user + "/oe5"] =
        builder.AddOe5Store(user, oe5, first ? PathSpelling::kUserProfile : PathSpelling::kShort,
                            first ? "{AAAAAAAA-1111-2222-3333-444444444444}"
                                  : "{BBBBBBBB-1111-2222-3333-444444444444}");
    testing::NsMailDirectory netscape;
    numbers[user + "/netscape"] = ++n;
    netscape.folders.push_back(
        testing::NsFolder("Inbox", {testing::NsMessage{testing::NsTestMessage(n)}}));
    stores[user + "/netscape"] =
        builder.AddNetscapeStore(user, user + "-ns", netscape, first, PathSpelling::kShort);
    testing::EudoraStore eudora;
    numbers[user + "/eudora"] = ++n;
    eudora.AddMailbox("", "In", {testing::EudoraMessage{testing::EudoraTestMessage(n)}});
    stores[user + "/eudora"] =
        builder.AddEudoraStore(user, eudora,
                               first ? "C:\\Program Files\\Qualcomm\\Eudora Mail"
                                     : builder.WindowsProfile(user) + "\\Eudora");
  }
  builder.Write();

  KvimportRun run = Kvimport("detect --disk " + Disk() + " --json");
  ASSERT_EQ(run.exit_code, kExitOk) << run.err;
  std::vector<nlohmann::json> lines = JsonLines(run.out);
  EXPECT_EQ(lines.size(), 8u);
  for (const nlohmann::json& line : lines) {
    std::string key = line["user"].get<std::string>() + "/" + line["filter"].get<std::string>();
    SCOPED_TRACE(key);
    EXPECT_TRUE(line["found"]) << line;
    EXPECT_EQ(line["messages"], 1);
    EXPECT_EQ(line["local_path"], builder.Local(stores.at(key)).string());
  }
  EXPECT_TRUE(testing::FilesBelow(dir_.path() / "tmp").empty()) << "the walk leaves no files";

  KvimportRun text = Kvimport("detect --disk " + Disk() + " --user ALICE --filter oe4");
  EXPECT_EQ(text.exit_code, kExitOk);
  EXPECT_NE(text.out.find("alice (C:\\Documents and Settings\\alice)\n  oe4       C:\\Documents"),
            std::string::npos)
      << text.out;
  EXPECT_EQ(text.out.find("bob"), std::string::npos);

  // bob's registry as regedit exports another machine's hive loaded under HKEY_USERS.
  std::ofstream(Out("bob.reg"), std::ios::binary) << testing::RegistryExportText(
      builder.Registry("bob"), ExportFormat::kRegedit4, code_page_, "HKEY_USERS\\S-1-5-21-1004");
  KvimportRun unmapped = Kvimport("list --registry " + Quoted(Out("bob.reg")) + " --filter oe4");
  EXPECT_EQ(unmapped.exit_code, kExitStoreNotFound);
  EXPECT_NE(unmapped.err.find("taking HKEY_USERS\\S-1-5-21-1004 as the user's registry"),
            std::string::npos);
  EXPECT_NE(unmapped.err.find("no --drive given"), std::string::npos) << unmapped.err;
  for (const std::string& user : users) {
    for (const char* filter : {"oe4", "oe5", "netscape"}) {
      std::string key = user + "/" + filter;
      SCOPED_TRACE(key);
      KvimportRun import = Kvimport("import --disk " + Disk() + " --user " + user + " --filter " +
                                    filter + " --to eml:" + Quoted(Out(key)));
      ASSERT_EQ(import.exit_code, kExitOk) << import.err;
      EXPECT_EQ(import.err.find("scripted user interface"), std::string::npos) << import.err;
      std::vector<fs::path> files = testing::FilesBelow(Out(key));
      ASSERT_EQ(files.size(), 1u);
      EXPECT_NE(testing::ReadFile(files[0]).find("Subject: Message " +
                                                 std::to_string(numbers.at(key)) + "\r\n"),
                std::string::npos);
      if (user == "bob") {
        KvimportRun listed = Kvimport("list --registry " + Quoted(Out("bob.reg")) +
                                      " --drive C=" + Disk() + " --filter " + filter);
        EXPECT_EQ(listed.exit_code, kExitOk) << listed.err;
        EXPECT_EQ(JsonLines(listed.out).size(), 1u);
      }
    }
    KvimportRun eudora = Kvimport("list --disk " + Disk() + " --user " + user + " --filter eudora");
    EXPECT_EQ(eudora.exit_code, kExitOk) << eudora.err;
    EXPECT_EQ(JsonLines(eudora.out).size(), 1u) << eudora.out;
  }
}

// A Cyrillic system: the registry's paths reach the filter in code page 1251, which the SYSTEM
// hive names, and lead to the profile folder whose name is stored in UTF-8 on this disk.
TEST_F(OldDiskTest, TheSystemsCodePageCarriesNonLatinPaths) {
  const std::string user = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";  // Иван
  OldDiskBuilder builder(disk_);
  builder.SetSystemCodePage("1251");
  builder.AddUser(user);
  builder.AddOe4Store(user, StoreWith({1}));
  builder.Write();
  KvimportRun run = Kvimport("detect --disk " + Disk() + " --filter oe4");
  EXPECT_EQ(run.exit_code, kExitOk) << run.out << run.err;
  EXPECT_NE(run.out.find("C:\\Documents and Settings\\" + user + "\\Application Data"),
            std::string::npos)
      << run.out;
  KvimportRun latin =
      Kvimport("detect --disk " + Disk() + " --filter oe4 --code-page WINDOWS-1252");
  EXPECT_EQ(latin.exit_code, kExitStoreNotFound) << latin.out;
}

TEST_F(OldDiskTest, ProfileChoiceErrorsListTheProfiles) {
  OldDiskBuilder builder(disk_);
  builder.AddUser("alice");
  builder.AddUser("bob");
  builder.Write();
  struct Case {
    const char* args;
    int exit_code;
    const char* says;
  };
  const Case cases[] = {
      {"", kExitUsage, "several user profiles under"},
      {" --user carol", kExitUsage, "no profile \"carol\""},
      {" --user bob --store x --registry y", kExitUsage, "exclude each other"},
  };
  for (const Case& c : cases) {
    KvimportRun refused =
        Kvimport("import --disk " + Disk() + c.args + " --filter oe4 --to eml:" + Out("x"));
    EXPECT_EQ(refused.exit_code, c.exit_code) << c.args;
    EXPECT_NE(refused.err.find(c.says), std::string::npos) << refused.err;
    if (c.exit_code == kExitUsage && std::string(c.args).empty()) {
      EXPECT_NE(refused.err.find("alice, bob"), std::string::npos) << refused.err;
    }
  }
}

// What the registry does not give: a damaged hive, a value too large for the enumeration that
// hides "Store Root", a missing key. Each is said, and the other user is still found.
TEST_F(OldDiskTest, RegistryTroubleIsSaidAndTheRestStillFound) {
  OldDiskBuilder builder(disk_);
  for (const char* user : {"alice", "bob", "carol", "dave"}) {
    builder.AddUser(user);
    builder.AddOe4Store(user, StoreWith({1}));
  }
  // bob: a value listed before "Store Root" whose name does not fit the 80-byte buffer.
  builder.Registry("bob").keys.clear();
  builder.Registry("bob").SetString("Software\\Microsoft\\Outlook Express", std::string(80, 'x'),
                                    "1");
  builder.Registry("bob").SetString("Software\\Microsoft\\Outlook Express", "Store Root",
                                    builder.AppData("bob") + "\\Microsoft\\Outlook Express");
  builder.Registry("carol").keys.clear();  // no Outlook Express key at all
  builder.Write();
  // dave: a damaged hive.
  std::string dave_hive = (disk_ / "Documents and Settings/dave/NTUSER.DAT").string();
  std::string bytes = testing::ReadFile(dave_hive);
  bytes[0x1000] = 'X';
  std::ofstream(dave_hive, std::ios::binary) << bytes;

  KvimportRun run = Kvimport("detect --disk " + Disk() + " --filter oe4 --json");
  ASSERT_EQ(run.exit_code, kExitOk) << run.err;
  std::map<std::string, nlohmann::json> by_user;
  for (const nlohmann::json& line : JsonLines(run.out)) by_user[line["user"]] = line;
  EXPECT_TRUE(by_user["alice"]["found"]);
  for (const char* user : {"bob", "carol"}) {
    EXPECT_FALSE(by_user[user]["found"]) << user;
    EXPECT_EQ(by_user[user]["problems"][0], "no store is named in the registry or its files");
  }
  EXPECT_NE(run.err.find("dave/NTUSER.DAT: the hive's bins are damaged"), std::string::npos)
      << run.err;
  // dave's store is still found where Outlook Express 4 keeps it by default.
  EXPECT_TRUE(by_user["dave"]["found"]) << by_user["dave"];
}

TEST_F(OldDiskTest, Windows98DiskIsSaidPlainlyAndItsDefaultFoldersSearched) {
  OldDiskBuilder builder(disk_, OldWindows::kWin98);
  builder.AddUser("default");
  builder.AddOe4Store("default", StoreWith({1, 2}));
  builder.Write();
  KvimportRun run = Kvimport("detect --disk " + Disk() + " --filter oe4");
  EXPECT_EQ(run.exit_code, kExitOk) << run.err;
  EXPECT_NE(run.err.find("USER.DAT is a Windows 95/98/ME registry"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("C:\\WINDOWS\\Application Data\\Microsoft\\Outlook Express\\Mail: 1 "
                         "folder, 2 messages"),
            std::string::npos)
      << run.out;

  KvimportRun import =
      Kvimport("import --disk " + Disk() + " --filter oe4 --to eml:" + Quoted(Out("98")));
  EXPECT_EQ(import.exit_code, kExitOk) << import.err;
  EXPECT_EQ(testing::FilesBelow(Out("98")).size(), 2u);
}

TEST_F(OldDiskTest, ProfilesAreFoundWhereEachSystemKeptThem) {
  struct Case {
    OldWindows windows;
    const char* windows_folder;
    const char* profile;
  };
  const Case cases[] = {
      {OldWindows::kNt4, "C:\\WINNT", "C:\\WINNT\\Profiles\\alice"},
      {OldWindows::kXp, "C:\\WINDOWS", "C:\\Documents and Settings\\alice"},
      {OldWindows::kVista, "C:\\WINDOWS", "C:\\Users\\alice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile);
    testing::TempDir dir;
    OldDiskBuilder builder(dir.path(), c.windows);
    builder.AddUser("alice");
    builder.AddUser("Default User");  // shared profiles are no one's
    builder.AddUser("All Users");
    builder.Write();
    fs::create_directories(builder.Local(builder.WindowsProfile("nobody")));  // no NTUSER.DAT
    OldDisk disk = ExamineOldDisk(dir.path());
    EXPECT_EQ(disk.windows_folder, c.windows_folder);
    EXPECT_FALSE(disk.windows9x);
    ASSERT_EQ(disk.profiles.size(), 1u);
    EXPECT_EQ(disk.profiles[0].windows_folder, c.profile);
    std::string error;
    EXPECT_EQ(ChooseProfile(disk, std::nullopt, error), &disk.profiles[0]);
  }
  testing::TempDir empty;
  std::string error;
  EXPECT_EQ(ChooseProfile(ExamineOldDisk(empty.path()), std::nullopt, error), nullptr);
  EXPECT_NE(error.find("no user profile"), std::string::npos);
}

// The variables a user's paths expect: from the profile, the registry's shell folders and its
// "Environment" key; a variable the hive does not define stays as written.
TEST_F(OldDiskTest, UserEnvironmentComesFromTheProfileAndTheHive) {
  OldDiskBuilder builder(disk_, OldWindows::kVista);
  testing::RegistryContent& registry = builder.AddUser("alice");
  registry.SetString("Environment", "MAILROOT", "%APPDATA%\\Mail", platform::kRegExpandSz);
  registry.SetString("Environment", "ODD", "%NOTSET%\\x", platform::kRegExpandSz);
  registry.SetString("Environment", "LITERAL", "%USERPROFILE%");
  builder.Write();
  OldDisk disk = ExamineOldDisk(disk_);
  ASSERT_EQ(disk.profiles.size(), 1u);
  OldSystem system = OpenProfile(disk, disk.profiles[0], code_page_, diagnostics_);
  ASSERT_TRUE(system.registry_readable);
  FixedEnvironment& environment = system.environment;
  EXPECT_EQ(environment.ExpandEnvironmentStrings("%userprofile%|%APPDATA%|%HOMEPATH%|%USERNAME%"),
            "C:\\Users\\alice|C:\\Users\\alice\\AppData\\Roaming|\\Users\\alice|alice");
  EXPECT_EQ(environment.Get("MAILROOT"), "C:\\Users\\alice\\AppData\\Roaming\\Mail");
  EXPECT_EQ(environment.Get("ODD"), "%NOTSET%\\x");
  EXPECT_EQ(environment.Get("LITERAL"), "%USERPROFILE%");
  EXPECT_EQ(environment.ExpandEnvironmentStrings("%TEMP%|%windir%|%NOTSET%"),
            "C:\\Users\\alice\\Local Settings\\Temp|C:\\WINDOWS|%NOTSET%");
}

TEST_F(OldDiskTest, WellKnownFoldersFillInEachIdentityAndProfile) {
  OldDiskBuilder builder(disk_, OldWindows::kWin98);
  for (const char* identity : {"{AAA}", "{BBB}"}) {
    fs::create_directories(disk_ / "WINDOWS/Application Data/Identities" / identity /
                           "Microsoft/Outlook Express");
  }
  fs::create_directories(disk_ / "Program Files/Netscape/Users/joe/Mail");
  fs::create_directories(disk_ / "Program Files/Netscape/Users/nomail");
  OldDisk disk = ExamineOldDisk(disk_);
  ASSERT_TRUE(disk.windows9x);
  OldSystem system = OpenProfile(disk, disk.profiles.at(0), code_page_, diagnostics_);
  EXPECT_FALSE(system.registry_readable);
  platform::PosixFileSystem files({{{'C', disk_.string()}}});
  EXPECT_EQ(WellKnownStoreFolders("oe5", files, system.environment),
            (std::vector<std::string>{
                "C:\\WINDOWS\\Application Data\\Identities\\{AAA}\\Microsoft\\Outlook Express",
                "C:\\WINDOWS\\Application Data\\Identities\\{BBB}\\Microsoft\\Outlook Express"}));
  EXPECT_EQ(WellKnownStoreFolders("netscape", files, system.environment),
            std::vector<std::string>{"C:\\Program Files\\Netscape\\Users\\joe\\Mail"});
  std::string error;
  EXPECT_EQ(WellKnownLocation("oe5", files, system.environment, error), "");
  EXPECT_NE(error.find("several folders"), std::string::npos);
  EXPECT_EQ(WellKnownLocation("eudora", files, system.environment, error), "");
}

}  // namespace
}  // namespace kv::host
