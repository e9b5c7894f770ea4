// The server on a private session bus: registration, activation, one process for every class, and
// the process's life tied to its objects; the registration file on its own.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "app/filter_classes.h"
#include "bus/bus_names.h"
#include "bus/bus_server.h"
#include "bus/bus_test_support.h"
#include "bus/service_file.h"
#include "support/temp_dir.h"

namespace kv::bus::testing {
namespace {

namespace fs = std::filesystem;
using kv::testing::ReadFile;

const std::string kOe4 = "KVFLTRS.OEIMPORTMSG";
const std::string kOe4Name = "Microsoft Outlook Express 4";
const std::string kUnknownObject = "org.freedesktop.DBus.Error.UnknownObject";

TEST(Registration, WritesOneServiceFileForTheUserAndRemovesExactlyIt) {
  const std::string service_file = ServicesFolder() + "/" + kServiceName + ".service";
  const fs::path neighbour = ServicesFolder() + "/org.example.Other.service";
  std::ofstream(neighbour) << "[D-BUS Service]\nName=org.example.Other\nExec=/bin/false\n";
  Client client;
  EXPECT_EQ(ErrorOf([&] { client.CreateInstance(kOe4); }),
            "org.freedesktop.DBus.Error.ServiceUnknown")
      << "nothing answers before registration";

  for (int round = 0; round < 2; ++round) {  // registering again changes nothing
    ProgramResult registered = RunProgram({KvfltrsPath()});
    EXPECT_EQ(registered.status, 0);
    EXPECT_EQ(registered.out + registered.err, "") << "registration is silent";
  }
  // Every class (the file's text: ServiceFile below) and this program, which the bus starts.
  EXPECT_EQ(ServiceFileRegistration(ServicesFolder(), "").RegisteredProgIds().size(),
            FilterClasses().size());
  client.Release(client.CreateInstance(kOe4));

  // (The other spellings of the switch: server_app_test.)
  ProgramResult removed = RunProgram({KvfltrsPath(), "/Unregister"});
  EXPECT_EQ(removed.status, 0);
  EXPECT_EQ(removed.out + removed.err, "") << "removal is silent";
  EXPECT_FALSE(fs::exists(service_file));
  EXPECT_TRUE(fs::exists(neighbour)) << "another service's file stays";
}

TEST(Registration, AnUnreachableBusIsReported) {
  ProgramResult started = RunProgram(
      {"env", "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus", KvfltrsPath(), "-Embedding"});
  EXPECT_NE(started.err.find("OLE initialization failed.  Make sure that the OLE libraries are "
                             "the correct version."),
            std::string::npos)
      << started.err;
}

TEST(ServiceFile, EachClassIsAddedAndRemovedOnItsOwnAndTheLastTakesTheFile) {
  kv::testing::TempDir folder;
  const fs::path services = folder.path() / "data/dbus-1/services";
  ServiceFileRegistration registration(services.string(), "/opt/kv/bin/kvfltrs");
  const std::span<const FilterClass> classes = FilterClasses();
  ASSERT_TRUE(registration.Add(classes[3]));
  ASSERT_TRUE(registration.Add(classes[1]));
  ASSERT_TRUE(registration.Add(classes[3]));  // again: no second line
  // The folder and its parents are made on the way, private to the user.
  EXPECT_EQ(fs::status(folder.path() / "data").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(registration.file_path()).permissions(), fs::perms(0644));
  std::string text = ReadFile(registration.file_path());
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
  EXPECT_TRUE(fs::is_empty(services)) << "the file goes, no temporary file is left, folders stay";

  // Without a folder or a program nothing is written; something else under the name stays.
  EXPECT_FALSE(ServiceFileRegistration("", "/usr/bin/kvfltrs").Add(classes[0]));
  EXPECT_FALSE(ServiceFileRegistration((folder.path() / "new").string(), "").Add(classes[0]));
  EXPECT_FALSE(fs::exists(folder.path() / "new"));
  fs::create_directories(services / "org.kvnorvale.Kvfltrs.service");
  EXPECT_FALSE(registration.Remove(classes[0]));
  EXPECT_FALSE(registration.Add(classes[0])) << "a folder cannot be replaced by the file";
  EXPECT_TRUE(fs::is_directory(services / "org.kvnorvale.Kvfltrs.service"));
}

TEST(ServiceFile, ExecLineDataFolderAndBusStrings) {
  const std::pair<std::string, std::string> exec_words[] = {
      {"/opt/kv-1.2/bin/kv_fltrs+x", "/opt/kv-1.2/bin/kv_fltrs+x"},
      {"/home/ann/My Programs/kvfltrs", "'/home/ann/My Programs/kvfltrs'"},
      {"/home/ann's/kvfltrs", "'/home/ann'\\''s/kvfltrs'"},
      {"/tmp/$HOME/`x`", "'/tmp/$HOME/`x`'"},
      {"", "''"},
  };
  for (const auto& [path, word] : exec_words) EXPECT_EQ(ExecWord(path), word) << path;

  // Anything that is not UTF-8 becomes the replacement character.
  const std::pair<std::string, std::string> texts[] = {
      {"Inbox/Grüße", "Inbox/Grüße"},
      {"caf\xE9", "caf\xEF\xBF\xBD"},                              // a code page byte
      {"\xC3", "\xEF\xBF\xBD"},                                    // cut sequence
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                    // overlong
      {"\xED\xA0\x80x", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx"},  // surrogate
  };
  for (const auto& [text, valid] : texts) EXPECT_EQ(ValidUtf8(text), valid) << text;

  // Each test runs in a process of its own: the environment need not be restored.
  setenv("HOME", "/home/ann", 1);
  setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(ServiceFileRegistration::DefaultServicesFolder(), "/srv/data/dbus-1/services");
  setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
  EXPECT_EQ(ServiceFileRegistration::DefaultServicesFolder(),
            "/home/ann/.local/share/dbus-1/services");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(ServiceFileRegistration::DefaultServicesFolder(),
            "/home/ann/.local/share/dbus-1/services");
}

class Server : public RegisteredServer {
 protected:
  // No test leaves a server behind: a client that goes releases its objects, and the process
  // must end then (and write any sanitizer report before the bus goes).
  void TearDown() override {
    std::optional<pid_t> pid = client->ServerProcess();
    client.reset();
    if (pid) {
      EXPECT_TRUE(ProcessEnds(*pid)) << "the server outlived its last client";
    }
  }
  std::unique_ptr<Client> client = std::make_unique<Client>();
};

TEST_F(Server, ServesEveryClassInOneProcessAndEndsAfterTheLastReleaseNotBefore) {
  EXPECT_EQ(client->NameOwner(kServiceName), "") << "not running before it is asked for";
  std::vector<std::string> paths;
  std::set<std::string> servers;
  for (const FilterClass& filter_class : FilterClasses()) {
    // By ProgID and by class ID.
    for (std::string name : {std::string(filter_class.prog_id), std::string(filter_class.clsid)}) {
      paths.push_back(client->CreateInstance(name));
      servers.insert(client->server());
      EXPECT_EQ(client->GetName(paths.back()), filter_class.display_name);
    }
  }
  EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()).size(), paths.size())
      << "each object has its own path";
  ASSERT_EQ(servers.size(), 1u) << "one process serves every object of every class";
  const std::string server = *servers.begin();
  EXPECT_EQ(client->NameOwner(kServiceName), server);
  std::optional<pid_t> pid = client->ProcessOf(server);
  ASSERT_TRUE(pid);

  for (std::size_t i = 0; i + 1 < paths.size(); ++i) {
    client->Release(paths[i]);
    EXPECT_EQ(ErrorOf([&] { client->GetName(paths[i]); }), kUnknownObject);
  }
  // The server has handled the releases before it answers the ping: it is still there.
  EXPECT_TRUE(client->Ping(server));
  EXPECT_EQ(client->GetName(paths.back()), kOe4Name);
  client->Release(paths.back());
  EXPECT_TRUE(ProcessEnds(*pid));
  EXPECT_EQ(client->NameOwner(server), "");
  EXPECT_EQ(client->NameOwner(kServiceName), "");
}

TEST_F(Server, RefusesAnUnknownClassAndKeepsRunningWithoutObjects) {
  // (Which names are refused: ClassFactories in server_app_test.)
  EXPECT_EQ(ErrorOf([&] { client->CreateInstance("oe4"); }), kErrorUnknownClass);
  // Started for a client but never asked for an object, the server waits for one.
  std::string server = client->NameOwner(kServiceName);
  ASSERT_FALSE(server.empty());
  EXPECT_TRUE(client->Ping(server));
  std::string path = client->CreateInstance("kvfltrs.oeimportmsg");  // in any case
  EXPECT_EQ(client->server(), server);
  client->Release(path);
}

TEST_F(Server, ReleasesTheObjectsOfAClientKilledWithoutReleasing) {
  std::string own = client->CreateInstance(kOe4);
  std::optional<pid_t> pid = client->ProcessOf(client->server());
  ASSERT_TRUE(pid);
  // A client of its own that takes two objects, says where the first is, and waits to be killed.
  auto forked = Fork([](int ready) {
    Client holder;
    std::string path = holder.CreateInstance(kOe4);
    holder.CreateInstance("KVFLTRS.EUDORAIMPORTMSG");
    if (write(ready, path.data(), path.size()) < 0) _exit(1);
    pause();
  });
  const pid_t child = forked.first;
  const std::string held = forked.second;
  ASSERT_FALSE(held.empty());
  EXPECT_EQ(client->GetName(held), kOe4Name) << "anyone may call an object";

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  // The server learns of the client's end from the bus.
  EXPECT_TRUE(WaitUntil([&] { return !ErrorOf([&] { client->GetName(held); }).empty(); }));
  EXPECT_EQ(ErrorOf([&] { client->GetName(held); }), kUnknownObject);
  EXPECT_FALSE(ProcessEnds(*pid, 0)) << "another client still holds an object";
  EXPECT_EQ(client->GetName(own), kOe4Name);
  client->Release(own);
}

TEST_F(Server, ACreateInstanceArrivingWhileTheServerEndsIsServed) {
  // The last object's release and a new CreateInstance leave the client together, so that the
  // request is on its way while the server sees its count reach zero. Whether the ending server
  // or a new one answers, the new object must work.
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    std::string first = client->CreateInstance(kOe4);
    std::optional<pid_t> pid = client->ProcessOf(client->server());
    ASSERT_TRUE(pid);
    std::unique_ptr<sdbus::IProxy> object = client->Object(first, client->server());
    bool released = false;
    object->callMethodAsync("Release")
        .onInterface(kFilterInterface)
        .uponReplyInvoke([&](const sdbus::Error* error) { released = error == nullptr; });
    std::string second;
    ASSERT_EQ(ErrorOf([&] { second = client->CreateInstance(kOe4); }), "");
    EXPECT_EQ(client->GetName(second, client->server()), kOe4Name);
    while (client->connection().processPendingRequest()) {
    }
    EXPECT_TRUE(released);
    std::optional<pid_t> second_pid = client->ProcessOf(client->server());
    ASSERT_TRUE(second_pid);
    client->Release(second, client->server());
    EXPECT_TRUE(ProcessEnds(*second_pid));
    EXPECT_TRUE(ProcessEnds(*pid));
  }
}

TEST_F(Server, ASecondServerStartedByHandLeavesTheNameToTheFirst) {
  std::string path = client->CreateInstance(kOe4);
  ProgramResult second = RunProgram({KvfltrsPath(), "-Embedding"});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("cannot serve org.kvnorvale.Kvfltrs"), std::string::npos) << second.err;
  EXPECT_EQ(client->GetName(path), kOe4Name);
  client->Release(path);
}

}  // namespace
}  // namespace kv::bus::testing
