#include "ui/win32/win32_dialog_box.h"

#include <vector>

#include "platform/win32/windows_api.h"
#include "res/dialogs.h"
// commctrl.h needs windows.h first.
#include <commctrl.h>

namespace kv::ui {

using platform::TreeItem;
using platform::WindowHandle;

namespace {

constexpr int kDialogFailed = -1;  // DialogBoxParamA could not create the dialog

HWND ToHwnd(WindowHandle window) {
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(window)));
}

// Window handles carry 32 significant bits on every Windows, so the host's 32-bit handle is enough.
WindowHandle ToWindowHandle(HWND window) {
  return static_cast<WindowHandle>(reinterpret_cast<ULONG_PTR>(window));
}

HTREEITEM ToTreeItem(TreeItem item) {
  return item == platform::kTreeRoot ? TVI_ROOT : reinterpret_cast<HTREEITEM>(item);
}

void InitCommonControlsOnce() {
  static const bool initialised = [] {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_TREEVIEW_CLASSES};
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  (void)initialised;
}

// The controller's view of one open dialog box.
class Win32DialogView final : public platform::DialogView {
 public:
  ~Win32DialogView() override {
    if (images_ != nullptr) ImageList_Destroy(images_);
  }

  void Attach(HWND dialog) { dialog_ = dialog; }

  void SetControlText(int control_id, const std::string& text) override {
    SetDlgItemTextA(dialog_, control_id, text.c_str());
  }
  std::string GetControlText(int control_id) override {
    HWND control = GetDlgItem(dialog_, control_id);
    if (control == nullptr) return {};
    std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(control)) + 1, '\0');
    int length = GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
    return std::string(text.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
  }
  void EnableControl(int control_id, bool enabled) override {
    HWND control = GetDlgItem(dialog_, control_id);
    if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
  }
  void SetFocus(int control_id) override {
    HWND control = GetDlgItem(dialog_, control_id);
    // WM_NEXTDLGCTL rather than SetFocus, so that the default button follows the focus.
    if (control != nullptr)
      SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  }
  void SetCheck(int control_id, bool checked) override {
    CheckDlgButton(dialog_, control_id, checked ? BST_CHECKED : BST_UNCHECKED);
  }
  bool IsChecked(int control_id) override {
    return IsDlgButtonChecked(dialog_, control_id) == BST_CHECKED;
  }
  bool SetTreeImages(int tree_id, int bitmap_id) override {
    if (images_ == nullptr) {
      images_ = ImageList_LoadImageA(
          GetModuleHandleA(nullptr), MAKEINTRESOURCEA(bitmap_id), res::kFolderImageWidth, 1,
          static_cast<COLORREF>(res::kFolderImageTransparent), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    }
    if (images_ == nullptr) return false;
    SendDlgItemMessageA(dialog_, tree_id, TVM_SETIMAGELIST, TVSIL_NORMAL,
                        reinterpret_cast<LPARAM>(images_));
    return true;
  }
  TreeItem InsertTreeItem(int tree_id, const platform::TreeItemSpec& spec) override {
    TVINSERTSTRUCTA insert{};
    insert.hParent = ToTreeItem(spec.parent);
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = spec.mask;
    insert.item.pszText = const_cast<char*>(spec.label.c_str());
    insert.item.iImage = spec.image;
    insert.item.iSelectedImage = spec.selected_image;
    insert.item.lParam = static_cast<LPARAM>(spec.data);
    return static_cast<TreeItem>(SendDlgItemMessageA(dialog_, tree_id, TVM_INSERTITEMA, 0,
                                                     reinterpret_cast<LPARAM>(&insert)));
  }
  void DeleteAllTreeItems(int tree_id) override {
    SendDlgItemMessageA(dialog_, tree_id, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  }
  void ExpandTreeItem(int tree_id, TreeItem item) override {
    if (item == platform::kNoTreeItem) return;
    SendDlgItemMessageA(dialog_, tree_id, TVM_EXPAND, TVE_EXPAND,
                        reinterpret_cast<LPARAM>(ToTreeItem(item)));
  }
  TreeItem GetSelectedTreeItem(int tree_id) override {
    return static_cast<TreeItem>(
        SendDlgItemMessageA(dialog_, tree_id, TVM_GETNEXTITEM, TVGN_CARET, 0));
  }
  std::intptr_t GetTreeItemData(int tree_id, TreeItem item) override {
    if (item == platform::kNoTreeItem) return 0;
    TVITEMA query{};
    query.mask = TVIF_PARAM | TVIF_HANDLE;
    query.hItem = ToTreeItem(item);
    if (!SendDlgItemMessageA(dialog_, tree_id, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) {
      return 0;
    }
    return static_cast<std::intptr_t>(query.lParam);
  }
  void EndDialog(int result) override { ::EndDialog(dialog_, result); }
  WindowHandle DialogWindow() override { return ToWindowHandle(dialog_); }

  // The control the controller last put the focus on; null when it left that to the system.
  HWND focus_control() const { return focus_control_; }

 private:
  HWND dialog_ = nullptr;
  HIMAGELIST images_ = nullptr;  // the tree's images, kept until the dialog box is gone
  HWND focus_control_ = nullptr;
};

struct DialogBoxState {
  platform::Dialog& dialog;
  Win32DialogView view;
};

DialogBoxState* StateOf(HWND window) {
  return reinterpret_cast<DialogBoxState*>(GetWindowLongPtrA(window, DWLP_USER));
}

// A button press the controller should hear of: a click on an enabled button, or Enter and
// Escape, which the dialog manager reports as IDOK and IDCANCEL. A disabled default button still
// gets IDOK from the Enter key on some systems; it is refused here as a user would find it.
bool IsPress(HWND window, WPARAM wparam) {
  if (HIWORD(wparam) != BN_CLICKED) return false;
  HWND control = GetDlgItem(window, LOWORD(wparam));
  return control == nullptr || IsWindowEnabled(control);
}

INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* state = reinterpret_cast<DialogBoxState*>(lparam);
    SetWindowLongPtrA(window, DWLP_USER, lparam);
    state->view.Attach(window);
    // TRUE lets the dialog manager focus the first control. A controller that has placed the focus
    // itself keeps it there: the first control may be the folder tree, which would select its first
    // item on getting the focus, as if the user had chosen it.
    const bool default_focus = state->dialog.OnInitDialog(state->view);
    return default_focus && state->view.focus_control() == nullptr ? TRUE : FALSE;
  }
  DialogBoxState* state = StateOf(window);
  if (state == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      if (!IsPress(window, wparam)) return FALSE;
      state->dialog.OnCommand(state->view, LOWORD(wparam));
      state->dialog.OnIdleUpdate(state->view);
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      const int control_id = static_cast<int>(header->idFrom);
      if (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW) {
        const auto* change = reinterpret_cast<const NMTREEVIEWA*>(lparam);
        state->dialog.OnTreeSelChanged(state->view, control_id,
                                       reinterpret_cast<TreeItem>(change->itemNew.hItem));
      } else if (header->code == static_cast<UINT>(NM_DBLCLK)) {
        state->dialog.OnTreeDoubleClick(state->view, control_id);
      } else {
        return FALSE;
      }
      state->dialog.OnIdleUpdate(state->view);
      return TRUE;
    }
    case WM_HELP:
      // Answered, so no help opens.
      return state->dialog.OnHelp() ? TRUE : FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

int RunWin32DialogBox(WindowHandle owner, platform::Dialog& dialog) {
  InitCommonControlsOnce();
  DialogBoxState state{dialog, {}};
  INT_PTR result =
      DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(dialog.TemplateId()),
                      ToHwnd(owner), DialogProcedure, reinterpret_cast<LPARAM>(&state));
  if (result == kDialogFailed || result == 0) return platform::kIdCancel;
  return static_cast<int>(result);
}

}  // namespace kv::ui
