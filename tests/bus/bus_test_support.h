#pragma once
// Helpers for the tests that run against the server on a private session bus (see
// private_bus.sh): running programs, a client with its own connection, the services the server
// gives its objects, and waiting for the server process to come and go.

#include <sdbus-c++/sdbus-c++.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "ui/scripted_ui.h"

namespace kv::bus::testing {

// The server program under test; the folder the private bus reads the user's service files from.
std::string KvfltrsPath();
std::string ServicesFolder();

struct ProgramResult {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};
// Runs `argv` with `input` on its standard input, waits for it and collects its output.
ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& input = "");
// Registers the server on the private bus; true when that worked.
inline bool Register() { return RunProgram({KvfltrsPath()}).status == 0; }

// A client with a connection of its own. Calls go to the well-known name unless said otherwise.
class Client {
 public:
  Client();

  sdbus::IConnection& connection() { return *connection_; }

  // CreateInstance; the object path. Throws sdbus::Error when refused.
  std::string CreateInstance(const std::string& name);
  // The unique bus name that answered the last CreateInstance.
  const std::string& server() const { return server_; }

  std::unique_ptr<sdbus::IProxy> Object(const std::string& path,
                                        const std::string& destination = "");
  std::string GetName(const std::string& path, const std::string& destination = "");
  void Release(const std::string& path, const std::string& destination = "");

  // The unique name owning `name`; empty when nobody does.
  std::string NameOwner(const std::string& name);
  std::optional<pid_t> ProcessOf(const std::string& bus_name);
  // The process serving the well-known name, when one does.
  std::optional<pid_t> ServerProcess();
  // True when `bus_name` answers a ping.
  bool Ping(const std::string& bus_name);

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IProxy> bus_;
  std::string server_;
};

// Polls `done` until it holds; false after 20 seconds.
bool WaitUntil(const std::function<bool()>& done);
bool ProcessRunning(pid_t pid);
inline bool WaitForProcessEnd(pid_t pid) {
  return WaitUntil([pid] { return !ProcessRunning(pid); });
}

// Runs `child` in a forked process that it never returns from; `child` gets the write end of a
// pipe. Returns the child's pid and the first thing it wrote (empty when it wrote nothing within
// 20 seconds).
std::pair<pid_t, std::string> Fork(const std::function<void(int ready)>& child);

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

// The bundled sample store of `filter` ("oe4", "netscape", ...).
std::string SampleStore(const std::string& filter = "oe4");

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

}  // namespace kv::bus::testing
