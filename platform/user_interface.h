#pragma once
// The modal user interface the filters call on: message boxes, the wait cursor, the folder browser
// and dialogs. Dialog behaviour lives in toolkit-neutral controller classes (`Dialog`, in common/);
// a front (scripted, terminal, Win32) shows a dialog template, forwards events to the controller
// and carries out what the controller asks through `DialogView`.

#include <cstdint>
#include <optional>
#include <string>

namespace kv::platform {

// The host's 32-bit window handle, the owner of every dialog and message box.
using WindowHandle = std::uint32_t;

// Button codes and message box styles with their Win32 values.
enum ButtonCode : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdYes = 6,
  kIdNo = 7,
};
enum MessageBoxStyle : unsigned {
  kMbOk = 0x00,
  kMbOkCancel = 0x01,
  kMbYesNo = 0x04,
  kMbIconStop = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconExclamation = 0x30,
  kMbIconInformation = 0x40,
};

using TreeItem = std::uintptr_t;
constexpr TreeItem kTreeRoot = 0;  // TVI_ROOT: the invisible parent of top-level items
constexpr TreeItem kNoTreeItem = 0;

// TVIF_* bits: which attributes of an inserted tree item are set.
enum TreeItemMask : unsigned {
  kTreeItemText = 0x0001,
  kTreeItemImage = 0x0002,
  kTreeItemData = 0x0004,
  kTreeItemSelectedImage = 0x0020,
};

struct TreeItemSpec {
  TreeItem parent = kTreeRoot;
  std::string label;
  int image = 0;
  int selected_image = 1;
  std::intptr_t data = 0;
  unsigned mask = kTreeItemText | kTreeItemData;
};

// What a dialog controller can do to the dialog on screen. Control IDs are the template's.
class DialogView {
 public:
  virtual ~DialogView() = default;
  virtual void SetControlText(int control_id, const std::string& text) = 0;
  virtual std::string GetControlText(int control_id) = 0;
  virtual void EnableControl(int control_id, bool enabled) = 0;
  virtual void SetFocus(int control_id) = 0;
  virtual void SetCheck(int control_id, bool checked) = 0;
  virtual bool IsChecked(int control_id) = 0;
  // Attaches the images of `bitmap_id` to the tree; false when the image list cannot be made.
  virtual bool SetTreeImages(int tree_id, int bitmap_id) = 0;
  // Inserts an item last among its parent's children; kNoTreeItem when it cannot.
  virtual TreeItem InsertTreeItem(int tree_id, const TreeItemSpec& spec) = 0;
  virtual void DeleteAllTreeItems(int tree_id) = 0;
  virtual void ExpandTreeItem(int tree_id, TreeItem item) = 0;
  virtual TreeItem GetSelectedTreeItem(int tree_id) = 0;
  virtual std::intptr_t GetTreeItemData(int tree_id, TreeItem item) = 0;
  virtual void EndDialog(int result) = 0;
  // The dialog's own window, the owner of what it opens (the folder browser); 0 when the front has
  // no window of its own, and the dialog's owner is used instead.
  virtual WindowHandle DialogWindow() { return 0; }
};

// A dialog's behaviour, independent of how it is drawn. The front calls OnInitDialog once, then
// forwards events until the controller calls EndDialog.
class Dialog {
 public:
  virtual ~Dialog() = default;
  virtual int TemplateId() const = 0;
  virtual bool OnInitDialog(DialogView& view) = 0;
  // A push button (or IDOK/IDCANCEL from the keyboard) was pressed.
  virtual void OnCommand(DialogView& view, int control_id) = 0;
  // The front updates its controls (idle time, after each event).
  virtual void OnIdleUpdate(DialogView& /*view*/) {}
  virtual void OnTreeSelChanged(DialogView& /*view*/, int /*tree_id*/, TreeItem /*item*/) {}
  virtual void OnTreeDoubleClick(DialogView& /*view*/, int /*tree_id*/) {}
  // A context-help request (F1). True when answered, so no help opens.
  virtual bool OnHelp() { return true; }
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // MessageBoxA: shows `text` with `caption` and the buttons of `style`; returns the button code.
  virtual int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                         unsigned style) = 0;
  // The folder browser: the full path of the chosen folder, or nullopt when the user cancelled.
  // While the user browses it shows the full path of the highlighted folder.
  virtual std::optional<std::string> BrowseForFolder(WindowHandle owner,
                                                     const std::string& title) = 0;
  // Runs `dialog` modally over `owner`; returns the value given to EndDialog (kIdOk, kIdCancel).
  virtual int RunModal(WindowHandle owner, Dialog& dialog) = 0;
  // Shows the system wait cursor until the next user interaction.
  virtual void ShowWaitCursor() = 0;
};

}  // namespace kv::platform
