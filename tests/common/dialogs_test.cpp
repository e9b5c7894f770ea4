// The location dialog and the two folder selection dialogs, driven through a recording view (to
// look at what the controller did to the controls) and through the scripted front (as the filters
// run them).

#include "res/dialogs.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/process_state.h"
#include "common/folder_select_dlg.h"
#include "common/location_dlg.h"
#include "res/strings.h"
#include "support/golden.h"
#include "ui/recording_view.h"
#include "ui/scripted_ui.h"

namespace kv {
namespace {

using platform::kIdCancel;
using platform::kIdOk;
using platform::TreeItem;
using ui::RecordingDialogView;
using ui::ScriptedUserInterface;
using Lines = std::vector<std::string>;

// The dialog as text for a golden file: each control with an ID (its text, "off" when disabled,
// "[x]" when checked, "<focus"), the tree in display order (label, data, item mask, images, "+"
// when expanded) and the result once ended.
std::string Screen(const RecordingDialogView& view) {
  std::string text;
  for (const res::DialogControl& control : view.dialog_template()->controls) {
    if (control.id < 0) continue;
    text += std::to_string(control.id) + " \"" + view.ControlText(control.id) + "\"";
    text += std::string(view.IsEnabled(control.id) ? "" : " off") +
            (view.Checked(control.id) ? " [x]" : "") +
            (view.focus() == control.id ? " <focus" : "");
    text += "\n";
  }
  for (const auto& [handle, depth] : view.DisplayOrder()) {
    const auto* item = view.FindItem(handle);
    text += std::string(2 * depth + 2, ' ') + item->label + " " + std::to_string(item->data) +
            " mask " + std::to_string(item->mask) + " images " + std::to_string(item->image) + "/" +
            std::to_string(item->selected_image) + (item->expanded ? " +" : "") + "\n";
  }
  if (view.result()) text += "ended " + std::to_string(*view.result()) + "\n";
  return text;
}

// Location dialog ---------------------------------------------------------------------------

struct LocationFixture : ::testing::Test {
  LocationFixture() { ui.set_report_unanswered(false); }
  // The screen after `what` happened, and the scripted front's lines since the last step.
  void Step(const std::string& what) {
    text += "# " + what + "\n" + Screen(view);
    for (; shown < ui.transcript().size(); ++shown) text += "ui: " + ui.transcript()[shown] + "\n";
  }
  ScriptedUserInterface ui;
  CLocationDlg dlg{ui, 7};
  RecordingDialogView view{res::IDD_LOCATION};
  std::string text;
  std::size_t shown = 0;
};

// With no proposal the prompt asks to choose and Continue stays off until a folder is browsed to;
// the prompt keeps telling what the filter found by itself. (The scripted front accepting a
// proposal, or cancelling where there is none: old_disk_test's detect and list runs.)
TEST_F(LocationFixture, EmptyProposalAsksToChooseAndKeepsContinueOffUntilBrowsed) {
  EXPECT_TRUE(dlg.OnInitDialog(view));
  Step("opened with no proposal");
  ui.AnswerBrowse("/mail/store");
  dlg.OnCommand(view, res::IDC_BROWSE);
  dlg.OnIdleUpdate(view);
  Step("browsed to /mail/store");
  dlg.OnCommand(view, kIdOk);
  Step("Continue");
  EXPECT_EQ(dlg.m_strPath, "/mail/store");
  kv::testing::ExpectGolden(text, "common/location-empty.txt");
}

// A proposal is shown and kept when browsing is cancelled or the dialog is.
TEST_F(LocationFixture, ProposalIsShownAndKeptWhenBrowseOrTheDialogIsCancelled) {
  dlg.m_strPath = "/proposed";
  dlg.m_strBrowseTitle = "Please select location for Outlook Express 4";
  dlg.OnInitDialog(view);
  Step("opened with /proposed");
  ui.AnswerBrowse("/elsewhere");
  dlg.OnBrowse(view);
  ui.AnswerBrowse(std::nullopt);
  dlg.OnBrowse(view);
  Step("browsed to /elsewhere, then browsing cancelled");
  dlg.OnCommand(view, kIdCancel);
  Step("Cancel");
  EXPECT_EQ(dlg.m_strPath, "/proposed");
  kv::testing::ExpectGolden(text, "common/location-proposed.txt");
}

// Finding a store with the user -------------------------------------------------------------

// Answers the location dialog and the question from one script ("yes", "no", "cancel" or the
// folder to continue with) and logs each dialog (with the folder it proposed) and each question;
// checks owner, browse title, text and buttons.
class StoreSearchUser final : public platform::UserInterface {
 public:
  static constexpr platform::WindowHandle kOwner = 0x55;
  explicit StoreSearchUser(const Lines& script) : script_(script.begin(), script.end()) {}
  Lines log;
  bool Done() const { return script_.empty(); }

  int MessageBox(platform::WindowHandle owner, const std::string& text, const std::string& caption,
                 unsigned style) override {
    EXPECT_TRUE(owner == kOwner && text == res::LoadString(res::IDS_STORE_NOT_FOUND_BROWSE_AGAIN) &&
                caption == res::LoadString(res::IDS_APP_TITLE) &&
                style == (platform::kMbYesNo | platform::kMbIconQuestion));
    log.push_back("ask");
    const std::string answer = Next();
    EXPECT_TRUE(answer == "yes" || answer == "no") << answer;
    return answer == "yes" ? platform::kIdYes : platform::kIdNo;
  }
  std::optional<std::string> BrowseForFolder(platform::WindowHandle, const std::string&) override {
    return std::nullopt;  // the dialog's own, never called by the search
  }
  int RunModal(platform::WindowHandle owner, platform::Dialog& dialog) override {
    EXPECT_EQ(owner, kOwner);
    auto& location = dynamic_cast<CLocationDlg&>(dialog);
    EXPECT_EQ(location.m_strBrowseTitle, res::LoadString(res::IDS_OE5_BROWSE_TITLE));
    log.push_back("dialog " + location.m_strPath);
    const std::string answer = Next();
    EXPECT_TRUE(answer != "yes" && answer != "no") << answer;
    if (answer == "cancel") return kIdCancel;
    location.m_strPath = answer;
    return kIdOk;
  }
  void ShowWaitCursor() override {}

 private:
  std::string Next() {
    if (script_.empty()) return "cancel";
    std::string answer = script_.front();
    script_.pop_front();
    return answer;
  }
  std::deque<std::string> script_;
};

// The discovered folder is tried first; the dialog asks only while there is no folder (again when
// Continue gives an empty one); a folder without a store brings the question, whose Yes proposes
// that folder again. Cancel, No or a cancel inside the load give up.
TEST(FindStoreWithUser, DialogQuestionAndLoadsInOrder) {
  const struct {
    std::string discovered;
    Lines script, log;  // the search ends with "/good" when its last load is of "/good"
  } cases[] = {
      {"/good", {}, {"load /good"}},
      {"", {"/good"}, {"dialog ", "load /good"}},
      {"", {"cancel"}, {"dialog "}},
      {"", {"", "/good"}, {"dialog ", "dialog ", "load /good"}},
      {"/bad", {"yes", "/good"}, {"load /bad", "ask", "dialog /bad", "load /good"}},
      {"/bad", {"no"}, {"load /bad", "ask"}},
      {"/bad", {"yes", "cancel"}, {"load /bad", "ask", "dialog /bad"}},
      {"",
       {"/bad", "yes", "/bad", "no"},
       {"dialog ", "load /bad", "ask", "dialog /bad", "load /bad", "ask"}},
      {"", {"/cancel"}, {"dialog ", "load /cancel"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.script));
    StoreSearchUser user(c.script);
    const auto result =
        FindStoreWithUser(user, StoreSearchUser::kOwner, res::IDS_OE5_BROWSE_TITLE, c.discovered,
                          [&](const std::string& path) {
                            user.log.push_back("load " + path);
                            if (path == "/good") return StoreLoad::kLoaded;
                            return path == "/cancel" ? StoreLoad::kCancelled : StoreLoad::kNotFound;
                          });
    EXPECT_EQ(user.log, c.log);
    EXPECT_EQ(result,
              c.log.back() == "load /good" ? std::optional<std::string>("/good") : std::nullopt);
    EXPECT_TRUE(user.Done()) << "answers left unused";
  }
}

// Folder selection from display paths ---------------------------------------------------

struct FolderFixture : ::testing::Test {
  ScriptedUserInterface ui;
  RecordingDialogView view{res::IDD_FOLDER_SELECT};
};

// Paths outside the root or differing in case are left out; a path listed before its parent goes
// below the first prefix. The tree items carry their images unless the view has none.
TEST_F(FolderFixture, PrefixTreePutsEachPathBelowItsParent) {
  const std::vector<std::string> paths{"R/A", "R/A/x", "R/A.old", "Other/B", "r/a"};
  CFolderSelectDlg dlg(ui, 7, paths);
  dlg.m_strRoot = "R";
  dlg.m_bSkipEmpty = 1;
  EXPECT_TRUE(dlg.OnInitDialog(view));
  std::string text = Screen(view);
  RecordingDialogView plain{res::IDD_FOLDER_SELECT};
  plain.set_images_available(false);
  dlg.OnInitDialog(plain);
  text += "# without images\n" + Screen(plain);
  const std::vector<std::string> out_of_order{"R/A/x", "R/A"};
  CFolderSelectDlg second(ui, 7, out_of_order);
  second.m_strRoot = "R";
  RecordingDialogView view2{res::IDD_FOLDER_SELECT};
  second.OnInitDialog(view2);
  text += "# parent listed after its child\n" + Screen(view2);
  kv::testing::ExpectGolden(text, "common/folder-select-prefix-tree.txt");
}

// Outlook Express 4 folder selection --------------------------------------------------------

// Records with the given names and parent indices, and the child lists derived from them.
void FillTable(COEFolderSelectDlg& dlg, const std::vector<std::pair<std::string, int>>& records) {
  dlg.m_pFolders.clear();
  dlg.m_pChildren.assign(records.size(), {});
  for (std::size_t i = 0; i < records.size(); ++i) {
    OeFolderRecord record;
    record.id = static_cast<std::uint32_t>(100 + i);
    record.parentIndex = records[i].second;
    record.name = records[i].first;
    record.mailboxName = "mbx_" + records[i].first;
    record.displayPath = records[i].first;
    dlg.m_pFolders.push_back(record);
    if (records[i].second >= 0) dlg.m_pChildren[records[i].second].push_back(static_cast<int>(i));
  }
  dlg.m_nFolders = static_cast<int>(records.size());
}

// What the dialog left of the table, for a golden file: the result, g_bReportEmptyFolders (7
// before), the count and each record kept (number, name, parent index, mailbox).
std::string Kept(const COEFolderSelectDlg& dlg, int result) {
  std::string text = "ended " + std::to_string(result) + ", report empty " +
                     std::to_string(g_bReportEmptyFolders) + ", " + std::to_string(dlg.m_nFolders) +
                     " kept\n";
  for (const OeFolderRecord& record : dlg.m_pFolders) {
    text += "  " + std::to_string(record.id) + " " + record.name + " parent " +
            std::to_string(record.parentIndex) + " " + record.mailboxName + "\n";
  }
  return text;
}

struct OeFolderFixture : ::testing::Test {
  OeFolderFixture() {
    // Inbox has two levels below it; Deep comes before its parent Sub in the table.
    FillTable(dlg, {{"Inbox", -1}, {"Deep", 2}, {"Sub", 0}, {"Outbox", -1}, {"Sub2", 0}});
    g_bReportEmptyFolders = 7;
  }
  ScriptedUserInterface ui;
  COEFolderSelectDlg dlg{ui, 7};
  RecordingDialogView view{res::IDD_FOLDER_SELECT};
};

// The tree follows the parent links below "Outlook Express"; OK is on only while a folder is
// selected.
TEST_F(OeFolderFixture, TreeFollowsParentLinksBelowOutlookExpress) {
  EXPECT_FALSE(dlg.OnInitDialog(view));
  std::string text = Screen(view);
  view.SelectTreeItem(view.FindItemByPath("Inbox"));
  dlg.OnTreeSelChanged(view, res::IDC_FOLDER_TREE, view.FindItemByPath("Inbox"));
  text += "# Inbox selected\n" + Screen(view);
  dlg.OnTreeSelChanged(view, res::IDC_FOLDER_TREE, platform::kNoTreeItem);
  text += "# nothing selected\n" + Screen(view);
  kv::testing::ExpectGolden(text, "common/folder-select-oe.txt");
}

// OK keeps the selected folder and those below it, breadth first, each record copied whole (Deep
// keeps its old parent index); the root item keeps the whole table. "Skip Empty Folders" sets the
// report flag, Cancel leaves it. A double click confirms a selected folder, and nothing without
// one. Child lists that loop back or point outside the table, and a count larger than the table,
// stay bounded. The outcomes are in the golden file.
TEST_F(OeFolderFixture, OkDoubleClickAndCancelKeepTheChosenSubtree) {
  using Answer = ScriptedUserInterface::FolderAnswer;
  std::string text;
  for (const std::optional<Answer>& answer :
       {std::optional<Answer>(Answer{"Inbox", true}),
        std::optional<Answer>(Answer{std::nullopt, false}), std::optional<Answer>()}) {
    FillTable(dlg, {{"Inbox", -1}, {"Deep", 2}, {"Sub", 0}, {"Outbox", -1}, {"Sub2", 0}});
    g_bReportEmptyFolders = 7;
    ui.AnswerFolderDialog(answer);
    const int result = dlg.DoModal();
    text +=
        "# " + (answer ? answer->path.value_or("root item") : "cancel") + "\n" + Kept(dlg, result);
  }

  FillTable(dlg, {{"Inbox", -1}, {"Deep", 2}, {"Sub", 0}, {"Outbox", -1}, {"Sub2", 0}});
  dlg.OnInitDialog(view);
  dlg.OnTreeDoubleClick(view, res::IDC_FOLDER_TREE);
  EXPECT_FALSE(view.ended()) << "nothing selected yet";
  const TreeItem sub = view.FindItemByPath("Inbox/Sub");
  view.SelectTreeItem(sub);
  dlg.OnTreeSelChanged(view, res::IDC_FOLDER_TREE, sub);
  view.SetCheck(res::IDC_SKIP_EMPTY, false);
  dlg.OnTreeDoubleClick(view, res::IDC_FOLDER_TREE);
  text += "# double click on Inbox/Sub\n" + Kept(dlg, view.result().value_or(-1));

  FillTable(dlg, {{"Inbox", -1}, {"Deep", 2}, {"Sub", 0}, {"Outbox", -1}, {"Sub2", 0}});
  dlg.m_pChildren[0] = {2, 0, 4, 99, -3};  // itself, and indices outside the table
  dlg.m_pChildren[2] = {1, 0};             // back to its parent
  dlg.m_nFolders = 40;                     // more than the table holds
  RecordingDialogView looping{res::IDD_FOLDER_SELECT};
  dlg.OnInitDialog(looping);
  EXPECT_EQ(looping.items().size(), 6u);
  looping.SelectTreeItem(looping.FindItemByPath("Inbox"));
  dlg.OnCommand(looping, kIdOk);
  text += "# looping child lists, OK on Inbox\n" + Kept(dlg, looping.result().value_or(-1));
  kv::testing::ExpectGolden(text, "common/folder-select-oe-kept.txt");
}

}  // namespace
}  // namespace kv
