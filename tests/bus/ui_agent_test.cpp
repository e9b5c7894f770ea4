// A filter in the server whose dialogs are answered by the host's user-interface agent, and whose
// reports reach the host, over a private session bus.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/filter_classes.h"
#include "app/process_state.h"
#include "bus/bus_names.h"
#include "bus/bus_test_support.h"
#include "bus/local_agent.h"
#include "bus/remote_filter.h"
#include "bus/ui_agent_bus.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace kv::bus::testing {
namespace {

namespace fs = std::filesystem;

constexpr platform::WindowHandle kHostWindow = 1;

// The walk of a store in this process, as the reference: its answers, the host's transcript and
// the filter's reports.
struct InProcessWalk {
  std::vector<std::string> seen;
  std::vector<std::string> transcript;
  std::vector<std::string> reports;
};

std::vector<std::string> Reports(const platform::DiagnosticLog& log) {
  std::vector<std::string> lines;
  for (const platform::Diagnostic& entry : log.entries()) {
    lines.push_back(platform::FormatDiagnostic(entry) +
                    (entry.kind == platform::DiagnosticKind::kOutputFailure ? " (output)" : ""));
  }
  return lines;
}

InProcessWalk WalkInProcess(const std::string& prog_id, const std::string& store) {
  ResetProcessState();
  ui::ScriptedUserInterface ui;
  AnswerForSample(ui, store);
  platform::IconvCodePage code_page;
  platform::PosixFileSystem files;
  platform::PosixTempFiles temp;
  platform::PosixEnvironment environment;
  platform::MemoryRegistry registry;
  platform::DiagnosticLog diagnostics;
  platform::Services services{registry, files, temp, environment, code_page, ui, diagnostics};
  std::unique_ptr<ImportFilter> filter = FindFilterClass(prog_id)->create(services);
  InProcessWalk walk;
  walk.seen = Walk(*filter, kHostWindow);
  walk.transcript = ui.transcript();
  walk.reports = Reports(diagnostics);
  return walk;
}

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
  platform::DiagnosticLog& diagnostics() { return diagnostics_; }

  RemoteImportFilter& Create(bool with_agent, const std::string& prog_id = "KVFLTRS.OEIMPORTMSG") {
    RemoteImportFilter::Options options;
    if (with_agent) options.agent = &agent_;
    options.diagnostics = &diagnostics_;
    options.code_page = &code_page_;
    filter_ = std::make_unique<RemoteImportFilter>(*connection_, prog_id, options);
    if (with_agent) {
      agent_object_ = std::make_unique<UiAgentObject>(*connection_, agent_);
      filter_->MapWindow(kHostWindow, agent_object_->RegisterWith(filter_->server()));
    }
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
  void SetUp() override { ASSERT_EQ(RunProgram({KvfltrsPath()}).status, 0); }
};

// The bundled sample stores, each walked by its filter.
struct SampleCase {
  std::string prog_id;
  std::string folder;
};
const SampleCase kSamples[] = {{"KVFLTRS.OEIMPORTMSG", "oe4"}, {"KVFLTRS.OE5IMPORTMSG", "oe5"}};

std::string Sample(const SampleCase& sample) {
  return std::string(KV_SOURCE_DIR) + "/samples/" + sample.folder;
}

TEST_F(UiAgent, TheHostAnswersTheDialogsAndTheWalkIsTheInProcessOne) {
  for (const SampleCase& sample : kSamples) {
    InProcessWalk expected = WalkInProcess(sample.prog_id, Sample(sample));
    ASSERT_EQ(expected.seen.front(), "found 1") << sample.folder;
    ASSERT_GT(expected.seen.size(), 5u) << sample.folder;

    Host host;
    AnswerForSample(host.ui(), Sample(sample));
    RemoteImportFilter& filter = host.Create(true, sample.prog_id);
    EXPECT_EQ(Walk(filter, kHostWindow), expected.seen) << sample.folder;
    EXPECT_EQ(host.ui().transcript(), expected.transcript) << sample.folder;
    EXPECT_EQ(Reports(host.diagnostics()), expected.reports) << sample.folder;
    EXPECT_EQ(filter.failure(), std::nullopt) << sample.folder;
  }
}

TEST_F(UiAgent, WhatTheFilterLeavesOutIsReportedToTheHostInOrder) {
  // A copy of the Outlook Express 5 sample with two folder files cut short and one missing.
  kv::testing::TempDir store;
  fs::copy(Sample(kSamples[1]), store.path(), fs::copy_options::recursive);
  fs::resize_file(store.path() / "Inbox.dbx", fs::file_size(store.path() / "Inbox.dbx") / 2);
  fs::resize_file(store.path() / "Projects.dbx", 0x200);
  fs::remove(store.path() / "Drafts.dbx");
  InProcessWalk expected = WalkInProcess("KVFLTRS.OE5IMPORTMSG", store.path().string());
  ASSERT_GE(expected.reports.size(), 2u);

  Host host;
  AnswerForSample(host.ui(), store.path().string());
  RemoteImportFilter& filter = host.Create(true, "KVFLTRS.OE5IMPORTMSG");
  EXPECT_EQ(Walk(filter, kHostWindow), expected.seen);
  EXPECT_EQ(Reports(host.diagnostics()), expected.reports);
}

TEST_F(UiAgent, WithoutAnAgentADialogIsCancelledAndNothingWaits) {
  Host host;
  AnswerForSample(host.ui());
  RemoteImportFilter& filter = host.Create(false);
  filter.SetParent(static_cast<std::int32_t>(kHostWindow));  // no agent has this handle
  EXPECT_FALSE(filter.IsSystemFound());
  EXPECT_FALSE(filter.GoFirst());
  EXPECT_TRUE(host.ui().transcript().empty()) << "nothing reached the host";
  EXPECT_EQ(filter.failure(), std::nullopt);
}

TEST_F(UiAgent, OnlyTheServerTheAgentWasRegisteredWithMayCallIt) {
  Host host;
  RemoteImportFilter& filter = host.Create(true);
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
  EXPECT_TRUE(host.ui().transcript().empty());
  EXPECT_EQ(filter.GetType(), 2);
}

TEST_F(UiAgent, AnAgentNobodyWaitsOnIsNotCalledIntoWaiting) {
  // Registered, but the host makes no call: the server's own call (from a stranger's object with
  // the host's handle) is refused at once instead of waiting for the host's next call.
  Host host;
  RemoteImportFilter& filter = host.Create(true);
  Client other;
  std::string path = other.CreateInstance("KVFLTRS.OEIMPORTMSG");
  std::unique_ptr<sdbus::IProxy> object = other.Object(path, filter.server());
  // The host's handle was the first one given out.
  object->callMethod("SetParent").onInterface(kFilterInterface).withArguments(std::int32_t{1});
  bool found = true;
  object->callMethod("IsSystemFound").onInterface(kFilterInterface).storeResultsTo(found);
  EXPECT_FALSE(found);
  EXPECT_TRUE(host.ui().transcript().empty());
  other.Release(path, filter.server());
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
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe_ends[0]);
    auto connection = sdbus::createSessionBusConnection();
    connection->enterEventLoopAsync();
    StuckFront front(pipe_ends[1]);
    LocalDialogAgent agent(front, kHostWindow);
    RemoteImportFilter::Options options;
    options.agent = &agent;
    RemoteImportFilter filter(*connection, "KVFLTRS.OEIMPORTMSG", options);
    UiAgentObject agent_object(*connection, agent);
    filter.MapWindow(kHostWindow, agent_object.RegisterWith(filter.server()));
    filter.SetParent(static_cast<std::int32_t>(kHostWindow));
    filter.IsSystemFound();  // the location dialog never comes back
    _exit(0);
  }
  close(pipe_ends[1]);
  pollfd readable{pipe_ends[0], POLLIN, 0};
  char ready = 0;
  bool reached = poll(&readable, 1, 20000) == 1 && read(pipe_ends[0], &ready, 1) == 1;
  close(pipe_ends[0]);
  if (!reached) kill(child, SIGKILL);
  ASSERT_TRUE(reached) << "the dialog did not reach the host";
  Client client;
  std::optional<pid_t> server = client.ProcessOf(client.NameOwner(kServiceName));
  ASSERT_TRUE(server);

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  // The server's wait for the dialog ends with the host; it cancels the dialog, releases the
  // host's object and, having no other, ends.
  EXPECT_TRUE(WaitForProcessEnd(*server));
}

}  // namespace
}  // namespace kv::bus::testing
