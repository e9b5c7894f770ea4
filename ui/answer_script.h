#pragma once
// Answers for the scripted front written as text, so that a program can take them from a file
// (the Windows server does when the environment variable KVFLTRS_ANSWERS names one). One answer a
// line, used in order per kind of dialog; blank lines and lines starting with "#" are skipped, a
// carriage return before the line feed is ignored, and the argument is the rest of the line after
// one blank, taken as it stands (store paths are in the system code page):
//
//   location <folder>             next location dialog: browse to <folder> if it is not the
//                                 proposal, then Continue
//   location-cancel               next location dialog: Cancel
//   folders [<path>]              next folder dialog: select <path> (the folder names below the
//                                 root item joined by "/"; the root item itself when absent), leave
//                                 "Skip Empty Folders" checked, OK
//   folders-keep-empty [<path>]   the same with "Skip Empty Folders" unchecked
//   folders-cancel                next folder dialog: Cancel
//   message <button>              next message box: ok, cancel, yes, no or a button code
//   browse <folder>               next folder browser opened on its own: choose <folder>
//   browse-cancel                 next such folder browser: cancel it

#include <optional>
#include <string>
#include <string_view>

#include "ui/scripted_ui.h"

namespace kv::ui {

struct AnswerScriptError {
  int line = 0;  // 1-based
  std::string problem;
};

// Gives `ui` every answer of `script` in order. On an unknown word or a missing argument nothing
// is given and the first bad line is returned.
std::optional<AnswerScriptError> LoadAnswerScript(std::string_view script,
                                                  ScriptedUserInterface& ui);

}  // namespace kv::ui
