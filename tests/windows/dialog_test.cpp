// The location and folder dialogs shown for real, as Windows draws them from the resource script,
// and driven by window messages from a second thread as a user would drive them: the tree item
// selected, the check box clicked, the folder browser's selection set, the buttons pressed.

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

// A visible dialog box of `thread` titled `title` (any other than `except` when empty).
HWND WaitForDialog(DWORD thread, const std::string& title, HWND except = nullptr) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        found = FindWindowWhere(
            [&](HWND window) {
              return WindowText(window, true) == "#32770" && IsWindowVisible(window) &&
                     window != except && (title.empty() || WindowText(window) == title);
            },
            thread);
        return found != nullptr;
      },
      20s);
  return found;
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

// What the driving thread saw, as lines; the test thread checks them after the dialog has ended.
struct DriverRun {
  DWORD dialog_thread = 0;
  std::string folder;  // where the folder browser is pointed
  std::vector<std::string> seen;
  void Note(const std::string& what, bool value) {
    seen.push_back(what + (value ? " yes" : " no"));
  }
  void Note(const std::string& what, const std::string& text) {
    seen.push_back(what + ": " + text);
  }
};

DWORD WINAPI DriveFolderDialog(void* parameter) {
  auto* run = static_cast<DriverRun*>(parameter);
  HWND dialog = WaitForDialog(run->dialog_thread, "Importing messages...");
  if (dialog == nullptr) return 1;
  HWND tree = GetDlgItem(dialog, kTree);
  // OK is usable exactly when a folder is selected. (Wine's tree selects its first item when it
  // first gets the focus, so the dialog may open with the root item selected.)
  run->Note("OK usable as selected",
            IsWindowEnabled(GetDlgItem(dialog, IDOK)) == (TreeView_GetSelection(tree) != nullptr));
  run->Note("skip empty", IsDlgButtonChecked(dialog, kSkipEmpty) == BST_CHECKED);
  ListTree(tree, TreeView_GetRoot(tree), 0, run->seen);
  // Select "x" below "A" below the root item.
  HTREEITEM a = TreeView_GetChild(tree, TreeView_GetRoot(tree));
  HTREEITEM x = a != nullptr ? TreeView_GetChild(tree, a) : nullptr;
  SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(x));
  run->Note("OK usable", IsWindowEnabled(GetDlgItem(dialog, IDOK)));
  SendDlgItemMessageA(dialog, kSkipEmpty, BM_CLICK, 0, 0);
  Sleep(200);
  Press(dialog, IDOK);
  return 0;
}

DWORD WINAPI DriveLocationDialog(void* parameter) {
  auto* run = static_cast<DriverRun*>(parameter);
  HWND dialog = WaitForDialog(run->dialog_thread, "Location of Messages");
  if (dialog == nullptr) return 1;
  auto note_dialog = [&] {
    run->Note("prompt", ControlText(dialog, kPrompt));
    // The folder in any capitals (Wine's browser may give another spelling) shows as FOLDER.
    const std::string location = ControlText(dialog, kLocationBox);
    run->Note("location",
              lstrcmpiA(location.c_str(), run->folder.c_str()) == 0 ? "FOLDER" : location);
    run->Note("Continue usable", IsWindowEnabled(GetDlgItem(dialog, IDOK)));
  };
  note_dialog();

  Press(dialog, kBrowseButton);
  HWND browser = WaitForDialog(run->dialog_thread, "", dialog);
  run->Note("browser", browser != nullptr);
  if (browser != nullptr) {
    // The browser fills its tree after it is shown: the selection is set again until it holds.
    run->Note("browser shows the folder",
              WaitUntil(
                  [&] {
                    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE,
                                 reinterpret_cast<LPARAM>(run->folder.c_str()));
                    Sleep(300);
                    return lstrcmpiA(ControlText(browser, kBrowserStatus).c_str(),
                                     run->folder.c_str()) == 0;
                  },
                  30s));
    Sleep(200);
    Press(browser, IDOK);
    WaitUntil([&] { return !IsWindow(browser); }, 10s);
  }
  WaitUntil([&] { return !ControlText(dialog, kLocationBox).empty(); }, 10s);
  note_dialog();
  Sleep(200);
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
  void Drive(LPTHREAD_START_ROUTINE drive, DriverRun& run, const std::function<void()>& show) {
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
  const std::vector<std::string> paths{"R/A", "R/A/x", "R/A.old"};  // the dialog keeps a reference
  CFolderSelectDlg dialog(ui_, 0, paths);
  dialog.m_strRoot = "R";
  dialog.m_bSkipEmpty = 1;
  DriverRun run;
  int result = 0;
  Drive(DriveFolderDialog, run, [&] { result = dialog.DoModal(); });
  EXPECT_EQ(run.seen, (std::vector<std::string>{"OK usable as selected yes", "skip empty yes", "R",
                                                " A", "  x", " A.old", "OK usable yes"}));
  EXPECT_EQ(result, platform::kIdOk);
  EXPECT_EQ(dialog.m_nSelected, 1);
  EXPECT_EQ(dialog.m_bSkipEmpty, 0);
}

TEST_F(DialogTest, LocationDialogTakesTheFolderChosenInTheBrowser) {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  DriverRun run;
  run.folder = std::string(temp) + "kv dialog test";
  CreateDirectoryA(run.folder.c_str(), nullptr);

  CLocationDlg dialog(ui_, 0);
  dialog.m_strBrowseTitle = "Please select location for Outlook Express 4";
  int result = 0;
  Drive(DriveLocationDialog, run, [&] { result = dialog.DoModal(); });
  RemoveDirectoryA(run.folder.c_str());

  // The prompt keeps saying that nothing was found; Continue now has a folder to continue with.
  const std::string prompt =
      "prompt: Talvon cannot determine the system location. Please select it manually.";
  EXPECT_EQ(run.seen,
            (std::vector<std::string>{prompt, "location: ", "Continue usable no", "browser yes",
                                      "browser shows the folder yes", prompt, "location: FOLDER",
                                      "Continue usable yes"}));
  EXPECT_EQ(result, platform::kIdOk);
  EXPECT_EQ(lstrcmpiA(dialog.m_strPath.c_str(), run.folder.c_str()), 0) << dialog.m_strPath;
}

}  // namespace
}  // namespace kv::wintest
