// The location and folder dialogs shown for real, as Windows draws them from the resource script,
// and driven by window messages from a second thread as a user would drive them: the tree item
// selected, the check box clicked, the folder browser's selection set, the buttons pressed. The
// screen is saved at each step (KV_SCREENSHOT_DIR) for people to look at.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/folder_select_dlg.h"
#include "common/location_dlg.h"
#include "ui/win32/win32_user_interface.h"
#include "windows_test_support.h"
// commctrl.h and shlobj.h need windows.h first.
#include <commctrl.h>
#include <shlobj.h>

namespace kv::wintest {
namespace {

using namespace std::chrono_literals;

constexpr int kBrowseButton = 3;
constexpr int kPrompt = 1006;
constexpr int kLocationBox = 1005;
constexpr int kTree = 1002;
constexpr int kSkipEmpty = 1004;
constexpr int kBrowserStatus = 14147;

bool HaveDesktop() {
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return true;
}

std::string ControlText(HWND dialog, int id) {
  char text[1024] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

void Press(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

struct FindDialog {
  DWORD thread;
  std::string title;  // empty: any dialog box other than `except`
  HWND except = nullptr;
  HWND found = nullptr;
};
BOOL CALLBACK FindDialogWindow(HWND window, LPARAM data) {
  auto* find = reinterpret_cast<FindDialog*>(data);
  char class_name[16] = {};
  char title[256] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  GetWindowTextA(window, title, sizeof title);
  if (std::string(class_name) == "#32770" && IsWindowVisible(window) && window != find->except &&
      (find->title.empty() || find->title == title)) {
    find->found = window;
    return FALSE;
  }
  return TRUE;
}
// A visible dialog box of `thread` titled `title` (any other than `except` when empty).
HWND WaitForDialog(DWORD thread, const std::string& title, HWND except = nullptr) {
  FindDialog find{thread, title, except};
  WaitFor(
      [&] {
        EnumThreadWindows(thread, FindDialogWindow, reinterpret_cast<LPARAM>(&find));
        return find.found != nullptr;
      },
      20s);
  return find.found;
}

std::string TreeLabel(HWND tree, HTREEITEM item) {
  char text[256] = {};
  TVITEMA query{};
  query.mask = TVIF_TEXT | TVIF_HANDLE;
  query.hItem = item;
  query.pszText = text;
  query.cchTextMax = sizeof text;
  SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query));
  return text;
}

// The tree's labels in display order, indented by depth.
void ListTree(HWND tree, HTREEITEM item, int depth, std::vector<std::string>& out) {
  for (; item != nullptr; item = TreeView_GetNextSibling(tree, item)) {
    out.push_back(std::string(static_cast<std::size_t>(depth), ' ') + TreeLabel(tree, item));
    ListTree(tree, TreeView_GetChild(tree, item), depth + 1, out);
  }
}

// What the driving thread saw; the test thread checks it after the dialog has ended.
struct FolderRun {
  DWORD dialog_thread = 0;
  bool found = false;
  bool ok_enabled_at_start = true;
  bool selected_at_start = true;
  bool skip_checked_at_start = false;
  std::vector<std::string> tree;
  bool ok_enabled_after_selection = false;
};

DWORD WINAPI DriveFolderDialog(void* parameter) {
  auto* run = static_cast<FolderRun*>(parameter);
  HWND dialog = WaitForDialog(run->dialog_thread, "Importing messages...");
  if (dialog == nullptr) return 1;
  run->found = true;
  HWND tree = GetDlgItem(dialog, kTree);
  run->ok_enabled_at_start = IsWindowEnabled(GetDlgItem(dialog, IDOK));
  run->selected_at_start = TreeView_GetSelection(tree) != nullptr;
  run->skip_checked_at_start = IsDlgButtonChecked(dialog, kSkipEmpty) == BST_CHECKED;
  ListTree(tree, TreeView_GetRoot(tree), 0, run->tree);
  // Select "x" below "A" below the root item.
  HTREEITEM a = TreeView_GetChild(tree, TreeView_GetRoot(tree));
  HTREEITEM x = a != nullptr ? TreeView_GetChild(tree, a) : nullptr;
  SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(x));
  run->ok_enabled_after_selection = IsWindowEnabled(GetDlgItem(dialog, IDOK));
  SendDlgItemMessageA(dialog, kSkipEmpty, BM_CLICK, 0, 0);
  Sleep(200);
  SaveScreenshot("folder-dialog");
  Press(dialog, IDOK);
  return 0;
}

struct LocationRun {
  DWORD dialog_thread = 0;
  std::string folder;  // where the folder browser is pointed
  bool found = false;
  std::string prompt_at_start;
  std::string location_at_start;
  bool continue_enabled_at_start = true;
  bool found_browser = false;
  std::string status_line;
  std::string prompt_after;
  std::string location_after;
  bool continue_enabled_after = false;
};

DWORD WINAPI DriveLocationDialog(void* parameter) {
  auto* run = static_cast<LocationRun*>(parameter);
  HWND dialog = WaitForDialog(run->dialog_thread, "Location of Messages");
  if (dialog == nullptr) return 1;
  run->found = true;
  run->prompt_at_start = ControlText(dialog, kPrompt);
  run->location_at_start = ControlText(dialog, kLocationBox);
  run->continue_enabled_at_start = IsWindowEnabled(GetDlgItem(dialog, IDOK));
  SaveScreenshot("location-dialog");

  Press(dialog, kBrowseButton);
  HWND browser = WaitForDialog(run->dialog_thread, "", dialog);
  if (browser != nullptr) {
    run->found_browser = true;
    // The browser fills its tree after it is shown: the selection is set again until it holds.
    WaitFor(
        [&] {
          SendMessageA(browser, BFFM_SETSELECTIONA, TRUE,
                       reinterpret_cast<LPARAM>(run->folder.c_str()));
          Sleep(300);
          return lstrcmpiA(ControlText(browser, kBrowserStatus).c_str(), run->folder.c_str()) == 0;
        },
        30s);
    run->status_line = ControlText(browser, kBrowserStatus);
    Sleep(200);
    SaveScreenshot("folder-browser");
    Press(browser, IDOK);
    WaitFor([&] { return !IsWindow(browser); }, 10s);
  }
  WaitFor([&] { return !ControlText(dialog, kLocationBox).empty(); }, 10s);
  run->prompt_after = ControlText(dialog, kPrompt);
  run->location_after = ControlText(dialog, kLocationBox);
  run->continue_enabled_after = IsWindowEnabled(GetDlgItem(dialog, IDOK));
  Sleep(200);
  SaveScreenshot("location-dialog-chosen");
  Press(dialog, IDOK);
  return 0;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveDesktop()) GTEST_SKIP() << "no desktop to show dialogs on";
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  }
  void TearDown() override {
    if (!IsSkipped()) CoUninitialize();
  }

  // Runs `drive` on a second thread while `show` shows the dialog on this one.
  template <typename Run>
  void Drive(LPTHREAD_START_ROUTINE drive, Run& run, const std::function<void()>& show) {
    run.dialog_thread = GetCurrentThreadId();
    HANDLE driver = CreateThread(nullptr, 0, drive, &run, 0, nullptr);
    ASSERT_NE(driver, nullptr);
    show();
    EXPECT_EQ(WaitForSingleObject(driver, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(driver);
  }

  ui::Win32UserInterface ui_;
};

TEST_F(DialogTest, FolderDialogShowsThePrefixTreeAndReturnsTheSelectedFolder) {
  const std::vector<std::string> paths{"R/A", "R/A/x", "R/A.old"};
  CFolderSelectDlg dialog(ui_, 0, paths);
  dialog.m_strRoot = "R";
  dialog.m_bSkipEmpty = 1;
  FolderRun run;
  int result = 0;
  Drive(DriveFolderDialog, run, [&] { result = dialog.DoModal(); });
  ASSERT_TRUE(run.found);
  // OK is usable exactly when a folder is selected. (Wine's tree selects its first item when it
  // first gets the focus, so the dialog may open with the root item selected.)
  EXPECT_EQ(run.ok_enabled_at_start, run.selected_at_start);
  EXPECT_TRUE(run.skip_checked_at_start);
  EXPECT_EQ(run.tree, (std::vector<std::string>{"R", " A", "  x", " A.old"}));
  EXPECT_TRUE(run.ok_enabled_after_selection);
  EXPECT_EQ(result, platform::kIdOk);
  EXPECT_EQ(dialog.m_nSelected, 1);
  EXPECT_EQ(dialog.m_bSkipEmpty, 0);
}

TEST_F(DialogTest, LocationDialogTakesTheFolderChosenInTheBrowser) {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  LocationRun run;
  run.folder = std::string(temp) + "kv dialog test";
  CreateDirectoryA(run.folder.c_str(), nullptr);

  CLocationDlg dialog(ui_, 0);
  dialog.m_strBrowseTitle = "Please select location for Outlook Express 4";
  int result = 0;
  Drive(DriveLocationDialog, run, [&] { result = dialog.DoModal(); });
  RemoveDirectoryA(run.folder.c_str());

  ASSERT_TRUE(run.found);
  EXPECT_EQ(run.prompt_at_start,
            "Talvon cannot determine the system location. Please select it manually.");
  EXPECT_EQ(run.location_at_start, "");
  EXPECT_FALSE(run.continue_enabled_at_start);
  ASSERT_TRUE(run.found_browser);
  EXPECT_EQ(lstrcmpiA(run.status_line.c_str(), run.folder.c_str()), 0) << run.status_line;
  EXPECT_EQ(lstrcmpiA(run.location_after.c_str(), run.folder.c_str()), 0) << run.location_after;
  // The prompt keeps saying that nothing was found; Continue now has a folder to continue with.
  EXPECT_EQ(run.prompt_after, run.prompt_at_start);
  EXPECT_TRUE(run.continue_enabled_after);
  EXPECT_EQ(result, platform::kIdOk);
  EXPECT_EQ(lstrcmpiA(dialog.m_strPath.c_str(), run.folder.c_str()), 0) << dialog.m_strPath;
}

}  // namespace
}  // namespace kv::wintest
