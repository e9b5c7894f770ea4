#pragma once
// The user-interface agent on the bus. A host exports an agent object (interface
// org.kvnorvale.Kvfltrs.UiAgent) on its own connection and registers it with the server
// (Factory.RegisterUiAgent), which answers with the handle the host gives SetParent. The server's
// front (ui::RemoteUserInterface) then reaches the agent through a BusDialogAgent.
//
// On the bus a dialog's changes are an array of (s kind, i control, t item, t parent, s text,
// x value, i image, i selected_image, u mask), and an action is (s kind, i control, t item,
// a(ib) checks); see ui/remote_ui.h for their meaning.

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "bus/local_agent.h"
#include "ui/remote_ui.h"

namespace kv::bus {

using WireChange =
    sdbus::Struct<std::string, std::int32_t, std::uint64_t, std::uint64_t, std::string,
                  std::int64_t, std::int32_t, std::int32_t, std::uint32_t>;
using WireCheck = sdbus::Struct<std::int32_t, bool>;
using WireAction = std::tuple<std::string, std::int32_t, std::uint64_t, std::vector<WireCheck>>;

std::vector<WireChange> ToWire(const std::vector<ui::ViewChange>& changes);
// nullopt when a change has a kind this program does not know.
std::optional<std::vector<ui::ViewChange>> ChangesFromWire(const std::vector<WireChange>& wire);
WireAction ToWire(const ui::DialogAction& action);
std::optional<ui::DialogAction> ActionFromWire(const WireAction& wire);

// The server's side: the agent object of a host, called on the bus. Calls wait as long as the
// person takes; a host that leaves the bus ends them with an error, which becomes "not answered"
// (with a line to `log`).
class BusDialogAgent final : public ui::DialogAgent {
 public:
  // `connection` must outlive the agent.
  BusDialogAgent(sdbus::IConnection& connection, const std::string& client, const std::string& path,
                 std::function<void(const std::string&)> log);

  std::optional<int> MessageBox(const std::string& text, const std::string& caption,
                                unsigned style) override;
  bool BrowseForFolder(const std::string& title, std::optional<std::string>& folder) override;
  std::optional<ui::DialogAction> OpenDialog(std::uint32_t dialog, int template_id,
                                             const std::vector<ui::ViewChange>& changes) override;
  std::optional<ui::DialogAction> UpdateDialog(std::uint32_t dialog,
                                               const std::vector<ui::ViewChange>& changes) override;
  void CloseDialog(std::uint32_t dialog, const std::vector<ui::ViewChange>& changes) override;
  void ShowWaitCursor() override;

 private:
  void Failed(const char* method, const sdbus::Error& error);

  std::unique_ptr<sdbus::IProxy> proxy_;
  std::function<void(const std::string&)> log_;
};

// The host's side: the agent object, answering through `agent`. Only the servers it was
// registered with may call it. Its methods answer later, from the thread that serves the agent,
// so the connection's event loop must run in a thread of its own (enterEventLoopAsync).
class UiAgentObject {
 public:
  static constexpr const char* kDefaultPath = "/org/kvnorvale/Kvfltrs/UiAgent";

  // `connection` and `agent` must outlive the object.
  UiAgentObject(sdbus::IConnection& connection, LocalDialogAgent& agent,
                std::string path = kDefaultPath);
  ~UiAgentObject();

  // Registers the agent with server `server` (a unique bus name) and allows its calls; the handle
  // to give SetParent. Throws sdbus::Error.
  std::int32_t RegisterWith(const std::string& server);

 private:
  bool CallerAllowed();
  static sdbus::Error AccessDenied();
  static sdbus::Error UnknownChange();

  sdbus::IConnection& connection_;
  LocalDialogAgent& agent_;
  std::string path_;
  std::unique_ptr<sdbus::IObject> object_;
  std::mutex mutex_;
  std::set<std::string> servers_;
};

}  // namespace kv::bus
