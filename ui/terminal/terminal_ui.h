#pragma once
// An interactive text front for a person at a terminal. Each dialog is drawn from its template in
// res/ (caption, texts, the location box, the folder tree as an indented list with numbered items,
// the check box, the buttons with their keys) and redrawn after every command. The user types a
// button's key or name, a folder's number, or Enter for the default button; a disabled button is
// refused with a note, exactly as the dialog refuses it. End of input cancels whatever is open,
// so the front never waits on a closed stream.
//
// The folder browser reads a path with readline filename completion (folders only) and shows the
// full path of the folder typed so far on a status line above the input, updated on every key.
// On a terminal that cannot move its cursor (TERM unset or "dumb", or output not a terminal) the
// status line is printed once before and after input instead.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/environment.h"
#include "platform/user_interface.h"

namespace kv::ui {

class RecordingDialogView;

class TerminalUserInterface final : public platform::UserInterface {
 public:
  // Reads from `in` and draws on `out`; both stay the caller's and must outlive this object. Dialog
  // texts come in `code_page` (folder names from the store) and are shown in UTF-8; a folder the
  // user types is handed back in the code page when it can be spelled there. Without a code page
  // texts pass unchanged.
  TerminalUserInterface(std::FILE* in, std::FILE* out, platform::CodePage* code_page = nullptr);
  TerminalUserInterface(const TerminalUserInterface&) = delete;
  TerminalUserInterface& operator=(const TerminalUserInterface&) = delete;

  int MessageBox(platform::WindowHandle owner, const std::string& text, const std::string& caption,
                 unsigned style) override;
  std::optional<std::string> BrowseForFolder(platform::WindowHandle owner,
                                             const std::string& title) override;
  int RunModal(platform::WindowHandle owner, platform::Dialog& dialog) override;
  // Prints one "working..." line until the next prompt, however often it is called.
  void ShowWaitCursor() override;

 private:
  // One line of input; nullopt at end of input. With `folders`, Tab completes folder names and the
  // status line follows the typed path.
  std::optional<std::string> ReadLine(const std::string& prompt, bool folders);
  void Print(std::string_view text);
  // `text` from a dialog or message box, as the terminal shows it.
  std::string Shown(const std::string& text) const;
  // A path the user typed, as the filter expects it.
  std::string Chosen(const std::string& typed) const;
  void Draw(const RecordingDialogView& view);
  // Carries out one command typed in a dialog; true when the dialog should be drawn again.
  bool Execute(platform::Dialog& dialog, RecordingDialogView& view, const std::string& command);
  // Presses a button as a user would; false (with a note) when the button is disabled.
  bool Press(platform::Dialog& dialog, RecordingDialogView& view, int control_id);

  std::FILE* in_;
  std::FILE* out_;
  platform::CodePage* code_page_;
  bool live_status_;
  bool waiting_ = false;
};

}  // namespace kv::ui
