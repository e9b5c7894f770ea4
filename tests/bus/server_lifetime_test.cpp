// The server on a private session bus: registration, activation, one process for every class,
// and the process's life tied to its objects.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/filter_classes.h"
#include "bus/bus_names.h"
#include "bus/bus_test_support.h"

namespace kv::bus::testing {
namespace {

namespace fs = std::filesystem;

const std::string kOe4 = "KVFLTRS.OEIMPORTMSG";
const std::string kNetscapeClsid = "{31402927-5BAB-11D3-983D-0020AFF7BF53}";

std::string ServiceFile() { return ServicesFolder() + "/" + kServiceName + ".service"; }

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class Server : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgramResult registered = RunProgram({KvfltrsPath()});
    ASSERT_EQ(registered.status, 0) << registered.err;
    client = std::make_unique<Client>();
  }

  // No test leaves a server behind: a client that goes releases its objects, and the process
  // must end then (and write any sanitizer report before the bus goes).
  void TearDown() override {
    std::optional<pid_t> pid = ServerProcess();
    client.reset();
    if (pid) {
      EXPECT_TRUE(WaitForProcessEnd(*pid)) << "the server outlived its last client";
    }
  }

  std::optional<pid_t> ServerProcess() {
    std::string owner = client->NameOwner(kServiceName);
    return owner.empty() ? std::nullopt : client->ProcessOf(owner);
  }

  std::unique_ptr<Client> client;
};

TEST(Registration, WritesOneServiceFileForTheUserAndRemovesExactlyIt) {
  const std::string neighbour = ServicesFolder() + "/org.example.Other.service";
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
  std::string text = ReadText(ServiceFile());
  EXPECT_NE(text.find("[D-BUS Service]\nName=org.kvnorvale.Kvfltrs\nExec=" + KvfltrsPath() +
                      " -Embedding\n"),
            std::string::npos)
      << text;
  for (const FilterClass& filter_class : FilterClasses()) {
    EXPECT_NE(text.find(std::string(filter_class.prog_id) + " " + std::string(filter_class.clsid)),
              std::string::npos)
        << text;
  }
  EXPECT_FALSE(client.CreateInstance(kOe4).empty()) << "the bus starts the server";
  client.Release(client.CreateInstance(kOe4));

  for (std::string word : {"/Unregister", "-unregserver"}) {
    ProgramResult removed = RunProgram({KvfltrsPath(), word});
    EXPECT_EQ(removed.status, 0);
    EXPECT_EQ(removed.out + removed.err, "") << "removal is silent";
    EXPECT_FALSE(fs::exists(ServiceFile())) << word;
    EXPECT_TRUE(fs::exists(neighbour)) << "another service's file stays";
    RunProgram({KvfltrsPath()});
  }
}

TEST(Registration, AnUnreachableBusIsReported) {
  ProgramResult started = RunProgram({KvfltrsPath(), "-Embedding"},
                                     {"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"});
  EXPECT_NE(started.err.find("OLE initialization failed.  Make sure that the OLE libraries are "
                             "the correct version."),
            std::string::npos)
      << started.err;
}

TEST_F(Server, StartsOnTheFirstCreateInstanceAndServesEveryClassInOneProcess) {
  EXPECT_FALSE(client->HasOwner(kServiceName)) << "not running before it is asked for";
  std::vector<std::string> paths;
  std::set<std::string> servers;
  for (const FilterClass& filter_class : FilterClasses()) {
    // By ProgID and by class ID, in any case.
    for (std::string name : {std::string(filter_class.prog_id), std::string(filter_class.clsid)}) {
      paths.push_back(client->CreateInstance(name));
      servers.insert(client->server());
      EXPECT_EQ(client->GetName(paths.back()), filter_class.display_name);
    }
  }
  EXPECT_EQ(servers.size(), 1u) << "one process serves every object of every class";
  EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()).size(), paths.size());
  EXPECT_EQ(client->NameOwner(kServiceName), *servers.begin());
  for (const std::string& path : paths) client->Release(path);
}

TEST_F(Server, RefusesAnUnknownClassAndKeepsRunningWithoutObjects) {
  for (std::string name : {"KVFLTRS.NOSUCHIMPORTMSG", "oe4", "SCOEMsgFilter",
                           "79524993-3A10-11D3-983D-0020AFF7BF53", ""}) {
    EXPECT_EQ(ErrorOf([&] { client->CreateInstance(name); }), kErrorUnknownClass) << name;
  }
  // Started for a client but never asked for an object, the server waits for one.
  std::string server = client->NameOwner(kServiceName);
  ASSERT_FALSE(server.empty());
  EXPECT_TRUE(client->Ping(server));
  std::string path = client->CreateInstance("kvfltrs.oeimportmsg");
  EXPECT_EQ(client->server(), server);
  client->Release(path);
}

TEST_F(Server, EndsAfterTheLastReleaseAndNotBefore) {
  std::string oe4 = client->CreateInstance(kOe4);
  std::string netscape = client->CreateInstance(kNetscapeClsid);
  std::string server = client->server();
  std::optional<pid_t> pid = client->ProcessOf(server);
  ASSERT_TRUE(pid);

  client->Release(oe4);
  EXPECT_EQ(ErrorOf([&] { client->GetName(oe4); }), "org.freedesktop.DBus.Error.UnknownObject");
  // The server has handled the release before it answers the ping: it is still there.
  EXPECT_TRUE(client->Ping(server));
  EXPECT_TRUE(ProcessRunning(*pid));
  EXPECT_EQ(client->GetName(netscape), "Netscape Messenger 4.7");

  client->Release(netscape);
  EXPECT_TRUE(WaitForProcessEnd(*pid));
  EXPECT_FALSE(client->HasOwner(server));
  EXPECT_FALSE(client->HasOwner(kServiceName));
}

TEST_F(Server, ReleasesTheObjectsOfAClientKilledWithoutReleasing) {
  std::string own = client->CreateInstance(kOe4);
  std::string server = client->server();
  std::optional<pid_t> pid = client->ProcessOf(server);
  ASSERT_TRUE(pid);

  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A client of its own that takes two objects, says where they are, and waits to be killed.
    close(pipe_ends[0]);
    Client holder;
    std::string paths =
        holder.CreateInstance(kOe4) + " " + holder.CreateInstance("KVFLTRS.EUDORAIMPORTMSG");
    if (write(pipe_ends[1], paths.data(), paths.size()) < 0) _exit(1);
    close(pipe_ends[1]);
    pause();
    _exit(0);
  }
  close(pipe_ends[1]);
  std::string paths(256, '\0');
  ssize_t length = read(pipe_ends[0], paths.data(), paths.size());
  close(pipe_ends[0]);
  ASSERT_GT(length, 0);
  paths.resize(static_cast<std::size_t>(length));
  std::string held = paths.substr(0, paths.find(' '));
  EXPECT_EQ(client->GetName(held), "Microsoft Outlook Express 4") << "anyone may call an object";

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  // The server learns of the client's end from the bus; wait until it has acted on it.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ErrorOf([&] { client->GetName(held); }).empty() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ErrorOf([&] { client->GetName(held); }), "org.freedesktop.DBus.Error.UnknownObject");
  EXPECT_TRUE(ProcessRunning(*pid)) << "another client still holds an object";
  EXPECT_EQ(client->GetName(own), "Microsoft Outlook Express 4");

  client->Release(own);
  EXPECT_TRUE(WaitForProcessEnd(*pid));
}

TEST_F(Server, ACreateInstanceArrivingWhileTheServerEndsIsServed) {
  // The last object's release and a new CreateInstance leave the client together, so that the
  // request is on its way while the server sees its count reach zero. Whether the ending server
  // or a new one answers, the new object must work.
  std::unique_ptr<sdbus::IProxy> factory =
      sdbus::createProxy(client->connection(), kServiceName, kFactoryPath);
  for (int round = 0; round < 20; ++round) {
    std::string first = client->CreateInstance(kOe4);
    std::optional<pid_t> pid = client->ProcessOf(client->server());
    ASSERT_TRUE(pid);
    std::unique_ptr<sdbus::IProxy> object = client->Object(first, client->server());
    bool released = false;
    object->callMethodAsync("Release")
        .onInterface(kFilterInterface)
        .uponReplyInvoke([&](const sdbus::Error* error) { released = error == nullptr; });
    std::string second;
    ASSERT_EQ(ErrorOf([&] { second = client->CreateInstance(kOe4); }), "") << "round " << round;
    EXPECT_EQ(client->GetName(second, client->server()), "Microsoft Outlook Express 4");
    while (client->connection().processPendingRequest()) {
    }
    EXPECT_TRUE(released) << "round " << round;
    std::optional<pid_t> second_pid = client->ProcessOf(client->server());
    ASSERT_TRUE(second_pid);
    client->Release(second, client->server());
    EXPECT_TRUE(WaitForProcessEnd(*second_pid));
    EXPECT_TRUE(WaitForProcessEnd(*pid));
  }
}

TEST_F(Server, ASecondServerStartedByHandLeavesTheNameToTheFirst) {
  std::string path = client->CreateInstance(kOe4);
  ProgramResult second = RunProgram({KvfltrsPath(), "-Embedding"});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("cannot serve org.kvnorvale.Kvfltrs"), std::string::npos) << second.err;
  EXPECT_EQ(client->GetName(path), "Microsoft Outlook Express 4");
  client->Release(path);
}

}  // namespace
}  // namespace kv::bus::testing
