#pragma once
// The two dialog templates (IDD_FOLDER_SELECT, IDD_LOCATION) and the folder bitmap (IDB_FOLDERS) as
// data, shared by every
// front: the scripted front reads control IDs and texts from here, the terminal front draws from
// here and a Windows front can build its dialog templates from the same tables. Positions are in
// dialog units; style bits carry their Win32 values so that a Windows front can use them as they
// stand.

#include <span>
#include <string_view>

namespace kv::res {

enum DialogId : int {
  IDD_FOLDER_SELECT = 134,  // "Importing messages..."
  IDD_LOCATION = 147,       // "Location of Messages"
};

enum BitmapId : int {
  IDB_FOLDERS = 145,  // res/folders.bmp: two 16x16 folder images side by side, normal, selected
};
constexpr int kFolderImageWidth = 16;
constexpr unsigned kFolderImageTransparent = 0xFFFFFF;  // white

enum ControlId : int {
  IDC_STATIC = -1,  // controls the program never addresses
  IDOK_BUTTON = 1,
  IDCANCEL_BUTTON = 2,
  IDC_BROWSE = 3,
  IDC_FOLDER_TREE = 1002,
  IDC_SKIP_EMPTY = 1004,
  IDC_LOCATION = 1005,
  IDC_PROMPT = 1006,
};

enum class ControlKind {
  kGroupBox,
  kStatic,
  kEdit,
  kPushButton,
  kDefaultPushButton,
  kAutoCheckBox,
  kTreeView,
};

// Win32 style bits of the controls that carry any beyond their kind.
enum ControlStyle : unsigned {
  kEditAutoHScroll = 0x0080,    // ES_AUTOHSCROLL
  kEditReadOnly = 0x0800,       // ES_READONLY
  kTreeHasButtons = 0x0001,     // TVS_HASBUTTONS
  kTreeHasLines = 0x0002,       // TVS_HASLINES
  kTreeLinesAtRoot = 0x0004,    // TVS_LINESATROOT
  kTreeShowSelAlways = 0x0020,  // TVS_SHOWSELALWAYS
  kBorder = 0x00800000,         // WS_BORDER
};
// DS_MODALFRAME | WS_CAPTION | WS_SYSMENU: both templates.
constexpr unsigned kModalFrameStyle = 0x80 | 0x00C00000 | 0x00080000;

struct DialogControl {
  int id;
  ControlKind kind;
  int x, y, width, height;
  std::string_view text;
  unsigned style = 0;
};

struct DialogTemplate {
  int id;
  std::string_view caption;
  int width, height;
  unsigned style;
  std::span<const DialogControl> controls;  // in tab order
};

// The template with this ID, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);
// Every template, in ascending ID order.
std::span<const DialogTemplate> DialogTemplates();
// The control with this ID in `dialog`, or nullptr (IDC_STATIC controls are never found).
const DialogControl* FindControl(const DialogTemplate& dialog, int control_id);

}  // namespace kv::res
