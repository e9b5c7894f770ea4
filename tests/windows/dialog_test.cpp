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
struct Seen {
  void Note(const std::string& what, bool value) {
    lines.push_back(what + (value ? " yes" : " no"));
  }
  void Note(const std::string& what, const std::string& text) {
    lines.push_back(what + ": " + text);
  }
  std::vector<std::string> lines;
};

DWORD WINAPI RunFunction(void* function) {
  (*static_cast<std::function<void()>*>(function))();
  return 0;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }

  // Runs `drive` on a second thread while `show` shows the dialog on this one.
  void Drive(std::function<void()> drive, const std::function<void()>& show) {
    HANDLE driver = CreateThread(nullptr, 0, RunFunction, &drive, 0, nullptr);
    ASSERT_NE(driver, nullptr);
    show();
    EXPECT_EQ(WaitForSingleObject(driver, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(driver);
  }

  const DWORD dialog_thread_ = GetCurrentThreadId();
  ui::Win32UserInterface ui_;
  Seen seen_;
};

TEST_F(DialogTest, FolderDialogShowsThePrefixTreeAndReturnsTheSelectedFolder) {
  const std::vector<std::string> paths{"R/A", "R/A/x", "R/A.old"};  // the dialog keeps a reference
  CFolderSelectDlg dialog(ui_, 0, paths);
  dialog.m_strRoot = "R";
  dialog.m_bSkipEmpty = 1;
  int result = 0;
  auto drive = [&] {
    HWND window = WaitForDialog(dialog_thread_, "Importing messages...");
    if (window == nullptr) return;
    HWND tree = GetDlgItem(window, kTree);
    // OK is usable exactly when a folder is selected. (Wine's tree selects its first item when it
    // first gets the focus, so the dialog may open with the root item selected.)
    seen_.Note("OK usable as selected", IsWindowEnabled(GetDlgItem(window, IDOK)) ==
                                            (TreeView_GetSelection(tree) != nullptr));
    seen_.Note("skip empty", IsDlgButtonChecked(window, kSkipEmpty) == BST_CHECKED);
    ListTree(tree, TreeView_GetRoot(tree), 0, seen_.lines);
    // Select "x" below "A" below the root item.
    HTREEITEM a = TreeView_GetChild(tree, TreeView_GetRoot(tree));
    HTREEITEM x = a != nullptr ? TreeView_GetChild(tree, a) : nullptr;
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(x));
    seen_.Note("OK usable", IsWindowEnabled(GetDlgItem(window, IDOK)));
    SendDlgItemMessageA(window, kSkipEmpty, BM_CLICK, 0, 0);
    Sleep(200);
    Press(window, IDOK);
  };
  Drive(drive, [&] { result = dialog.DoModal(); });
  EXPECT_EQ(seen_.lines, (std::vector<std::string>{"OK usable as selected yes", "skip empty yes",
                                                   "R", " A", "  x", " A.old", "OK usable yes"}));
  EXPECT_EQ(result, platform::kIdOk);
  EXPECT_EQ(dialog.m_nSelected, 1);
  EXPECT_EQ(dialog.m_bSkipEmpty, 0);
}

TEST_F(DialogTest, LocationDialogTakesTheFolderChosenInTheBrowser) {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  const std::string folder = std::string(temp) + "kv dialog test";
  CreateDirectoryA(folder.c_str(), nullptr);
  CLocationDlg dialog(ui_, 0);
  dialog.m_strBrowseTitle = "Please select location for Outlook Express 4";
  int result = 0;
  auto drive = [&] {
    HWND window = WaitForDialog(dialog_thread_, "Location of Messages");
    if (window == nullptr) return;
    auto note_dialog = [&] {
      seen_.Note("prompt", ControlText(window, kPrompt));
      // The folder in any capitals (Wine's browser may give another spelling) shows as FOLDER.
      const std::string location = ControlText(window, kLocationBox);
      seen_.Note("location",
                 lstrcmpiA(location.c_str(), folder.c_str()) == 0 ? "FOLDER" : location);
      seen_.Note("Continue usable", IsWindowEnabled(GetDlgItem(window, IDOK)));
    };
    note_dialog();
    Press(window, kBrowseButton);
    HWND browser = WaitForDialog(dialog_thread_, "", window);
    seen_.Note("browser", browser != nullptr);
    if (browser != nullptr) {
      // The browser fills its tree after it is shown: the selection is set again until it holds.
      seen_.Note("browser shows the folder",
                 WaitUntil(
                     [&] {
                       SendMessageA(browser, BFFM_SETSELECTIONA, TRUE,
                                    reinterpret_cast<LPARAM>(folder.c_str()));
                       Sleep(300);
                       return lstrcmpiA(ControlText(browser, kBrowserStatus).c_str(),
                                        folder.c_str()) == 0;
                     },
                     30s));
      Sleep(200);
      Press(browser, IDOK);
      WaitUntil([&] { return !IsWindow(browser); }, 10s);
    }
    WaitUntil([&] { return !ControlText(window, kLocationBox).empty(); }, 10s);
    note_dialog();
    Sleep(200);
    Press(window, IDOK);
  };
  Drive(drive, [&] { result = dialog.DoModal(); });
  RemoveDirectoryA(folder.c_str());

  // The prompt keeps saying that nothing was found; Continue now has a folder to continue with.
  const std::string prompt =
      "prompt: Talvon cannot determine the system location. Please select it manually.";
  EXPECT_EQ(seen_.lines,
            (std::vector<std::string>{prompt, "location: ", "Continue usable no", "browser yes",
                                      "browser shows the folder yes", prompt, "location: FOLDER",
                                      "Continue usable yes"}));
  EXPECT_EQ(result, platform::kIdOk);
  EXPECT_EQ(lstrcmpiA(dialog.m_strPath.c_str(), folder.c_str()), 0) << dialog.m_strPath;
}

}  // namespace
}  // namespace kv::wintest
