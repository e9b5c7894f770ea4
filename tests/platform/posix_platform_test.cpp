// The Linux services beyond the shared file system test: names on disk the in-memory fake has no
// counterpart for, the private temporary folder, the process environment, iconv.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "platform/fake/fake_environment.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "support/temp_dir.h"

namespace kv::platform {
namespace {

mode_t PermissionsOf(const std::string& path) {
  struct stat info;
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

class PosixFileSystemTest : public ::testing::Test {
 protected:
  PosixFileSystemTest() : files_(PosixFileSystem::Options{{{'C', dir_.path().string()}}}) {}
  testing::TempDir dir_;
  PosixFileSystem files_;
};

TEST_F(PosixFileSystemTest, PrefersExactNamesAndChoosesAmongCaseTwinsByBytes) {
  dir_.Write("m/Inbox", "mixed");
  dir_.Write("m/INBOX", "upper");
  EXPECT_EQ(files_.NativePath("C:\\m\\Inbox"), (dir_.path() / "m/Inbox").string());
  EXPECT_EQ(files_.NativePath("C:\\m\\inbox"), (dir_.path() / "m/INBOX").string());
  EXPECT_EQ(files_.NativePath("C:\\M\\new file"), (dir_.path() / "m/new file").string());
}

TEST_F(PosixFileSystemTest, FindsNamesStoredOnDiskInTheCodePage) {
  dir_.Write("Gel\xF6scht.mbx", "raw cp1252 name on disk");
  EXPECT_TRUE(files_.Exists("C:\\gel\xF6scht.MBX"));
  std::unique_ptr<FileFinder> finder = files_.FindFirst("C:\\Gel*.mbx");
  ASSERT_NE(finder, nullptr);
  EXPECT_EQ(finder->Next().value_or(FindEntry{}).name, "Gel\xF6scht.mbx");
}

TEST_F(PosixFileSystemTest, TakesLinuxAbsolutePathsAndNoDriveWithoutAMap) {
  std::string absolute = dir_.Write("abs/File.txt", "x").string();
  EXPECT_TRUE(files_.Exists(absolute));
  EXPECT_TRUE(files_.Exists(dir_.path().string() + "\\ABS\\file.TXT"));
  EXPECT_FALSE(PosixFileSystem().Exists("C:\\"));
}

TEST_F(PosixFileSystemTest, AFolderListedOnceFollowsWhatThisFileSystemMakesAndRemoves) {
  dir_.Write("t/Old.tmp", "x");
  EXPECT_FALSE(files_.Exists("C:\\t\\NEW.TMP"));  // the folder is listed and kept
  ASSERT_NE(files_.OpenForWriting("C:\\t\\new.tmp"), nullptr);
  ASSERT_NE(files_.OpenForWriting("C:\\t\\NEW.TMP"), nullptr);  // the same file, not a case twin
  EXPECT_TRUE(files_.Delete("C:\\T\\OLD.TMP"));
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path() / "t")) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::set<std::string>{"new.tmp"});
  // A removed file's spelling is not given to a new one.
  EXPECT_EQ(files_.NativePath("C:\\t\\OLD.tmp"), (dir_.path() / "t/OLD.tmp").string());
}

TEST_F(PosixFileSystemTest, RefusesFifosInsteadOfWaitingForAWriter) {
  ASSERT_EQ(mkfifo((dir_.path() / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(files_.OpenForReading("C:\\pipe"), nullptr);
  EXPECT_EQ(files_.MapReadOnly("C:\\pipe"), nullptr);
}

TEST_F(PosixFileSystemTest, WritesNewFilesPrivatelyUnderTheirUtf8Name) {
  std::unique_ptr<WritableFile> out = files_.OpenForWriting(
      "C:\\Entw\xFC"
      "rfe.tmp");
  ASSERT_NE(out, nullptr);
  std::string big(200 * 1024, 'z');  // more than the write buffer holds
  EXPECT_TRUE(out->Write({reinterpret_cast<const std::uint8_t*>(big.data()), big.size()}));
  EXPECT_TRUE(out->Close());
  EXPECT_FALSE(out->Close());
  std::string on_disk = (dir_.path() / "Entwürfe.tmp").string();
  EXPECT_EQ(PermissionsOf(on_disk) & 077, 0u);
  EXPECT_EQ(std::filesystem::file_size(on_disk), big.size());
}

class PosixTempFilesTest : public ::testing::Test {
 protected:
  std::string Stem() const {
    return dir_.path().string() + "/kvfltrs-" + std::to_string(geteuid());
  }
  testing::TempDir dir_;
};

TEST_F(PosixTempFilesTest, MakesAPrivateFolderAndExclusiveUniqueFiles) {
  PosixTempFiles temp(dir_.path().string() + "/");
  std::string folder = temp.TempPath();
  EXPECT_EQ(folder, Stem() + "/");
  EXPECT_EQ(PermissionsOf(Stem()), 0700u);
  EXPECT_EQ(temp.TempPath(), folder);

  std::set<std::string> names;
  for (int i = 0; i < 10; ++i) {
    std::optional<std::string> name = temp.GetTempFileName(folder, i % 2 ? "imp" : "", 0);
    ASSERT_TRUE(name);
    EXPECT_TRUE(names.insert(*name).second) << *name;
    EXPECT_EQ(PermissionsOf(*name), 0600u);
    EXPECT_EQ(std::filesystem::file_size(*name), 0u);
    EXPECT_TRUE(name->ends_with(".TMP")) << *name;
  }
  // A second object (another filter, another process) starts elsewhere but never reuses a name.
  PosixTempFiles other(dir_.path().string());
  for (int i = 0; i < 5; ++i) {
    std::optional<std::string> name = other.GetTempFileName(other.TempPath(), "imp", 0);
    ASSERT_TRUE(name);
    EXPECT_TRUE(names.insert(*name).second) << *name;
  }
  EXPECT_EQ(temp.GetTempFileName(folder, "RFC", 0x1F), folder + "RFC1F.TMP");
  EXPECT_FALSE(std::filesystem::exists(folder + "RFC1F.TMP"));
  EXPECT_FALSE(temp.GetTempFileName(folder + "missing/", "", 0));
}

TEST_F(PosixTempFilesTest, RefusesAFolderOthersCouldReachIn) {
  std::filesystem::create_directory(dir_.path() / "elsewhere");
  std::filesystem::create_directory_symlink(dir_.path() / "elsewhere", Stem());
  std::string symlinked;
  {
    PosixTempFiles fallback(dir_.path().string());
    symlinked = fallback.TempPath();
    EXPECT_NE(symlinked, Stem() + "/");
    ASSERT_FALSE(symlinked.empty());
    EXPECT_EQ(PermissionsOf(symlinked.substr(0, symlinked.size() - 1)), 0700u);
    std::ofstream(fallback.GetTempFileName(symlinked, "imp", 0).value()) << "left";
  }
  EXPECT_FALSE(std::filesystem::exists(symlinked)) << "a fallback folder goes at the end";
  std::filesystem::remove(Stem());

  ASSERT_EQ(mkdir(Stem().c_str(), 0700), 0);
  ASSERT_EQ(chmod(Stem().c_str(), 0750), 0);
  EXPECT_NE(PosixTempFiles(dir_.path().string()).TempPath(), Stem() + "/");

  if (geteuid() == 0) {
    ASSERT_EQ(chmod(Stem().c_str(), 0700), 0);
    ASSERT_EQ(chown(Stem().c_str(), 4242, 4242), 0);
    EXPECT_NE(PosixTempFiles(dir_.path().string()).TempPath(), Stem() + "/");
    ASSERT_EQ(chown(Stem().c_str(), 0, 0), 0);
    EXPECT_EQ(PosixTempFiles(dir_.path().string()).TempPath(), Stem() + "/");
  }
}

// A folder of its own inside a parent that does not exist yet: made private, removed at the end
// with what is in it, and the parents made for it go too unless something else came into them.
// A killed process's folder is removed by the next; a live process's is left alone.
TEST_F(PosixTempFilesTest, OwnFolderGoesAtTheEndAndClearsAKilledRunsFolder) {
  const std::filesystem::path parent = dir_.path() / "target/tmp";
  std::string folder;
  {
    PosixTempFiles temp(PosixTempFiles::OwnFolder{parent.string(), ".run-"});
    folder = temp.TempPath();
    EXPECT_TRUE(folder.starts_with(parent.string() + "/.run-" + std::to_string(getpid()) + "-"));
    EXPECT_EQ(PermissionsOf(folder.substr(0, folder.size() - 1)), 0700u);
    std::ofstream(folder + "left") << "x";
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "target"));

  // pid_max stays below 4194304 (2^22), so no process has the first id; the second is ours.
  for (const char* name : {".run-4194304-abcdef", ".run-1-abcdef"}) {
    std::filesystem::create_directories(parent / name);
    std::filesystem::permissions(parent / name, std::filesystem::perms::owner_all);
    std::ofstream(parent / name / "imp1.TMP") << "x";
  }
  {
    PosixTempFiles temp(PosixTempFiles::OwnFolder{parent.string(), ".run-"});
    ASSERT_FALSE(temp.TempPath().empty());
    EXPECT_FALSE(std::filesystem::exists(parent / ".run-4194304-abcdef"));
    EXPECT_TRUE(std::filesystem::exists(parent / ".run-1-abcdef")) << "init is alive";
  }
  EXPECT_TRUE(std::filesystem::exists(parent / ".run-1-abcdef"));
}

TEST(PosixEnvironmentTest, LooksUpProcessVariablesIgnoringCase) {
  ASSERT_EQ(setenv("KV_TEST_APPDATA", "/home/ann/appdata", 1), 0);
  PosixEnvironment environment;
  EXPECT_EQ(environment.ExpandEnvironmentStrings("%kv_test_AppData%\\Identities"),
            "/home/ann/appdata\\Identities");
  unsetenv("KV_TEST_APPDATA");
}

// The Windows-1252 table the fake and the stored registries use agrees with iconv on every byte,
// and every byte but the five Windows-1252 leaves undefined comes back from UTF-8 as it was.
TEST(IconvCodePageTest, AgreesWithTheTableAndSurvivesAnUnknownCodePage) {
  IconvCodePage iconv_page;
  Windows1252CodePage table;
  ASSERT_TRUE(iconv_page.valid());
  std::string every_byte, round_trip;
  for (int byte = 1; byte < 256; ++byte) every_byte.push_back(static_cast<char>(byte));
  for (char c : every_byte)
    round_trip +=
        std::string_view("\x81\x8D\x8F\x90\x9D").find(c) == std::string_view::npos ? c : '?';
  EXPECT_EQ(iconv_page.ToUtf8(every_byte), table.ToUtf8(every_byte));
  EXPECT_EQ(table.FromUtf8(table.ToUtf8(every_byte)), round_trip);
  EXPECT_EQ(iconv_page.ToUtf8("x\x81y\x9Dz"), "x\xEF\xBF\xBDy\xEF\xBF\xBDz");
  for (const std::string utf8 : {"Gelöschte Objekte €‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ", "日本語 ok",
                                 "bad \xC3 \xFF \xE2\x82 end", "\xF0\x9F\x98\x80"}) {
    EXPECT_EQ(iconv_page.FromUtf8(utf8), table.FromUtf8(utf8)) << utf8;
  }
  IconvCodePage central_european("CP1250");
  EXPECT_EQ(central_european.ToUtf8("\xB3\xF3\xBF"), "łóż");
  EXPECT_EQ(central_european.FromUtf8("łóż"), "\xB3\xF3\xBF");

  IconvCodePage unknown("NO-SUCH-CODE-PAGE");
  EXPECT_FALSE(unknown.valid());
  EXPECT_EQ(unknown.ToUtf8("ab\xF6"), "ab\xEF\xBF\xBD");
  EXPECT_EQ(unknown.FromUtf8("abö"), "ab?");
}

}  // namespace
}  // namespace kv::platform
