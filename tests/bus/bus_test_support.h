#pragma once
// Helpers for the tests that run against the server on a private session bus (see
// private_bus.sh): running programs, a client with its own connection, the services the server
// gives its objects, and waiting for the server process to come and go.

#include <gtest/gtest.h>
#include <poll.h>
#include <sdbus-c++/sdbus-c++.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bus/bus_names.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "ui/scripted_ui.h"

namespace kv::bus::testing {

using kv::testing::WaitUntil;

// The server program under test; the folder the private bus reads the user's service files from.
inline std::string KvfltrsPath() { return KV_KVFLTRS_PATH; }
inline std::string ServicesFolder() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  return std::string(data_home != nullptr ? data_home : "") + "/dbus-1/services";
}

// The bundled sample store of `filter` ("oe4", "netscape", ...).
inline std::string SampleStore(const std::string& filter = "oe4") {
  return std::string(KV_SOURCE_DIR) + "/samples/" + filter;
}

struct ProgramResult {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `argv` with `input` on its standard input, waits for it and collects its output.
inline ProgramResult RunProgram(const std::vector<std::string>& argv,
                                const std::string& input = "") {
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

// Registers the server on the private bus; true when that worked.
inline bool Register() { return RunProgram({KvfltrsPath()}).status == 0; }

// A test that needs the server registered.
class RegisteredServer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Register()); }
};

// The error name a call failed with; empty when it did not fail.
template <typename Call>
std::string ErrorOf(Call&& call) {
  try {
    call();
  } catch (const sdbus::Error& error) {
    return error.getName();
  }
  return "";
}

// A client with a connection of its own. Calls go to the well-known name unless said otherwise.
class Client {
 public:
  Client()
      : connection_(sdbus::createSessionBusConnection()),
        bus_(sdbus::createProxy(*connection_, kBusName, kBusPath)) {}

  sdbus::IConnection& connection() { return *connection_; }

  // CreateInstance; the object path. Throws sdbus::Error when refused.
  std::string CreateInstance(const std::string& name) {
    auto factory = sdbus::createProxy(*connection_, kServiceName, kFactoryPath);
    sdbus::MethodCall call = factory->createMethodCall(kFactoryInterface, "CreateInstance");
    call << name;
    sdbus::MethodReply reply = factory->callMethod(call);
    sdbus::ObjectPath path;
    reply >> path;
    server_ = reply.getSender();
    return path;
  }
  // The unique bus name that answered the last CreateInstance.
  const std::string& server() const { return server_; }

  std::unique_ptr<sdbus::IProxy> Object(const std::string& path,
                                        const std::string& destination = "") {
    return sdbus::createProxy(*connection_, destination.empty() ? kServiceName : destination, path);
  }
  std::string GetName(const std::string& path, const std::string& destination = "") {
    std::string name;
    Object(path, destination)
        ->callMethod("GetName")
        .onInterface(kFilterInterface)
        .storeResultsTo(name);
    return name;
  }
  void Release(const std::string& path, const std::string& destination = "") {
    Object(path, destination)->callMethod("Release").onInterface(kFilterInterface);
  }

  // The bus's answer to `method` about `name`; nullopt when it refuses.
  template <typename Answer>
  std::optional<Answer> AskBus(const char* method, const std::string& name) {
    Answer answer{};
    const std::string error = ErrorOf([&] {
      bus_->callMethod(method)
          .onInterface(kBusInterface)
          .withArguments(name)
          .storeResultsTo(answer);
    });
    return error.empty() ? std::optional<Answer>(answer) : std::nullopt;
  }
  // The unique name owning `name`; empty when nobody does.
  std::string NameOwner(const std::string& name) {
    return AskBus<std::string>("GetNameOwner", name).value_or("");
  }
  std::optional<pid_t> ProcessOf(const std::string& bus_name) {
    return AskBus<std::uint32_t>("GetConnectionUnixProcessID", bus_name);
  }
  // The process serving the well-known name, when one does.
  std::optional<pid_t> ServerProcess() {
    std::string owner = NameOwner(kServiceName);
    return owner.empty() ? std::nullopt : ProcessOf(owner);
  }
  // True when `bus_name` answers a ping.
  bool Ping(const std::string& bus_name) {
    return ErrorOf([&] {
             Object("/", bus_name)->callMethod("Ping").onInterface("org.freedesktop.DBus.Peer");
           })
        .empty();
  }

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IProxy> bus_;
  std::string server_;
};

// Waits up to `timeout_ms` for process `pid` to end; true when it has (or there is no such
// process).
inline bool ProcessEnds(pid_t pid, int timeout_ms = 20000) {
  const int process = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (process < 0) return errno == ESRCH;
  pollfd ended{process, POLLIN, 0};
  const bool done = poll(&ended, 1, timeout_ms) == 1;
  close(process);
  return done;
}

// Runs `child` in a forked process that it never returns from; `child` gets the write end of a
// pipe. Returns the child's pid and the first thing it wrote (empty when it wrote nothing within
// 20 seconds), read on until it holds `until` when that is given: a child may write in pieces.
inline std::pair<pid_t, std::string> Fork(const std::function<void(int ready)>& child,
                                          std::string_view until = {}) {
  int ends[2];
  if (pipe(ends) != 0) return {-1, ""};
  pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    child(ends[1]);
    _exit(0);
  }
  close(ends[1]);
  std::string said;
  char piece[256];
  pollfd readable{ends[0], POLLIN, 0};
  do {
    const ssize_t length = poll(&readable, 1, 20000) == 1 ? read(ends[0], piece, sizeof piece) : 0;
    if (length <= 0) break;
    said.append(piece, static_cast<std::size_t>(length));
  } while (!until.empty() && said.find(until) == std::string::npos);
  close(ends[0]);
  return {pid, said};
}

// Platform services as the server gives an object, over a front of the caller's choice.
struct ServerServices {
  explicit ServerServices(platform::UserInterface& ui)
      : services{registry, files, temp, environment, code_page, ui, diagnostics} {}
  platform::IconvCodePage code_page;
  platform::PosixFileSystem files;
  platform::PosixTempFiles temp;
  platform::PosixEnvironment environment;
  platform::MemoryRegistry registry;
  platform::DiagnosticLog diagnostics;
  platform::Services services;
};

}  // namespace kv::bus::testing
