// The registration file on its own: one class at a time, the program's path as the bus reads it,
// the user's data folder, and the strings the bus may carry.

#include "bus/service_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "bus/bus_server.h"

namespace kv::bus {
namespace {

namespace fs = std::filesystem;

class ServiceFile : public ::testing::Test {
 protected:
  ServiceFile() {
    folder = fs::temp_directory_path() / ("kv-service-file-" + std::to_string(getpid()));
    fs::remove_all(folder);
  }
  ~ServiceFile() override { fs::remove_all(folder); }

  fs::path folder;
};

TEST_F(ServiceFile, EachClassIsAddedAndRemovedOnItsOwnAndTheLastTakesTheFile) {
  // The folder and its parents are made on the way, private to the user.
  ServiceFileRegistration registration((folder / "data/dbus-1/services").string(),
                                       "/opt/kv/bin/kvfltrs");
  const std::span<const FilterClass> classes = FilterClasses();
  ASSERT_TRUE(registration.Add(classes[3]));
  ASSERT_TRUE(registration.Add(classes[1]));
  ASSERT_TRUE(registration.Add(classes[3]));  // again: no second line
  EXPECT_EQ(registration.RegisteredProgIds(),
            (std::vector<std::string>{"KVFLTRS.NETSCAPEIMPORTMSG", "KVFLTRS.OEIMPORTMSG"}));
  struct stat info {};
  ASSERT_EQ(stat((folder / "data").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(registration.file_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  std::ifstream file(registration.file_path());
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.substr(text.find("# Class")),
            "# Class KVFLTRS.NETSCAPEIMPORTMSG {31402927-5BAB-11D3-983D-0020AFF7BF53}\n"
            "# Class KVFLTRS.OEIMPORTMSG {79524993-3A10-11D3-983D-0020AFF7BF53}\n"
            "[D-BUS Service]\n"
            "Name=org.kvnorvale.Kvfltrs\n"
            "Exec=/opt/kv/bin/kvfltrs -Embedding\n");

  EXPECT_TRUE(registration.Remove(classes[0]));  // never registered: nothing changes
  EXPECT_TRUE(registration.Remove(classes[3]));
  EXPECT_EQ(registration.RegisteredProgIds(),
            std::vector<std::string>{"KVFLTRS.NETSCAPEIMPORTMSG"});
  EXPECT_TRUE(registration.Remove(classes[1]));
  EXPECT_FALSE(fs::exists(registration.file_path()));
  EXPECT_TRUE(fs::is_directory(folder / "data/dbus-1/services")) << "folders stay";
  EXPECT_TRUE(fs::is_empty(folder / "data/dbus-1/services")) << "no temporary file is left";
}

TEST_F(ServiceFile, SomethingElseUnderTheNameIsNotRemoved) {
  ServiceFileRegistration registration(folder.string(), "/usr/bin/kvfltrs");
  fs::create_directories(folder / "org.kvnorvale.Kvfltrs.service");
  EXPECT_FALSE(registration.Remove(FilterClasses()[0]));
  EXPECT_TRUE(fs::is_directory(folder / "org.kvnorvale.Kvfltrs.service"));
  EXPECT_FALSE(registration.Add(FilterClasses()[0])) << "a folder cannot be replaced by the file";
}

TEST_F(ServiceFile, NothingIsWrittenWithoutAFolderOrAProgram) {
  EXPECT_FALSE(ServiceFileRegistration("", "/usr/bin/kvfltrs").Add(FilterClasses()[0]));
  EXPECT_FALSE(ServiceFileRegistration(folder.string(), "").Add(FilterClasses()[0]));
  EXPECT_FALSE(fs::exists(folder));
}

TEST(ExecLine, ThePathSurvivesTheBussReadingOfIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"/usr/bin/kvfltrs", "/usr/bin/kvfltrs"},
      {"/opt/kv-1.2/bin/kv_fltrs+x", "/opt/kv-1.2/bin/kv_fltrs+x"},
      {"/home/ann/My Programs/kvfltrs", "'/home/ann/My Programs/kvfltrs'"},
      {"/home/ann's/kvfltrs", "'/home/ann'\\''s/kvfltrs'"},
      {"/tmp/$HOME/`x`", "'/tmp/$HOME/`x`'"},
      {"", "''"},
  };
  for (const auto& [path, word] : cases) EXPECT_EQ(ExecWord(path), word) << path;
}

TEST(ExecLine, TheUsersDataFolderFollowsTheBaseDirectoryRules) {
  const char* saved_data = getenv("XDG_DATA_HOME");
  const char* saved_home = getenv("HOME");
  std::string data = saved_data != nullptr ? saved_data : "";
  std::string home = saved_home != nullptr ? saved_home : "";

  setenv("HOME", "/home/ann", 1);
  setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(ServiceFileRegistration::DefaultServicesFolder(), "/srv/data/dbus-1/services");
  setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
  EXPECT_EQ(ServiceFileRegistration::DefaultServicesFolder(),
            "/home/ann/.local/share/dbus-1/services");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(ServiceFileRegistration::DefaultServicesFolder(),
            "/home/ann/.local/share/dbus-1/services");

  setenv("HOME", home.c_str(), 1);
  if (saved_data != nullptr) setenv("XDG_DATA_HOME", data.c_str(), 1);
}

TEST(BusStrings, AnythingThatIsNotUtf8BecomesTheReplacementCharacter) {
  const std::pair<std::string, std::string> cases[] = {
      {"Inbox/Grüße", "Inbox/Grüße"},
      {"caf\xE9", "caf\xEF\xBF\xBD"},                              // a code page byte
      {"\xC3", "\xEF\xBF\xBD"},                                    // cut sequence
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                    // overlong
      {"\xED\xA0\x80x", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx"},  // surrogate
      {"", ""},
  };
  for (const auto& [text, valid] : cases) EXPECT_EQ(ValidUtf8(text), valid) << text;
}

}  // namespace
}  // namespace kv::bus
