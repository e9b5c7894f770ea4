// Dialogs of a filter in one process shown by a front in another: the server's
// RemoteUserInterface against a host agent that answers from a list, and the host's DialogMirror
// against a far controller that answers from a list.

#include "ui/remote_ui.h"

#include <gtest/gtest.h>

#include "common/location_dlg.h"
#include "platform/posix/iconv_code_page.h"
#include "res/dialogs.h"
#include "support/golden.h"
#include "ui/recording_view.h"

namespace kv::ui {
namespace {

using platform::kIdCancel;
using platform::kIdNo;
using platform::kIdOk;
using platform::kIdYes;

constexpr platform::WindowHandle kAgentHandle = 42;

// The changes of one call, one to a line: kind, control, then the text of a text change and the
// value of any other.
std::string Shown(const std::vector<ViewChange>& changes) {
  std::string text;
  for (const ViewChange& c : changes) {
    text += "\n    " + std::string(ChangeKindName(c.kind)) + " " + std::to_string(c.control) +
            (c.kind == ViewChange::Kind::kText ? " \"" + c.text + "\""
                                               : " =" + std::to_string(c.value));
  }
  return text;
}

// A host agent that answers from a list (also what a well-behaved front never sends) and writes
// every call it gets into `transcript`.
class ListAgent final : public DialogAgent {
 public:
  std::optional<int> MessageBox(const std::string& text, const std::string& caption,
                                unsigned style) override {
    transcript += "  agent: message " + std::to_string(style) + " " + caption + ": " + text + "\n";
    return button;
  }
  bool BrowseForFolder(const std::string& title, std::optional<std::string>& folder) override {
    transcript += "  agent: browse " + title + "\n";
    folder = browsed;
    return true;
  }
  std::optional<DialogAction> OpenDialog(std::uint32_t dialog, int template_id,
                                         const std::vector<ViewChange>& changes) override {
    transcript += "  agent: open " + std::to_string(dialog) + " template " +
                  std::to_string(template_id) + Shown(changes) + "\n";
    return Next();
  }
  std::optional<DialogAction> UpdateDialog(std::uint32_t dialog,
                                           const std::vector<ViewChange>& changes) override {
    transcript += "  agent: update " + std::to_string(dialog) + Shown(changes) + "\n";
    return Next();
  }
  void CloseDialog(std::uint32_t dialog, const std::vector<ViewChange>& changes) override {
    transcript += "  agent: close " + std::to_string(dialog) + Shown(changes) + "\n";
  }
  void ShowWaitCursor() override { transcript += "  agent: wait cursor\n"; }

  std::optional<DialogAction> Next() {
    return answered < actions.size() ? actions[answered++] : std::nullopt;
  }

  std::optional<int> button;
  std::optional<std::string> browsed;
  std::vector<std::optional<DialogAction>> actions;
  std::size_t answered = 0;
  std::string transcript;
};

DialogAction Press(int control) {
  DialogAction action;
  action.control = control;
  return action;
}

// Each case runs the location dialog over a new front (which numbers its dialogs from 1 again) and
// the transcript shows what the agent was sent (in UTF-8), what the front logged and how the
// dialog ended: its result and its path, which comes back in the code page and is shown in UTF-8.
TEST(RemoteFront, TheLocationDialogAndItsAnswersGoToTheAgent) {
  DialogAction unknown_item;
  unknown_item.kind = DialogAction::Kind::kSelect;
  unknown_item.control = res::IDC_FOLDER_TREE;
  unknown_item.item = 99;
  struct Case {
    std::string name;
    platform::WindowHandle owner;
    std::string proposal;  // in the store's code page
    std::vector<std::optional<DialogAction>> actions;
  };
  const Case cases[] = {
      {"no agent for the window: cancelled at once", 7, "C:\\Mail", {}},
      {"Continue pressed", kAgentHandle, "C:\\Fr\xE9quent", {Press(kIdOk)}},
      {"browsed, then Continue",
       kAgentHandle,
       "C:\\Fr\xE9quent",
       {Press(res::IDC_BROWSE), Press(kIdOk)}},
      {"Cancel (Escape) is always at hand", kAgentHandle, "", {Press(kIdCancel)}},
      {"Continue is disabled without a location", kAgentHandle, "", {Press(kIdOk)}},
      {"a control the dialog has not", kAgentHandle, "C:\\Mail", {Press(1002)}},
      {"a tree the dialog has not", kAgentHandle, "C:\\Mail", {unknown_item}},
      {"the agent stops answering", kAgentHandle, "C:\\Mail", {std::nullopt}},
  };
  platform::IconvCodePage code_page;
  std::string transcript;
  for (const Case& c : cases) {
    ListAgent agent;
    agent.browsed = "/srv/Courrier reçu";  // comes back in the code page
    agent.actions = c.actions;
    RemoteUserInterface front(
        [&](platform::WindowHandle owner) { return owner == kAgentHandle ? &agent : nullptr; },
        code_page, [&](const std::string& line) { agent.transcript += "  log: " + line + "\n"; });
    CLocationDlg dialog(front, c.owner);
    dialog.m_strPath = c.proposal;
    dialog.m_strBrowseTitle = "Where is the store?";
    const int result = dialog.DoModal();
    transcript += "== " + c.name + "\n" + agent.transcript + "  result " + std::to_string(result) +
                  " path \"" + code_page.ToUtf8(dialog.m_strPath) + "\"\n";
  }
  kv::testing::ExpectGolden(transcript, "ui/remote_front_location.txt");
}

TEST(RemoteFront, MessageBoxesBrowsingAndTheWaitCursorWithAndWithoutAnAgent) {
  platform::IconvCodePage code_page;
  ListAgent agent;
  RemoteUserInterface front(
      [&](platform::WindowHandle owner) { return owner == kAgentHandle ? &agent : nullptr; },
      code_page, [&](const std::string& line) { agent.transcript += "  log: " + line + "\n"; });
  // Style, the agent's button, the box's result: the agent's button only when the box has it.
  const std::tuple<unsigned, std::optional<int>, int> boxes[] = {
      {platform::kMbYesNo, kIdYes, kIdYes},
      {platform::kMbYesNo, kIdNo, kIdNo},
      {platform::kMbYesNo, kIdOk, kIdNo},                // not a button of the box: closed
      {platform::kMbOk, kIdCancel, kIdOk},               // OK is the only way to close it
      {platform::kMbOkCancel, std::nullopt, kIdCancel},  // not answered: closed
  };
  for (const auto& [style, answered, result] : boxes) {
    agent.button = answered;
    EXPECT_EQ(front.MessageBox(kAgentHandle, "Text", "Caption", style), result)
        << style << " " << answered.value_or(-1);
  }
  agent.browsed = "/srv/Courrier reçu";
  EXPECT_EQ(front.BrowseForFolder(kAgentHandle, "Where?"), "/srv/Courrier re\xE7u");
  front.ShowWaitCursor();
  // Without an agent for the window: closed, cancelled, nothing, each logged.
  EXPECT_EQ(front.MessageBox(7, "Browse again?", "Import messages", platform::kMbYesNo), kIdNo);
  EXPECT_EQ(front.MessageBox(0, "Disk full", "Import messages", platform::kMbOkCancel), kIdCancel);
  EXPECT_EQ(front.BrowseForFolder(7, "Where?"), std::nullopt);
  front.ShowWaitCursor();  // to the last owner's agent: none
  kv::testing::ExpectGolden(agent.transcript, "ui/remote_front_boxes.txt");
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
