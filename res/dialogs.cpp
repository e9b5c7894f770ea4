#include "res/dialogs.h"

#include <array>

namespace kv::res {
namespace {

constexpr std::array kLocationControls{
    DialogControl{IDC_STATIC, ControlKind::kGroupBox, 7, 7, 297, 113, "Select message location"},
    DialogControl{IDC_STATIC, ControlKind::kGroupBox, 19, 38, 273, 43, "Location"},
    DialogControl{IDC_PROMPT, ControlKind::kStatic, 19, 22, 273, 8,
                  "Talvon has determined that your messages are located in "},
    DialogControl{IDC_LOCATION, ControlKind::kEdit, 31, 54, 193, 14, "",
                  kEditReadOnly | kEditAutoHScroll | kBorder},
    DialogControl{IDC_BROWSE, ControlKind::kPushButton, 231, 54, 50, 14, "Browse..."},
    DialogControl{IDC_STATIC, ControlKind::kStatic, 19, 92, 273, 18,
                  "If it is not the current location or you would like to import from different "
                  "one, please click 'Browse...' and select a folder."},
    DialogControl{IDOK_BUTTON, ControlKind::kDefaultPushButton, 200, 128, 50, 14, "Continue"},
    DialogControl{IDCANCEL_BUTTON, ControlKind::kPushButton, 254, 128, 50, 14, "Cancel"},
};

constexpr std::array kFolderSelectControls{
    DialogControl{IDC_STATIC, ControlKind::kStatic, 7, 6, 152, 19,
                  "Please select the root folder to start import messages from "},
    DialogControl{
        IDC_FOLDER_TREE, ControlKind::kTreeView, 7, 29, 152, 162, "",
        kTreeHasButtons | kTreeHasLines | kTreeLinesAtRoot | kTreeShowSelAlways | kBorder},
    DialogControl{IDC_SKIP_EMPTY, ControlKind::kAutoCheckBox, 7, 198, 76, 10, "Skip Empty Folders"},
    DialogControl{IDOK_BUTTON, ControlKind::kDefaultPushButton, 55, 216, 50, 14, "OK"},
    DialogControl{IDCANCEL_BUTTON, ControlKind::kPushButton, 109, 216, 50, 14, "Cancel"},
};

constexpr std::array kTemplates{
    DialogTemplate{IDD_FOLDER_SELECT, "Importing messages...", 166, 237, kModalFrameStyle,
                   kFolderSelectControls},
    DialogTemplate{IDD_LOCATION, "Location of Messages", 311, 149, kModalFrameStyle,
                   kLocationControls},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
  for (const DialogTemplate& dialog : kTemplates) {
    if (dialog.id == id) return &dialog;
  }
  return nullptr;
}

std::span<const DialogTemplate> DialogTemplates() { return kTemplates; }

const DialogControl* FindControl(const DialogTemplate& dialog, int control_id) {
  if (control_id == IDC_STATIC) return nullptr;
  for (const DialogControl& control : dialog.controls) {
    if (control.id == control_id) return &control;
  }
  return nullptr;
}

}  // namespace kv::res
