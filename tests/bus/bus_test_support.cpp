#include "bus/bus_test_support.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "bus/bus_names.h"
#include "support/temp_dir.h"

namespace kv::bus::testing {

std::string KvfltrsPath() { return KV_KVFLTRS_PATH; }

std::string ServicesFolder() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  return std::string(data_home != nullptr ? data_home : "") + "/dbus-1/services";
}

std::string SampleStore(const std::string& filter) {
  return std::string(KV_SOURCE_DIR) + "/samples/" + filter;
}

ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& input) {
  // Files rather than pipes: a server the program starts may inherit and keep them open.
  kv::testing::TempDir io;
  auto quoted = [](std::string word) {
    for (std::size_t at = 0; (at = word.find('\'', at)) != std::string::npos; at += 4) {
      word.replace(at, 1, "'\\''");
    }
    return "'" + word + "'";
  };
  std::string line;
  for (const std::string& arg : argv) line += quoted(arg) + " ";
  line += "<" + quoted(io.Write("in", input).string()) + " >" +
          quoted((io.path() / "out").string()) + " 2>" + quoted((io.path() / "err").string());
  const int status = std::system(line.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, kv::testing::ReadFile(io.path() / "out"),
          kv::testing::ReadFile(io.path() / "err")};
}

Client::Client()
    : connection_(sdbus::createSessionBusConnection()),
      bus_(sdbus::createProxy(*connection_, kBusName, kBusPath)) {}

std::string Client::CreateInstance(const std::string& name) {
  auto factory = sdbus::createProxy(*connection_, kServiceName, kFactoryPath);
  sdbus::MethodCall call = factory->createMethodCall(kFactoryInterface, "CreateInstance");
  call << name;
  sdbus::MethodReply reply = factory->callMethod(call);
  sdbus::ObjectPath path;
  reply >> path;
  server_ = reply.getSender();
  return path;
}

std::unique_ptr<sdbus::IProxy> Client::Object(const std::string& path,
                                              const std::string& destination) {
  return sdbus::createProxy(*connection_, destination.empty() ? kServiceName : destination, path);
}

std::string Client::GetName(const std::string& path, const std::string& destination) {
  std::string name;
  Object(path, destination)
      ->callMethod("GetName")
      .onInterface(kFilterInterface)
      .storeResultsTo(name);
  return name;
}

void Client::Release(const std::string& path, const std::string& destination) {
  Object(path, destination)->callMethod("Release").onInterface(kFilterInterface);
}

std::string Client::NameOwner(const std::string& name) {
  std::string owner;
  ErrorOf([&] {
    bus_->callMethod("GetNameOwner")
        .onInterface(kBusInterface)
        .withArguments(name)
        .storeResultsTo(owner);
  });
  return owner;
}

std::optional<pid_t> Client::ProcessOf(const std::string& bus_name) {
  std::uint32_t pid = 0;
  if (!ErrorOf([&] {
         bus_->callMethod("GetConnectionUnixProcessID")
             .onInterface(kBusInterface)
             .withArguments(bus_name)
             .storeResultsTo(pid);
       }).empty()) {
    return std::nullopt;
  }
  return static_cast<pid_t>(pid);
}

std::optional<pid_t> Client::ServerProcess() {
  std::string owner = NameOwner(kServiceName);
  return owner.empty() ? std::nullopt : ProcessOf(owner);
}

bool Client::Ping(const std::string& bus_name) {
  return ErrorOf([&] {
           Object("/", bus_name)->callMethod("Ping").onInterface("org.freedesktop.DBus.Peer");
         })
      .empty();
}

bool WaitUntil(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool ProcessRunning(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  // The state follows the command name in parentheses; a zombie has ended.
  std::string::size_type close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z' &&
         line[close + 2] != 'X';
}

std::pair<pid_t, std::string> Fork(const std::function<void(int ready)>& child) {
  int ends[2];
  if (pipe(ends) != 0) return {-1, ""};
  pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    child(ends[1]);
    _exit(0);
  }
  close(ends[1]);
  std::string said(256, '\0');
  pollfd readable{ends[0], POLLIN, 0};
  ssize_t length = poll(&readable, 1, 20000) == 1 ? read(ends[0], said.data(), said.size()) : 0;
  close(ends[0]);
  said.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return {pid, said};
}

}  // namespace kv::bus::testing
