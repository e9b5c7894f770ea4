// Dialogs of a filter in one process shown by a front in another: the server's
// RemoteUserInterface against a host agent that answers from a list, and the host's DialogMirror
// against a far controller that answers from a list.

#include "ui/remote_ui.h"

#include <gtest/gtest.h>

#include "common/location_dlg.h"
#include "platform/posix/iconv_code_page.h"
#include "res/dialogs.h"
#include "ui/recording_view.h"

namespace kv::ui {
namespace {

using platform::kIdCancel;
using platform::kIdNo;
using platform::kIdOk;
using platform::kIdYes;

constexpr platform::WindowHandle kAgentHandle = 42;

// A host agent that answers from a list, for what a well-behaved front never sends.
class ListAgent final : public DialogAgent {
 public:
  std::optional<int> MessageBox(const std::string& text, const std::string& caption,
                                unsigned /*style*/) override {
    calls.push_back("message " + caption + ": " + text);
    return button;
  }
  bool BrowseForFolder(const std::string& title, std::optional<std::string>& folder) override {
    calls.push_back("browse " + title);
    folder = browsed;
    return true;
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
    return answered < actions.size() ? actions[answered++] : std::nullopt;
  }

  std::optional<int> button;
  std::optional<std::string> browsed;
  std::vector<std::optional<DialogAction>> actions;
  std::size_t answered = 0;
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
  // A new front numbers its dialogs from 1 again.
  RemoteUserInterface NewFront() {
    return RemoteUserInterface(
        [this](platform::WindowHandle owner) { return owner == kAgentHandle ? &agent : nullptr; },
        code_page, [this](const std::string& line) { log.push_back(line); });
  }

  // The location dialog over a new front: its result and the folder it ends with.
  std::pair<int, std::string> Location(platform::WindowHandle owner, const std::string& proposal) {
    RemoteUserInterface front = NewFront();
    CLocationDlg dialog(front, owner);
    dialog.m_strPath = proposal;
    dialog.m_strBrowseTitle = "Where is the store?";
    int result = dialog.DoModal();
    return {result, dialog.m_strPath};
  }

  ListAgent agent;
  platform::IconvCodePage code_page;
  std::vector<std::string> log;
};

TEST_F(RemoteFront, WithoutAnAgentEverythingIsCancelledAndLoggedAtOnce) {
  RemoteUserInterface front = NewFront();
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
  const std::vector<std::string> cancelled = {"open 1 147", "close 1 end 2"};
  struct Case {
    std::string name, proposal;
    std::optional<DialogAction> action;
    std::vector<std::string> calls;
    bool logged;
  };
  const Case cases[] = {
      {"Continue pressed", "C:\\Mail", Press(kIdOk), {"open 1 147", "close 1 end 1"}, false},
      {"Cancel (Escape) is always at hand", "", Press(kIdCancel), cancelled, false},
      {"Continue is disabled without a location", "", Press(kIdOk), cancelled, true},
      {"a control the dialog has not", "C:\\Mail", Press(1002), cancelled, true},
      {"a tree the dialog has not", "C:\\Mail", unknown_item, cancelled, true},
      {"the agent stops answering", "C:\\Mail", std::nullopt, {"open 1 147"}, true},
  };
  for (const Case& c : cases) {
    agent.calls.clear();
    agent.actions = {c.action};
    agent.answered = 0;
    log.clear();
    EXPECT_EQ(Location(kAgentHandle, c.proposal).first, c.name == cases[0].name ? kIdOk : kIdCancel)
        << c.name;
    EXPECT_EQ(agent.calls, c.calls) << c.name;
    EXPECT_EQ(log.size(), c.logged ? 1u : 0u) << c.name;
  }
}

TEST_F(RemoteFront, TheDialogArrivesInUtf8AndBrowsingComesBackInTheCodePage) {
  agent.browsed = "/srv/Courrier reçu";
  agent.actions = {Press(res::IDC_BROWSE), Press(kIdOk)};
  EXPECT_EQ(Location(kAgentHandle, "C:\\Fr\xE9quent"),
            std::make_pair(int{kIdOk}, std::string("/srv/Courrier re\xE7u")));
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
  RemoteUserInterface front = NewFront();
  for (const auto& [style, answered, result] : cases) {
    agent.button = answered;
    EXPECT_EQ(front.MessageBox(kAgentHandle, "Text", "Caption", style), result)
        << style << " " << answered.value_or(-1);
  }
  EXPECT_EQ(log.size(), 3u) << "each answer the box could not give is logged";
}

// The host's mirror over a channel that answers from a list.
class ListChannel final : public DialogMirror::Channel {
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

ViewChange Change(ViewChange::Kind kind, int control, int value, platform::TreeItem item = 0,
                  platform::TreeItem parent = 0, const std::string& text = "") {
  ViewChange change;
  change.kind = kind;
  change.control = control;
  change.value = value;
  change.item = item;
  change.parent = parent;
  change.text = text;
  return change;
}

TEST(DialogMirror, ReplaysTheFarTreeAndSpeaksOfItsItemsInTheFarHandles) {
  // The far controller's handles are not the local ones: it had a tree before this one.
  constexpr auto kInsert = ViewChange::Kind::kInsertItem;
  constexpr int kTree = res::IDC_FOLDER_TREE;
  ListChannel channel;
  DialogMirror mirror(
      res::IDD_FOLDER_SELECT,
      {Change(kInsert, kTree, 0, 11, platform::kTreeRoot, "Outlook Express"),
       Change(kInsert, kTree, 0, 12, 11, "Inbox"), Change(kInsert, kTree, 0, 14, 12, "Old"),
       Change(kInsert, kTree, 0, 15, 77, "Orphan"),
       Change(ViewChange::Kind::kCheck, res::IDC_SKIP_EMPTY, 1)},
      channel);
  RecordingDialogView view(res::IDD_FOLDER_SELECT);
  mirror.OnInitDialog(view);
  EXPECT_EQ(view.DisplayOrder().size(), 3u) << "an item whose parent never came is not shown";
  platform::TreeItem old = view.FindItemByPath("Inbox/Old");
  ASSERT_NE(old, platform::kNoTreeItem);
  EXPECT_TRUE(view.Checked(res::IDC_SKIP_EMPTY));

  channel.replies = {{}, {Change(ViewChange::Kind::kEnd, 0, kIdOk)}};
  view.SelectTreeItem(old);
  mirror.OnTreeSelChanged(view, kTree, old);
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
  DialogMirror orphan(res::IDD_LOCATION, {}, channel);
  RecordingDialogView orphan_view(res::IDD_LOCATION);
  orphan.OnInitDialog(orphan_view);
  orphan.OnCommand(orphan_view, res::IDC_BROWSE);
  EXPECT_EQ(orphan_view.result(), kIdCancel);
}

}  // namespace
}  // namespace kv::ui
