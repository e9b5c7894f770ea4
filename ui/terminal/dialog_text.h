#pragma once
// Dialogs as terminal text: each template of res/ drawn from its controls' current state (texts,
// enabled buttons, check boxes, the tree as an indented list with numbered items), and the keys
// that press its buttons. Cancel is always "q"; every other button and check box takes the first
// letter of its text not taken yet; "d" is kept for the tree's double click.

#include <string>
#include <string_view>
#include <vector>

#include "res/dialogs.h"
#include "ui/recording_view.h"

namespace kv::ui {

constexpr char kCancelKey = 'q';
constexpr char kDoubleClickKey = 'd';

struct ControlKey {
  char key;
  const res::DialogControl* control;
};

std::vector<ControlKey> AssignKeys(const res::DialogTemplate& dialog);
const res::DialogControl* DefaultButton(const res::DialogTemplate& dialog);

// The whole dialog, caption first, one row of controls per line (rows wrap where text is long).
// `view` must have a template.
std::string DrawDialog(const RecordingDialogView& view);
// One paragraph, unwrapped, listing the keys and commands of the dialog.
std::string DialogHelp(const RecordingDialogView& view);

// Word-wraps `text` (which may hold line breaks) to `width` columns.
std::vector<std::string> Wrap(std::string_view text, std::size_t width);
// A button text as a command word: lower case, without its ellipsis ("Browse..." -> "browse").
std::string CommandWord(std::string_view text);

}  // namespace kv::ui
