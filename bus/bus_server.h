#pragma once
// The server's object activation on Linux: the D-Bus session bus in place of the component
// object model.
//
// Registration writes the user's service file (ServiceFileRegistration) so that the bus starts
// "kvfltrs -Embedding" when a client first calls the well-known name. Serving, the process owns
// that one name and exports the factory object; CreateInstance makes a filter object of any of
// the four classes at a path of its own, each exporting the filter interface (the eleven methods
// plus Release, and the Diagnostic signal). All calls are served one at a time on one thread.
//
// A host that wants its person to see the filters' dialogs registers a user-interface agent
// (RegisterUiAgent) and gives the handle to SetParent; each object's front (RemoteUserInterface)
// shows its dialogs and message boxes through that agent and cancels them, with a line in the
// log, when there is none. Each object works over services of its own, set up by the client's
// settings (CreateInstanceWithSettings): the store's code page, drive letters, the temporary
// folder.
//
// Life: every object holds the server (ServerLock) until it is released, by its client's Release
// or because the client left the bus without releasing it. When the last object is gone the
// server gives up its name first, so that new clients start a new server, then serves whatever was
// already on its way; only when that leaves no object does the process end. A CreateInstance that
// arrives while the server is ending is thus served, never dropped.

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/server_app.h"
#include "bus/service_file.h"
#include "platform/services.h"
#include "ui/remote_ui.h"

namespace kv::bus {

class BusServer final : public ObjectActivation {
 public:
  // `registration` is the file RegisterServerClass and UnregisterClass change. `log` receives one
  // line for each event a person may need to know of, since the server has no window of its own:
  // clients that left without releasing, cancelled dialogs, refused names.
  BusServer(ServiceFileRegistration registration, std::FILE* log);
  ~BusServer() override;
  BusServer(const BusServer&) = delete;
  BusServer& operator=(const BusServer&) = delete;

  // ObjectActivation. Initialize connects to the session bus.
  bool Initialize() override;
  bool RegisterServerClass(const FilterClass& filter_class) override;
  bool UnregisterClass(const FilterClass& filter_class) override;
  // Exports the factory object and takes the well-known name; false when another process owns
  // it (then this one has nothing to serve).
  bool RegisterFactories(std::span<const FilterClassFactory> factories) override;

  // Serves calls until the last object has been released; 0 then. 1 when there was nothing to
  // serve or the bus connection was lost.
  int Run();

 private:
  struct ServedObject;
  struct Agent;

  // Makes an object of `name`'s class for the caller and exports it; throws sdbus::Error for an
  // unknown class or bad settings.
  sdbus::ObjectPath CreateObject(const std::string& name,
                                 const std::map<std::string, std::string>& settings);
  std::uint32_t RegisterAgent(const sdbus::ObjectPath& path);
  void UnregisterAgent(std::uint32_t handle);
  ui::DialogAgent* FindAgent(platform::WindowHandle handle);
  std::string Caller() const;
  void ExportFilterInterface(ServedObject& served);
  // Objects are destroyed only between calls, never inside a call of their own.
  void QueueRelease(const std::string& path);
  void FlushReleases();
  // Starts watching `client` so that its objects are released when it leaves the bus.
  void WatchClient(const std::string& client);
  void ClientGone(const std::string& client);
  // Serves every request that has arrived; false when the connection was lost.
  bool DispatchPending();
  bool ShouldEnd() const;
  // Gives up the name and serves what was already on its way; true when the process may end.
  bool EndServing();
  void Log(const std::string& line);

  ServiceFileRegistration registration_;
  std::FILE* log_;
  std::span<const FilterClassFactory> factories_;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IProxy> bus_proxy_;
  std::unique_ptr<sdbus::IObject> factory_object_;
  bool name_owned_ = false;
  bool serving_ = false;
  bool ever_created_ = false;
  std::uint64_t next_object_number_ = 1;
  std::map<std::string, std::unique_ptr<ServedObject>> objects_;  // by object path
  std::uint32_t next_agent_handle_ = 1;
  std::map<std::uint32_t, Agent> agents_;  // by handle
  std::vector<std::string> release_queue_;
  std::map<std::string, sdbus::Slot> watched_clients_;  // NameOwnerChanged matches by client
  std::vector<sdbus::Slot> retired_watches_;
};

// `text` with every byte sequence that is not UTF-8 replaced by U+FFFD: the bus carries only
// valid UTF-8 strings.
std::string ValidUtf8(const std::string& text);

}  // namespace kv::bus
