#pragma once
// The Win32 user interface: MessageBoxA, the shell folder browser with its full-path status line,
// the dialogs as real dialog boxes from the program's resources, and the wait cursor. Windows are
// identified by the host's 32-bit handle.

#include "platform/user_interface.h"

namespace kv::ui {

class Win32UserInterface final : public platform::UserInterface {
 public:
  int MessageBox(platform::WindowHandle owner, const std::string& text, const std::string& caption,
                 unsigned style) override;
  // SHBrowseForFolderA rooted at the desktop, file-system folders only, with a status line that
  // shows the full path of the highlighted folder.
  std::optional<std::string> BrowseForFolder(platform::WindowHandle owner,
                                             const std::string& title) override;
  // The dialog box of the controller's template, from the resources of the running program (which
  // must link the resource script); kIdCancel without showing anything when there is none.
  int RunModal(platform::WindowHandle owner, platform::Dialog& dialog) override;
  void ShowWaitCursor() override;
};

}  // namespace kv::ui
