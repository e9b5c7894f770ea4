#pragma once
// The Windows resource script of the server, written from the same string table and dialog
// templates every other front reads, so that the dialogs Windows shows cannot drift from them.
// The build runs a small generator (res/tools/make_resource_script.cpp) on the build machine and
// compiles its output into the Windows programs.

#include <string>
#include <string_view>

namespace kv::res {

// The dialogs' font: the one the templates' dialog units are measured in.
inline constexpr int kDialogFontPoints = 8;
inline constexpr std::string_view kDialogFontName = "MS Sans Serif";

// Window styles the script adds to what the templates give: every control is a visible child
// window, and a dialog box is a pop-up window.
inline constexpr unsigned kChildStyle = 0x40000000 | 0x10000000;  // WS_CHILD | WS_VISIBLE
inline constexpr unsigned kTabStop = 0x00010000;                  // WS_TABSTOP
inline constexpr unsigned kGroup = 0x00020000;                    // WS_GROUP
inline constexpr unsigned kPopup = 0x80000000;                    // WS_POPUP

// The text of a resource script (.rc) holding the string table, bitmap IDB_FOLDERS read from
// `bitmap_file` (a path the resource compiler can open) and every dialog template, each control
// as a CONTROL statement with its window class and complete style.
std::string ResourceScript(std::string_view bitmap_file);

// `text` as a quoted resource script string: quotes doubled, backslashes and line feeds escaped.
std::string QuoteResourceString(std::string_view text);

}  // namespace kv::res
