// Dialogs of a filter in one process shown by a front in another, without the bus between them:
// the server's RemoteUserInterface talks straight to the host's LocalDialogAgent, the server's
// side running on a thread of its own as it would in its process.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "app/filter_classes.h"
#include "app/process_state.h"
#include "bus/bus_test_support.h"
#include "bus/local_agent.h"
#include "common/location_dlg.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "platform/registry.h"
#include "res/dialogs.h"
#include "ui/recording_view.h"
#include "ui/remote_ui.h"
#include "ui/scripted_ui.h"

namespace kv::bus {
namespace {

namespace fs = std::filesystem;

using platform::kIdCancel;
using platform::kIdNo;
using platform::kIdOk;
using platform::kIdYes;
using ui::DialogAction;
using ui::ViewChange;

constexpr platform::WindowHandle kHostWindow = 1;
constexpr platform::WindowHandle kAgentHandle = 42;

using testing::AnswerForSample;
using testing::Walk;

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

// A filter whose every call runs on a server thread while the host's thread serves the agent.
class FilterOnAnotherThread final : public ImportFilter {
 public:
  FilterOnAnotherThread(ImportFilter& filter, LocalDialogAgent& agent)
      : filter_(filter), agent_(agent) {}

  std::string GetName() override {
    return Run([&] { return filter_.GetName(); });
  }
  bool GoFirst() override {
    return Run([&] { return filter_.GoFirst(); });
  }
  bool GoNext() override {
    return Run([&] { return filter_.GoNext(); });
  }
  std::int32_t GetItemStatus() override {
    return Run([&] { return filter_.GetItemStatus(); });
  }
  AutomationString GetSubItem(std::int16_t code) override {
    return Run([&] { return filter_.GetSubItem(code); });
  }
  bool IsSystemFound() override {
    return Run([&] { return filter_.IsSystemFound(); });
  }
  std::int32_t GetItemExStatus() override {
    return Run([&] { return filter_.GetItemExStatus(); });
  }
  // The host's window becomes the agent's handle, as RemoteImportFilter does it.
  void SetParent(std::int32_t /*window*/) override {
    Run([&] {
      filter_.SetParent(static_cast<std::int32_t>(kAgentHandle));
      return 0;
    });
  }

 private:
  template <typename Call>
  auto Run(Call call) -> decltype(call()) {
    decltype(call()) result{};
    std::thread server;
    agent_.CallServing([&](std::function<void()> finished) {
      server = std::thread([&, finished] {
        result = call();
        finished();
      });
    });
    server.join();
    return result;
  }

  ImportFilter& filter_;
  LocalDialogAgent& agent_;
};

TEST(RemoteDialogs, AWalkThroughTheAgentSeesAndAnswersWhatAnInProcessWalkDoes) {
  ResetProcessState();
  ui::ScriptedUserInterface local_ui;
  AnswerForSample(local_ui);
  ServerServices local(local_ui);
  std::unique_ptr<ImportFilter> in_process = FindFilterClass("oe4")->create(local.services);
  std::vector<std::string> expected = Walk(*in_process);
  ASSERT_GT(expected.size(), 5u);
  ASSERT_EQ(expected.front(), "found 1");

  ResetProcessState();
  ui::ScriptedUserInterface host_ui;
  AnswerForSample(host_ui);
  LocalDialogAgent agent(host_ui, kHostWindow);
  std::vector<std::string> log;
  platform::IconvCodePage code_page;
  ui::RemoteUserInterface server_ui(
      [&](platform::WindowHandle owner) { return owner == kAgentHandle ? &agent : nullptr; },
      code_page, [&](const std::string& line) { log.push_back(line); });
  ServerServices server(server_ui);
  std::unique_ptr<ImportFilter> served = FindFilterClass("oe4")->create(server.services);
  FilterOnAnotherThread remote(*served, agent);

  EXPECT_EQ(Walk(remote), expected);
  // The person saw the same dialogs with the same texts and did the same.
  EXPECT_EQ(host_ui.transcript(), local_ui.transcript());
  EXPECT_TRUE(log.empty()) << log.front();
  ResetProcessState();
}

// A host agent that answers from a list, for what a well-behaved front never sends.
class ListAgent final : public ui::DialogAgent {
 public:
  std::optional<int> MessageBox(const std::string& text, const std::string& caption,
                                unsigned /*style*/) override {
    calls.push_back("message " + caption + ": " + text);
    return button;
  }
  bool BrowseForFolder(const std::string& title, std::optional<std::string>& folder) override {
    calls.push_back("browse " + title);
    folder = browsed;
    return reachable;
  }
  std::optional<DialogAction> OpenDialog(std::uint32_t dialog, int template_id,
                                         const std::vector<ViewChange>& changes) override {
    calls.push_back("open " + std::to_string(dialog) + " " + std::to_string(template_id));
    opening = changes;
    return Next();
  }
  std::optional<DialogAction> UpdateDialog(std::uint32_t dialog,
                                           const std::vector<ViewChange>& changes) override {
    calls.push_back("update " + std::to_string(dialog) + " " + std::to_string(changes.size()));
    return Next();
  }
  void CloseDialog(std::uint32_t dialog, const std::vector<ViewChange>& changes) override {
    calls.push_back("close " + std::to_string(dialog) + " end " +
                    (changes.empty() ? "-" : std::to_string(changes.back().value)));
  }
  void ShowWaitCursor() override { calls.push_back("wait cursor"); }

  std::optional<DialogAction> Next() {
    if (actions.empty()) return std::nullopt;
    std::optional<DialogAction> next = actions.front();
    actions.erase(actions.begin());
    return next;
  }

  std::optional<int> button;
  bool reachable = true;
  std::optional<std::string> browsed;
  std::vector<std::optional<DialogAction>> actions;
  std::vector<ViewChange> opening;
  std::vector<std::string> calls;
};

DialogAction Press(int control) {
  DialogAction action;
  action.control = control;
  return action;
}

class RemoteFront : public ::testing::Test {
 protected:
  RemoteFront() : front(NewFront()) {}

  ui::RemoteUserInterface NewFront() {
    return ui::RemoteUserInterface(
        [this](platform::WindowHandle owner) { return owner == kAgentHandle ? &agent : nullptr; },
        code_page, [this](const std::string& line) { log.push_back(line); });
  }

  // The location dialog over `ui`: its result and the folder it ends with.
  std::pair<int, std::string> Location(platform::WindowHandle owner, const std::string& proposal) {
    return Location(front, owner, proposal);
  }
  std::pair<int, std::string> Location(ui::RemoteUserInterface& ui, platform::WindowHandle owner,
                                       const std::string& proposal) {
    CLocationDlg dialog(ui, owner);
    dialog.m_strPath = proposal;
    dialog.m_strBrowseTitle = "Where is the store?";
    int result = dialog.DoModal();
    return {result, dialog.m_strPath};
  }

  ListAgent agent;
  platform::IconvCodePage code_page;
  std::vector<std::string> log;
  ui::RemoteUserInterface front;
};

TEST_F(RemoteFront, WithoutAnAgentEverythingIsCancelledAndLoggedAtOnce) {
  EXPECT_EQ(Location(7, "C:\\Mail"), std::make_pair(int{kIdCancel}, std::string("C:\\Mail")));
  EXPECT_EQ(front.MessageBox(7, "Browse again?", "Import messages", platform::kMbYesNo), kIdNo);
  EXPECT_EQ(front.MessageBox(0, "Disk full", "Import messages", platform::kMbOkCancel), kIdCancel);
  EXPECT_EQ(front.BrowseForFolder(7, "Where?"), std::nullopt);
  front.ShowWaitCursor();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0],
            "dialog \"Location of Messages\" cancelled: no user-interface agent for window 7 "
            "(SetParent takes a handle from RegisterUiAgent)");
  EXPECT_NE(log[1].find("message box \"Import messages: Browse again?\" answered as closed"),
            std::string::npos);
  EXPECT_TRUE(agent.calls.empty());
}

TEST_F(RemoteFront, AnAnswerTheDialogCannotGiveCancelsIt) {
  DialogAction unknown_item;
  unknown_item.kind = DialogAction::Kind::kSelect;
  unknown_item.control = res::IDC_FOLDER_TREE;
  unknown_item.item = 99;
  struct Case {
    std::string name;
    std::string proposal;
    std::vector<std::optional<DialogAction>> actions;
    std::vector<std::string> calls;
    bool logged;
  };
  const Case cases[] = {
      {"Continue pressed", "C:\\Mail", {Press(kIdOk)}, {"open 1 147", "close 1 end 1"}, false},
      {"Cancel (Escape) is always at hand",
       "",
       {Press(kIdCancel)},
       {"open 1 147", "close 1 end 2"},
       false},
      {"Continue is disabled without a location",
       "",
       {Press(kIdOk)},
       {"open 1 147", "close 1 end 2"},
       true},
      {"a control the dialog has not",
       "C:\\Mail",
       {Press(1002)},
       {"open 1 147", "close 1 end 2"},
       true},
      {"a tree the dialog has not",
       "C:\\Mail",
       {unknown_item},
       {"open 1 147", "close 1 end 2"},
       true},
      {"the agent stops answering", "C:\\Mail", {std::nullopt}, {"open 1 147"}, true},
  };
  for (const Case& c : cases) {
    agent.calls.clear();
    agent.actions = c.actions;
    log.clear();
    ui::RemoteUserInterface fresh = NewFront();  // dialogs numbered from 1 again
    auto [result, folder] = Location(fresh, kAgentHandle, c.proposal);
    EXPECT_EQ(result, c.calls.size() > 1 && c.calls.back() == "close 1 end 1" ? kIdOk : kIdCancel)
        << c.name;
    EXPECT_EQ(agent.calls, c.calls) << c.name;
    EXPECT_EQ(log.size(), c.logged ? 1u : 0u) << c.name;
  }
}

TEST_F(RemoteFront, TheDialogArrivesInUtf8AndBrowsingComesBackInTheCodePage) {
  agent.browsed = "/srv/Courrier reçu";
  agent.actions = {Press(res::IDC_BROWSE), Press(kIdOk)};
  auto [result, folder] = Location(kAgentHandle, "C:\\Fr\xE9quent");
  EXPECT_EQ(result, kIdOk);
  EXPECT_EQ(folder, "/srv/Courrier re\xE7u");
  EXPECT_EQ(agent.calls, (std::vector<std::string>{"open 1 147", "browse Where is the store?",
                                                   "update 1 1", "close 1 end 1"}));
  bool shown = std::any_of(agent.opening.begin(), agent.opening.end(), [](const ViewChange& c) {
    return c.kind == ViewChange::Kind::kText && c.control == res::IDC_LOCATION &&
           c.text == "C:\\Fréquent";
  });
  EXPECT_TRUE(shown);
}

TEST_F(RemoteFront, AMessageBoxGivesTheAgentsButtonOnlyWhenTheBoxHasIt) {
  const std::tuple<unsigned, std::optional<int>, int> cases[] = {
      {platform::kMbYesNo, kIdYes, kIdYes},
      {platform::kMbYesNo, kIdNo, kIdNo},
      {platform::kMbYesNo, kIdOk, kIdNo},                // not a button of the box: closed
      {platform::kMbOk, kIdCancel, kIdOk},               // OK is the only way to close it
      {platform::kMbOkCancel, std::nullopt, kIdCancel},  // not answered: closed
  };
  for (const auto& [style, answered, result] : cases) {
    agent.button = answered;
    EXPECT_EQ(front.MessageBox(kAgentHandle, "Text", "Caption", style), result)
        << style << " " << answered.value_or(-1);
  }
  EXPECT_EQ(log.size(), 3u) << "each answer the box could not give is logged";
}

// The host's mirror over a channel that answers from a list.
class ListChannel final : public ui::DialogMirror::Channel {
 public:
  std::optional<std::vector<ViewChange>> Exchange(const DialogAction& action) override {
    sent.push_back(action);
    if (replies.empty()) return std::nullopt;
    std::vector<ViewChange> reply = replies.front();
    replies.erase(replies.begin());
    return reply;
  }
  std::vector<DialogAction> sent;
  std::vector<std::vector<ViewChange>> replies;
};

ViewChange Insert(platform::TreeItem item, platform::TreeItem parent, const std::string& label) {
  ViewChange change;
  change.kind = ViewChange::Kind::kInsertItem;
  change.control = res::IDC_FOLDER_TREE;
  change.item = item;
  change.parent = parent;
  change.text = label;
  return change;
}

TEST(DialogMirror, ReplaysTheFarTreeAndSpeaksOfItsItemsInTheFarHandles) {
  ListChannel channel;
  // The far controller's handles are not the local ones: it had a tree before this one.
  std::vector<ViewChange> opening = {Insert(11, platform::kTreeRoot, "Outlook Express"),
                                     Insert(12, 11, "Inbox"), Insert(14, 12, "Old"),
                                     Insert(15, 77, "Orphan")};
  ViewChange check;
  check.kind = ViewChange::Kind::kCheck;
  check.control = res::IDC_SKIP_EMPTY;
  check.value = 1;
  opening.push_back(check);
  ui::DialogMirror mirror(res::IDD_FOLDER_SELECT, opening, channel);
  ui::RecordingDialogView view(res::IDD_FOLDER_SELECT);
  mirror.OnInitDialog(view);
  EXPECT_EQ(view.DisplayOrder().size(), 3u) << "an item whose parent never came is not shown";
  platform::TreeItem old = view.FindItemByPath("Inbox/Old");
  ASSERT_NE(old, platform::kNoTreeItem);
  EXPECT_TRUE(view.Checked(res::IDC_SKIP_EMPTY));

  ViewChange end;
  end.kind = ViewChange::Kind::kEnd;
  end.value = kIdOk;
  channel.replies = {{}, {end}};
  view.SelectTreeItem(old);
  mirror.OnTreeSelChanged(view, res::IDC_FOLDER_TREE, old);
  view.SetCheck(res::IDC_SKIP_EMPTY, false);  // the person unticks the box: no event
  mirror.OnCommand(view, kIdOk);
  ASSERT_EQ(channel.sent.size(), 2u);
  EXPECT_EQ(channel.sent[0].kind, DialogAction::Kind::kSelect);
  EXPECT_EQ(channel.sent[0].item, 14u);
  EXPECT_EQ(channel.sent[1].checks,
            (std::vector<std::pair<int, bool>>{{res::IDC_SKIP_EMPTY, false}}));
  EXPECT_TRUE(mirror.ended());
  EXPECT_EQ(view.result(), kIdOk);

  // Once the far side is gone, the dialog is cancelled here.
  ui::DialogMirror orphan(res::IDD_LOCATION, {}, channel);
  ui::RecordingDialogView orphan_view(res::IDD_LOCATION);
  orphan.OnInitDialog(orphan_view);
  orphan.OnCommand(orphan_view, res::IDC_BROWSE);
  EXPECT_EQ(orphan_view.result(), kIdCancel);
}

TEST(LocalAgent, RefusesAtOnceWhenNoCallIsUnderWay) {
  ui::ScriptedUserInterface host_ui;
  host_ui.AnswerMessageBox(kIdYes);
  LocalDialogAgent agent(host_ui, kHostWindow);
  EXPECT_EQ(agent.MessageBox("Text", "Caption", platform::kMbYesNo), std::nullopt);
  EXPECT_EQ(agent.OpenDialog(1, res::IDD_LOCATION, {}), std::nullopt);
  EXPECT_EQ(agent.UpdateDialog(1, {}), std::nullopt);
  EXPECT_TRUE(host_ui.transcript().empty());

  // During a call the same question is answered, on the calling thread.
  std::optional<int> answer;
  std::thread::id asked_on;
  agent.Post([] {});  // dropped: no call
  std::thread server;
  agent.CallServing([&](std::function<void()> finished) {
    server = std::thread([&, finished] {
      answer = agent.MessageBox("Text", "Caption", platform::kMbYesNo);
      finished();
    });
  });
  asked_on = std::this_thread::get_id();
  server.join();
  EXPECT_EQ(answer, kIdYes);
  EXPECT_EQ(host_ui.transcript(), std::vector<std::string>{"message: Caption: Text"});
  EXPECT_EQ(asked_on, std::this_thread::get_id());
}

}  // namespace
}  // namespace kv::bus
