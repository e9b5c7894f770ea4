// An old system drive built here (profiles, hives, stores where each client kept them): what
// kvimport finds on it by itself, the profile and registry plumbing underneath, and the fallbacks
// for a registry it cannot read.

#include "host/old_disk.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/fake/fake_environment.h"
#include "support/golden.h"
#include "support/old_disk_builder.h"
#include "support/transcript.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;
using testing::ExportFormat;
using testing::Oe4Message;
using testing::Oe4Store;
using testing::Oe4TestMessage;
using testing::OldDiskBuilder;
using testing::OldWindows;
using testing::PathSpelling;

Oe4Store StoreWith(std::vector<int> messages, bool with_empty_folder = false) {
  Oe4Store store;
  std::vector<Oe4Message> inbox;
  for (int n : messages) inbox.emplace_back(Oe4TestMessage(n));
  store.AddFolder("Inbox", 0, inbox);
  if (with_empty_folder) store.AddFolder("Sent", 0, {});
  return store;
}

// The disk lies in dir/store, so that every run must leave it as it was (support/transcript.h).
class OldDiskTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  testing::KvimportTranscript kvimport_{dir_};
  fs::path disk_ = dir_.path() / "store";
  platform::Windows1252CodePage code_page_;
  platform::DiagnosticLog diagnostics_;
};

// Two users with a store of each format, placed and named in the registry as each client did it:
// long paths, 8.3 short forms, %USERPROFILE%, a Netscape preference file. detect finds and walks
// each store for the right user, through the filter's own discovery; import and list take it
// with no --store and no question, from the disk and from an export of the registry (with the
// drive it names given by --drive; the export reads as the hive does: registry_readers_test).
TEST_F(OldDiskTest, EveryFormatIsFoundForItsUserAndReadWithoutAQuestion) {
  OldDiskBuilder builder(disk_);
  const std::string users[] = {"alice", "bob"};
  for (int u = 0; u < 2; ++u) {
    const std::string& user = users[u];
    const bool first = u == 0;
    builder.AddUser(user);
    int n = 10 * (u + 1);
    builder.AddOe4Store(user, StoreWith({++n}), first ? PathSpelling::kLong : PathSpelling::kShort);
    testing::DbxStore oe5 = testing::DbxLocalStore();
    testing::DbxMessage message;
    message.text = testing::DbxTestMessage(++n);
    oe5.AddFolder("Inbox", 1, {message});
    builder.AddOe5Store(user, oe5, first ? PathSpelling::kUserProfile : PathSpelling::kShort,
                        first ? "{AAAAAAAA-1111-2222-3333-444444444444}"
                              : "{BBBBBBBB-1111-2222-3333-444444444444}");
    testing::NsMailDirectory netscape;
    netscape.folders.push_back(
        testing::NsFolder("Inbox", {testing::NsMessage{testing::NsTestMessage(++n)}}));
    builder.AddNetscapeStore(user, user + "-ns", netscape, first, PathSpelling::kShort);
    testing::EudoraStore eudora;
    eudora.AddMailbox("", "In", {testing::EudoraMessage{testing::EudoraTestMessage(++n)}});
    builder.AddEudoraStore(user, eudora,
                           first ? "C:\\Program Files\\Qualcomm\\Eudora Mail"
                                 : builder.WindowsProfile(user) + "\\Eudora");
  }
  builder.Write();
  kvimport_.Run("detect --disk $DIR/store --json");
  kvimport_.Run("detect --disk $DIR/store --user ALICE --filter oe4");
  // bob's registry as regedit exports another machine's hive loaded under HKEY_USERS.
  std::ofstream(dir_.path() / "bob.reg", std::ios::binary) << testing::RegistryExportText(
      builder.Registry("bob"), ExportFormat::kRegedit4, code_page_, "HKEY_USERS\\S-1-5-21-1004");
  kvimport_.Run("list --registry $DIR/bob.reg --filter oe4");
  kvimport_.Run("import --disk $DIR/store --user bob --filter oe5 --to eml:$DIR/bob-oe5");
  kvimport_.AddFiles("$DIR/bob-oe5");
  kvimport_.Run("list --registry $DIR/bob.reg --drive C=$DIR/store --filter eudora");
  testing::ExpectGolden(kvimport_.text, "host/old-disk-every-format.txt");
}

// A Cyrillic system: the registry's paths reach the filter in code page 1251, which the SYSTEM
// hive names, and lead to the profile folder whose name is stored in UTF-8 on this disk; read in
// another code page they lead nowhere.
TEST_F(OldDiskTest, TheSystemsCodePageCarriesNonLatinPaths) {
  const std::string user = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";  // Иван
  OldDiskBuilder builder(disk_);
  builder.SetSystemCodePage("1251");
  builder.AddUser(user);
  builder.AddOe4Store(user, StoreWith({1}));
  builder.Write();
  kvimport_.Run("detect --disk $DIR/store --filter oe4");
  kvimport_.Run("detect --disk $DIR/store --filter oe4 --code-page WINDOWS-1252");
  testing::ExpectGolden(kvimport_.text, "host/old-disk-code-page.txt");
}

// Which profile to take: several without --user, one that is not there, options that exclude
// each other; each refusal lists the profiles.
TEST_F(OldDiskTest, ProfileChoiceErrorsListTheProfiles) {
  OldDiskBuilder builder(disk_);
  builder.AddUser("alice");
  builder.AddUser("bob");
  builder.Write();
  for (const char* args : {"", " --user carol", " --user bob --store x --registry y"})
    kvimport_.Run("import --disk $DIR/store" + std::string(args) + " --filter oe4 --to eml:$DIR/x");
  testing::ExpectGolden(kvimport_.text, "host/old-disk-profile-choice.txt");
}

// What the registry does not give: a damaged hive, a missing key. Each is said, and the other
// users' stores are still found (dave's where Outlook Express 4 keeps it by default).
TEST_F(OldDiskTest, RegistryTroubleIsSaidAndTheRestStillFound) {
  OldDiskBuilder builder(disk_);
  for (const char* user : {"alice", "carol", "dave"}) {
    builder.AddUser(user);
    builder.AddOe4Store(user, StoreWith({1}));
  }
  builder.Registry("carol").keys.clear();  // no Outlook Express key at all
  builder.Write();
  // dave: a damaged hive.
  const fs::path dave_hive = disk_ / "Documents and Settings/dave/NTUSER.DAT";
  std::string bytes = testing::ReadFile(dave_hive);
  bytes[0x1000] = 'X';
  std::ofstream(dave_hive, std::ios::binary) << bytes;
  kvimport_.Run("detect --disk $DIR/store --filter oe4 --json");
  testing::ExpectGolden(kvimport_.text, "host/old-disk-registry-trouble.txt");
}

// A Windows 98 drive: its registry is said to be unreadable, and the folders where each client
// kept its store by default are searched: every identity's for Outlook Express 5 (two here, so
// import asks for --store), every Netscape user's that has a Mail folder, none for Eudora.
TEST_F(OldDiskTest, Windows98DiskIsSaidPlainlyAndItsDefaultFoldersSearched) {
  OldDiskBuilder builder(disk_, OldWindows::kWin98);
  builder.AddUser("default");
  builder.AddOe4Store("default", StoreWith({1, 2}));
  builder.Write();
  for (const char* identity : {"{AAA}", "{BBB}"}) {
    fs::create_directories(disk_ / "WINDOWS/Application Data/Identities" / identity /
                           "Microsoft/Outlook Express");
  }
  fs::create_directories(disk_ / "Program Files/Netscape/Users/joe/Mail");
  fs::create_directories(disk_ / "Program Files/Netscape/Users/nomail");
  kvimport_.Run("detect --disk $DIR/store");
  kvimport_.Run("import --disk $DIR/store --filter oe4 --to eml:$DIR/98");
  kvimport_.AddFiles("$DIR/98");
  kvimport_.Run("import --disk $DIR/store --filter oe5 --to eml:$DIR/98-oe5");
  testing::ExpectGolden(kvimport_.text, "host/old-disk-windows-98.txt");
}

// Where each system kept its profiles: the shared "Default User" and "All Users" are no one's,
// nor a folder without a user hive, so the one profile left needs no --user. A disk without
// profiles is refused.
TEST_F(OldDiskTest, ProfilesAreFoundWhereEachSystemKeptThem) {
  const std::tuple<OldWindows, std::string, const char*> systems[] = {
      {OldWindows::kNt4, "nt4", "C:\\WINNT"},
      {OldWindows::kXp, "xp", "C:\\WINDOWS"},
      {OldWindows::kVista, "vista", "C:\\WINDOWS"}};
  for (const auto& [windows, name, windows_folder] : systems) {
    OldDiskBuilder builder(dir_.path() / name, windows);
    for (const char* user : {"alice", "Default User", "All Users"}) builder.AddUser(user);
    builder.Write();
    fs::create_directories(builder.Local(builder.WindowsProfile("nobody")));
    EXPECT_EQ(ExamineOldDisk(dir_.path() / name).windows_folder, windows_folder);
    kvimport_.Run("detect --disk $DIR/" + name + " --filter oe4");
  }
  kvimport_.Run("list --disk $DIR/vista --filter oe4");
  fs::create_directory(dir_.path() / "empty");
  kvimport_.Run("detect --disk $DIR/empty");
  testing::ExpectGolden(kvimport_.text, "host/old-disk-profiles.txt");
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

}  // namespace
}  // namespace kv::host
