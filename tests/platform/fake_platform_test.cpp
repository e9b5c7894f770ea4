// The in-memory services other tests build on and the shared wildcard, alias and variable rules.
// (The Windows-1252 table is checked against iconv in posix_platform_test.cpp.)
#include <gtest/gtest.h>

#include "platform/fake/fake_environment.h"
#include "platform/fake/fault_file_system.h"
#include "platform/fake/memory_file_system.h"
#include "platform/implementation_support.h"

namespace kv::platform {
namespace {

TEST(WildcardTest, FollowsTheWindowsDirectorySearch) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*.mbx", "in.mbx.bak", false},
      {"*.mbx", "a.b.mbx", true},
      {"In?ox", "INBOX", true},
      {"abc?", "abc", true},
      {"a?.txt", "a.txt", true},
      {"a?b", "a.b", false},
      {"Inbox.*", "Inbox", true},
      {"Inbox", "Inbox.snm", false},
      {"*x*y*z*", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxyyyyyyyyyyyyyyyyyyyyy", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " ~ " << c.name;
  }
}

// The shared contract finds names behind their aliases in listings that come sorted; here the
// names come unsorted, and the numbers go past nine.
TEST(ShortNameAliasTest, NumbersLongNamesSharingAStemInListingOrder) {
  std::vector<std::string> names = {"PROGRA~1", "eudora.ini", "Program Files", "program data"};
  EXPECT_EQ(MatchShortNameAlias("PROGRA~1", names), 3u);
  EXPECT_EQ(MatchShortNameAlias("progra~2", names), 2u);

  std::vector<std::string> many;
  for (char c = 'a'; c <= 'k'; ++c) many.push_back(std::string("Long name ") + c + ".text");
  EXPECT_EQ(MatchShortNameAlias("LONGNA~1.TEX", many), 0u);
  EXPECT_EQ(MatchShortNameAlias("LONGN~10.TEX", many), 9u);  // two digits leave five characters
  EXPECT_EQ(MatchShortNameAlias("LONGNA~10.TEX", many), std::nullopt);
  EXPECT_EQ(MatchShortNameAlias("LONGNA~1.TXT", many), std::nullopt);
}

TEST(ExpandVariablesTest, KeepsUnknownNamesAsWritten) {
  FakeEnvironment environment({{"UserProfile", "C:\\Users\\Ann"}, {"EMPTY", ""}});
  EXPECT_EQ(environment.ExpandEnvironmentStrings("%Nope%\\%userprofile%"),
            "%Nope%\\C:\\Users\\Ann");
  EXPECT_EQ(environment.ExpandEnvironmentStrings("a%EMPTY%b"), "ab");
  EXPECT_EQ(environment.ExpandEnvironmentStrings("100%"), "100%");
  EXPECT_EQ(environment.ExpandEnvironmentStrings("%%"), "%%");
  // The closing "%" of an unknown name is not reused as an opening one.
  EXPECT_EQ(environment.ExpandEnvironmentStrings("%X%USERPROFILE%"), "%X%USERPROFILE%");
}

TEST(MemoryTempFilesTest, SkipsNamesInUseAndCutsThePrefix) {
  MemoryFileSystem files;
  MemoryTempFiles temp(files);
  EXPECT_EQ(temp.TempPath(), "C:\\TEMP\\");
  ASSERT_TRUE(files.AddFile("C:\\TEMP\\imp1.TMP", "taken"));
  std::optional<std::string> name = temp.GetTempFileName(temp.TempPath(), "imp", 0);
  ASSERT_TRUE(name);
  EXPECT_NE(*name, "C:\\TEMP\\imp1.TMP");
  EXPECT_EQ(files.Contents(*name), "");
  EXPECT_EQ(files.Contents("C:\\TEMP\\imp1.TMP"), "taken");

  EXPECT_EQ(temp.GetTempFileName("C:\\TEMP", "longprefix", 0xABC), "C:\\TEMP\\lonABC.TMP");
  EXPECT_FALSE(files.Exists("C:\\TEMP\\lonABC.TMP"));
  EXPECT_FALSE(temp.GetTempFileName("C:\\missing\\", "", 0));
}

TEST(MemoryFileSystemTest, KeepsDrivesApartAttributesAndOpenedBytes) {
  MemoryFileSystem files;
  ASSERT_TRUE(files.AddFile("D:\\Store\\a.mbx", "d"));
  ASSERT_TRUE(files.AddFile("\\Store\\a.mbx", "c", 1000));
  EXPECT_EQ(files.Contents("d:/store/A.MBX"), "d");
  EXPECT_FALSE(files.AddFile("C:\\Store\\a.mbx\\inner", "x"));
  EXPECT_FALSE(files.AddDirectory("C:\\Store\\a.mbx"));
  EXPECT_EQ(files.ListFiles(), (std::vector<std::string>{"C:\\Store\\a.mbx", "D:\\Store\\a.mbx"}));
  EXPECT_EQ(files.NativePath("c:\\STORE\\A.mbx"), "C:\\Store\\a.mbx");

  ASSERT_TRUE(files.SetAttributes("C:\\Store\\a.mbx", kAttributeReadOnly | kAttributeHidden));
  std::optional<FileStatus> status = files.Status("C:\\STORE\\a.mbx");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->attributes, kAttributeArchive | kAttributeReadOnly | kAttributeHidden);
  EXPECT_EQ(status->modified_unix_seconds, 1000);
  ASSERT_TRUE(files.SetAttributes("C:\\Store", kAttributeHidden | kAttributeDirectory));
  EXPECT_EQ(files.Status("C:\\Store")->attributes, kAttributeDirectory | kAttributeHidden);
  EXPECT_FALSE(files.SetAttributes("C:\\none", kAttributeHidden));

  // A reader keeps the bytes it opened even when the file is deleted.
  std::unique_ptr<ReadableFile> reader = files.OpenForReading("C:\\Store\\a.mbx");
  std::unique_ptr<MappedFile> mapping = files.MapReadOnly("C:\\Store\\a.mbx");
  ASSERT_TRUE(files.Delete("C:\\Store\\a.mbx"));
  EXPECT_FALSE(files.Delete("C:\\Store")) << "not even once empty";
  ASSERT_TRUE(reader && mapping);
  std::uint8_t buffer[4];
  EXPECT_EQ(reader->Read(buffer), 1u);
  EXPECT_EQ(mapping->bytes().size(), 1u);
}

// The read and write budgets and failing opens are what the filters' damage tests and the
// chunked reader's test rely on: those tests fail when such a fault does not fire. What only this
// test checks is the count of open files and the other faults.
TEST(FaultFileSystemTest, FailsChosenCallsAndCountsOpenFiles) {
  MemoryFileSystem memory;
  ASSERT_TRUE(memory.AddFile("C:\\m\\Inbox.mbx", "0123456789"));
  FaultFileSystem files(memory);
  {
    std::unique_ptr<ReadableFile> mailbox = files.OpenForReading("C:\\m\\Inbox.mbx");
    std::unique_ptr<WritableFile> out = files.OpenForWriting("C:\\m\\out.tmp");
    ASSERT_TRUE(mailbox && out);
    EXPECT_EQ(files.OpenCount(), 2);
    EXPECT_TRUE(out->Close());
  }
  EXPECT_EQ(files.OpenCount(), 0);

  files.faults().find = {"\\m\\"};
  files.faults().exists = {"Inbox"};
  files.faults().remove = {"out"};
  files.faults().fail_close = true;
  EXPECT_EQ(files.FindFirst("C:\\m\\*"), nullptr);
  EXPECT_FALSE(files.Exists("C:\\m\\Inbox.mbx"));
  EXPECT_FALSE(files.Delete("C:\\m\\out.tmp"));
  EXPECT_TRUE(memory.Exists("C:\\m\\out.tmp"));
  std::unique_ptr<WritableFile> unlucky = files.OpenForWriting("C:\\m\\x.tmp");
  ASSERT_NE(unlucky, nullptr);
  EXPECT_FALSE(unlucky->Close());
}

}  // namespace
}  // namespace kv::platform
