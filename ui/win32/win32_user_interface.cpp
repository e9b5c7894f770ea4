#include "ui/win32/win32_user_interface.h"

#include "platform/win32/windows_api.h"
#include "ui/win32/win32_dialog_box.h"

namespace kv::ui {

using platform::Dialog;
using platform::WindowHandle;

namespace {

constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;  // 0x1 | 0x4
constexpr int kBrowserTitleControl = 14146;   // the folder browser's title text
constexpr int kBrowserStatusControl = 14147;  // the folder browser's status text
constexpr UINT kSetStatusText = 0x464;        // BFFM_SETSTATUSTEXTA
constexpr int kStatusOffsetTenths = 12;       // status line top: 1.2 title lines below the title
constexpr WORD kWaitCursor = 32514;           // IDC_WAIT

// The host hands over a 32-bit handle; window handles are sign-extended to pointer size.
HWND ToHwnd(WindowHandle owner) {
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(owner)));
}

RECT ClientRectOf(HWND control, HWND parent) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// The title control's line height (character height plus external leading), or 0 when it cannot
// be measured.
int LineHeightOf(HWND title) {
  HDC dc = GetDC(title);
  if (dc == nullptr) return 0;
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(title, WM_GETFONT, 0, 0));
  HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
  TEXTMETRICA metrics{};
  int height = GetTextMetricsA(dc, &metrics) ? metrics.tmHeight + metrics.tmExternalLeading : 0;
  if (previous != nullptr) SelectObject(dc, previous);
  ReleaseDC(title, dc);
  return height;
}

// Moves the status line so that it starts 1.2 lines below the top of the title, keeping its
// left edge, width and bottom edge: long paths get the room of the lines in between.
void PlaceStatusLine(HWND browser) {
  HWND title = GetDlgItem(browser, kBrowserTitleControl);
  HWND status = GetDlgItem(browser, kBrowserStatusControl);
  if (title == nullptr || status == nullptr) return;
  int line_height = LineHeightOf(title);
  if (line_height <= 0) return;
  RECT title_rect = ClientRectOf(title, browser);
  RECT status_rect = ClientRectOf(status, browser);
  int top = title_rect.top + line_height * kStatusOffsetTenths / 10;
  MoveWindow(status, status_rect.left, top, status_rect.right - status_rect.left,
             status_rect.bottom - top, TRUE);
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM item, LPARAM /*data*/) {
  if (message != BFFM_SELCHANGED || item == 0) return 0;
  char path[MAX_PATH] = {};
  SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(item), path);
  if (path[0] == '\0') return 0;
  PlaceStatusLine(browser);
  SendMessageA(browser, kSetStatusText, 0, reinterpret_cast<LPARAM>(path));
  return 0;
}

}  // namespace

int Win32UserInterface::MessageBox(WindowHandle owner, const std::string& text,
                                   const std::string& caption, unsigned style) {
  return MessageBoxA(ToHwnd(owner), text.c_str(), caption.c_str(), style);
}

std::optional<std::string> Win32UserInterface::BrowseForFolder(WindowHandle owner,
                                                               const std::string& title) {
  char display_name[MAX_PATH] = {};
  BROWSEINFOA info{};
  info.hwndOwner = ToHwnd(owner);
  info.pidlRoot = nullptr;
  info.pszDisplayName = display_name;
  info.lpszTitle = title.c_str();
  info.ulFlags = kBrowseFlags;
  info.lpfn = BrowseCallback;
  info.lParam = 0;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&info);
  if (chosen == nullptr) return std::nullopt;
  char path[MAX_PATH] = {};
  SHGetPathFromIDListA(chosen, path);
  CoTaskMemFree(chosen);
  return std::string(path);
}

int Win32UserInterface::RunModal(WindowHandle owner, Dialog& dialog) {
  return RunWin32DialogBox(owner, dialog);
}

void Win32UserInterface::ShowWaitCursor() {
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(kWaitCursor)));
}

}  // namespace kv::ui
