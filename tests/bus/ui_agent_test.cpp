// A filter in the server whose dialogs are answered by the host's user-interface agent over a
// private session bus: who may call the agent, and when; the host's agent on its own. (The whole
// walk through the agent, dialogs and reports included: kvimport_server_test; a filter without an
// agent: filter_interface_test.)

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "bus/bus_names.h"
#include "bus/bus_test_support.h"
#include "bus/local_agent.h"
#include "bus/remote_filter.h"
#include "bus/ui_agent_bus.h"
#include "res/dialogs.h"

namespace kv::bus::testing {
namespace {

constexpr platform::WindowHandle kHostWindow = 1;
const std::string kOe4 = "KVFLTRS.OEIMPORTMSG";

// A host as kvimport --server is one: its own connection with the loop in a thread, an agent
// answering from a script, a filter object in the server.
class Host {
 public:
  Host() : connection_(sdbus::createSessionBusConnection()), agent_(ui_, kHostWindow) {
    connection_->enterEventLoopAsync();
    ui_.set_report_unanswered(false);
  }
  ~Host() {
    filter_.reset();
    agent_object_.reset();
    connection_->leaveEventLoop();
  }

  ui::ScriptedUserInterface& ui() { return ui_; }
  sdbus::IConnection& connection() { return *connection_; }

  RemoteImportFilter& Create() {
    RemoteImportFilter::Options options;
    options.agent = &agent_;
    options.diagnostics = &diagnostics_;
    options.code_page = &code_page_;
    filter_ = std::make_unique<RemoteImportFilter>(*connection_, kOe4, options);
    agent_object_ = std::make_unique<UiAgentObject>(*connection_, agent_);
    filter_->MapWindow(kHostWindow, agent_object_->RegisterWith(filter_->server()));
    return *filter_;
  }

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
  ui::ScriptedUserInterface ui_;
  LocalDialogAgent agent_;
  platform::IconvCodePage code_page_;
  platform::DiagnosticLog diagnostics_;
  std::unique_ptr<UiAgentObject> agent_object_;
  std::unique_ptr<RemoteImportFilter> filter_;
};

class UiAgent : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Register()); }
};

TEST_F(UiAgent, OnlyTheRegisteredServerMayCallTheAgentAndOnlyWhileTheHostWaits) {
  Host host;
  RemoteImportFilter& filter = host.Create();
  Client stranger;
  std::unique_ptr<sdbus::IProxy> agent =
      stranger.Object(UiAgentObject::kDefaultPath, host.connection().getUniqueName());
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
  EXPECT_TRUE(host.ui().transcript().empty());
  EXPECT_EQ(filter.GetType(), 2);
  stranger.Release(path, filter.server());
}

// A front that lets the parent know a dialog is up, then waits for ever.
class StuckFront final : public platform::UserInterface {
 public:
  explicit StuckFront(int ready) : ready_(ready) {}
  int MessageBox(platform::WindowHandle, const std::string&, const std::string&,
                 unsigned) override {
    return Stick();
  }
  std::optional<std::string> BrowseForFolder(platform::WindowHandle, const std::string&) override {
    Stick();
    return std::nullopt;
  }
  int RunModal(platform::WindowHandle, platform::Dialog&) override { return Stick(); }
  void ShowWaitCursor() override {}

 private:
  int Stick() {
    if (write(ready_, "x", 1) < 0) _exit(1);
    for (;;) pause();
  }
  int ready_;
};

TEST_F(UiAgent, AHostThatDiesDuringADialogDoesNotHoldTheServer) {
  auto [child, said] = Fork([](int ready) {
    auto connection = sdbus::createSessionBusConnection();
    connection->enterEventLoopAsync();
    StuckFront front(ready);
    LocalDialogAgent agent(front, kHostWindow);
    RemoteImportFilter::Options options;
    options.agent = &agent;
    RemoteImportFilter filter(*connection, kOe4, options);
    UiAgentObject agent_object(*connection, agent);
    filter.MapWindow(kHostWindow, agent_object.RegisterWith(filter.server()));
    filter.SetParent(static_cast<std::int32_t>(kHostWindow));
    filter.IsSystemFound();  // the location dialog never comes back
  });
  if (said.empty()) kill(child, SIGKILL);
  ASSERT_EQ(said, "x") << "the dialog did not reach the host";
  std::optional<pid_t> server = Client().ServerProcess();
  ASSERT_TRUE(server);

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  // The server's wait for the dialog ends with the host; it cancels the dialog, releases the
  // host's object and, having no other, ends.
  EXPECT_TRUE(WaitForProcessEnd(*server));
}

TEST(LocalAgent, AnswersOnTheCallingThreadOnlyWhileACallIsUnderWay) {
  ui::ScriptedUserInterface host_ui;
  host_ui.AnswerMessageBox(platform::kIdYes);
  LocalDialogAgent agent(host_ui, kHostWindow);
  EXPECT_EQ(agent.MessageBox("Text", "Caption", platform::kMbYesNo), std::nullopt);
  EXPECT_EQ(agent.OpenDialog(1, res::IDD_LOCATION, {}), std::nullopt);
  EXPECT_EQ(agent.UpdateDialog(1, {}), std::nullopt);
  agent.Post([] { ADD_FAILURE() << "work posted outside a call is dropped"; });
  EXPECT_TRUE(host_ui.transcript().empty());

  std::optional<int> answer;
  std::thread server;
  agent.CallServing([&](std::function<void()> finished) {
    server = std::thread([&, finished] {
      answer = agent.MessageBox("Text", "Caption", platform::kMbYesNo);
      finished();
    });
  });
  server.join();
  EXPECT_EQ(answer, platform::kIdYes);
  EXPECT_EQ(host_ui.transcript(), std::vector<std::string>{"message: Caption: Text"});
}

}  // namespace
}  // namespace kv::bus::testing
