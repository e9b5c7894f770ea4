// A filter in the server whose dialogs are answered by the host's user-interface agent over a
// private session bus: who may call the agent, and when. (The whole walk through the agent,
// dialogs and reports included: kvimport_server_test; a filter without an agent:
// filter_interface_test.)

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bus/bus_names.h"
#include "bus/bus_test_support.h"
#include "bus/remote_session.h"
#include "bus/ui_agent_bus.h"
#include "ui/terminal/terminal_ui.h"

namespace kv::bus::testing {
namespace {

constexpr platform::WindowHandle kHostWindow = 1;
const std::string kOe4 = "KVFLTRS.OEIMPORTMSG";

// A host as kvimport --server is one: its own connection, an agent showing the dialogs with
// `front`, a filter object in the server that calls the agent.
struct Host {
  explicit Host(platform::UserInterface& front)
      : session(kOe4, {}, front, kHostWindow, log, code) {}
  platform::DiagnosticLog log;
  platform::IconvCodePage code;
  RemoteSession session;
};

class UiAgent : public RegisteredServer {};

TEST_F(UiAgent, OnlyTheRegisteredServerMayCallTheAgentAndOnlyWhileTheHostWaits) {
  ui::ScriptedUserInterface front;
  Host host(front);
  RemoteImportFilter& filter = host.session.filter();
  Client stranger;
  std::unique_ptr<sdbus::IProxy> agent =
      stranger.Object(UiAgentObject::kDefaultPath, host.session.connection().getUniqueName());
  EXPECT_EQ(ErrorOf([&] {
              agent->callMethod("MessageBox")
                  .onInterface(kUiAgentInterface)
                  .withArguments(std::string("Format the disk?"), std::string("Import messages"),
                                 std::uint32_t{platform::kMbYesNo});
            }),
            "org.freedesktop.DBus.Error.AccessDenied");

  // The server's own call (from a stranger's object with the host's handle, the first one given
  // out) is refused at once instead of waiting for the host's next call.
  std::string path = stranger.CreateInstance(kOe4);
  std::unique_ptr<sdbus::IProxy> object = stranger.Object(path, filter.server());
  object->callMethod("SetParent").onInterface(kFilterInterface).withArguments(std::int32_t{1});
  bool found = true;
  object->callMethod("IsSystemFound").onInterface(kFilterInterface).storeResultsTo(found);
  EXPECT_FALSE(found);
  EXPECT_TRUE(front.transcript().empty());
  EXPECT_EQ(filter.GetType(), 2);
  stranger.Release(path, filter.server());
}

TEST_F(UiAgent, AHostThatDiesDuringADialogDoesNotHoldTheServer) {
  auto [child, said] = Fork(
      [](int ready) {
        // The dialog is shown to the parent and waits for an answer that never comes.
        int never[2];
        if (pipe(never) != 0) _exit(1);
        ui::TerminalUserInterface front(fdopen(never[0], "r"), fdopen(ready, "w"));
        Host host(front);
        host.session.filter().SetParent(static_cast<std::int32_t>(kHostWindow));
        host.session.filter().IsSystemFound();  // the location dialog never comes back
      },
      "=== Location of Messages ===");
  if (said.empty()) kill(child, SIGKILL);
  ASSERT_NE(said.find("=== Location of Messages ==="), std::string::npos) << said;
  std::optional<pid_t> server = Client().ServerProcess();
  ASSERT_TRUE(server);

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  // The server's wait for the dialog ends with the host; it cancels the dialog, releases the
  // host's object and, having no other, ends.
  EXPECT_TRUE(ProcessEnds(*server));
}

}  // namespace
}  // namespace kv::bus::testing
