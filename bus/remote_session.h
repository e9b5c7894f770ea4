#pragma once
// A host's whole side of one filter object in the server: its own bus connection with the event
// loop in a thread of its own, the object, and the user-interface agent that answers the object's
// dialogs with the host's front on the host's thread. What `kvimport --server` drives in place of
// a filter made in-process.

#include <sdbus-c++/sdbus-c++.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bus/local_agent.h"
#include "bus/remote_filter.h"
#include "bus/ui_agent_bus.h"
#include "platform/diagnostics.h"
#include "platform/environment.h"
#include "platform/user_interface.h"

namespace kv::bus {

class RemoteSession {
 public:
  // Creates an object of `prog_id` with `settings` (see CreateInstanceWithSettings) in the server,
  // which the bus starts when it is registered, and registers an agent that shows the object's
  // dialogs with `front`, owned by `window`: SetParent(window) on filter() reaches it. The
  // object's reports go to `diagnostics`, texts in `code_page`. Throws sdbus::Error when the bus
  // or the server cannot be reached or refuses. Everything given must outlive the session.
  RemoteSession(const std::string& prog_id, const std::map<std::string, std::string>& settings,
                platform::UserInterface& front, platform::WindowHandle window,
                platform::Diagnostics& diagnostics, platform::CodePage& code_page);
  ~RemoteSession();
  RemoteSession(const RemoteSession&) = delete;
  RemoteSession& operator=(const RemoteSession&) = delete;

  RemoteImportFilter& filter() { return *filter_; }
  // The host's connection: the agent is at its unique name.
  sdbus::IConnection& connection() { return *connection_; }

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
  LocalDialogAgent agent_;
  std::unique_ptr<RemoteImportFilter> filter_;
  std::unique_ptr<UiAgentObject> agent_object_;
};

}  // namespace kv::bus
