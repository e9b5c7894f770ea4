#pragma once
// Helpers for the tests that run against the server on a private session bus (see
// private_bus.sh): running programs, a client with its own connection, and watching the server
// process come and go.

#include <sdbus-c++/sdbus-c++.h>
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/import_filter.h"
#include "ui/scripted_ui.h"

namespace kv::bus::testing {

// The server program under test.
std::string KvfltrsPath();
// The folder the private bus reads the user's service files from.
std::string ServicesFolder();
// The repository's introspection file.
std::string InterfaceFile();

struct ProgramResult {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};
// Runs `argv` with `extra_env` ("NAME=value") added to the environment and `input` on its standard
// input, waits for it and collects its output.
ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extra_env = {},
                         const std::string& input = "");

// A client with a connection of its own. Calls go to the well-known name unless said otherwise.
class Client {
 public:
  Client();

  sdbus::IConnection& connection() { return *connection_; }
  std::string unique_name() const { return connection_->getUniqueName(); }

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
  bool HasOwner(const std::string& name) { return !NameOwner(name).empty(); }
  std::optional<pid_t> ProcessOf(const std::string& bus_name);
  // True when `bus_name` answers a ping.
  bool Ping(const std::string& bus_name);

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IProxy> bus_;
  std::string server_;
};

bool ProcessRunning(pid_t pid);
// Waits until process `pid` has ended (gone or waiting to be reaped); false after `limit`.
bool WaitForProcessEnd(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(20));
// Waits until `bus_name` has no owner; false after `limit`.
bool WaitForNoOwner(Client& client, const std::string& bus_name,
                    std::chrono::milliseconds limit = std::chrono::seconds(20));

// The bundled Outlook Express 4 sample store.
std::string SampleStore();

// The host's answers for a walk of a store at `location`: the location, then the whole tree with
// empty folders skipped.
void AnswerForSample(ui::ScriptedUserInterface& ui, const std::string& location = SampleStore());

// Everything a host learns from a walk, in order: IsSystemFound, then for each item its folder,
// status words, message file (its bytes, when it is one; the file is removed) .
std::vector<std::string> Walk(ImportFilter& filter, platform::WindowHandle window = 1);

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
