#include "platform/posix/terminal_ui.h"

// readline's headers need stdio first.
#include <readline/readline.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/recording_view.h"
#include "res/dialogs.h"

namespace kv::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kTextWidth = 76;
constexpr char kCancelKey = 'q';
constexpr char kDoubleClickKey = 'd';
constexpr unsigned kMbButtonsMask = 0x0F;
constexpr unsigned kMbIconMask = 0xF0;

// ---------------------------------------------------------------------------------------------
// Text helpers

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Trim(std::string_view text) {
  const auto begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return {};
  const auto end = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(begin, end - begin + 1));
}

// Word-wraps `text` (which may hold line breaks) to `width` columns.
std::vector<std::string> Wrap(std::string_view text, std::size_t width) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view paragraph = text.substr(start, end - start);
    std::string line;
    std::size_t pos = 0;
    while (pos < paragraph.size()) {
      std::size_t next = paragraph.find(' ', pos);
      if (next == std::string_view::npos) next = paragraph.size();
      const std::string_view word = paragraph.substr(pos, next - pos);
      if (!line.empty() && line.size() + 1 + word.size() > width) {
        lines.push_back(line);
        line.clear();
      }
      if (!line.empty()) line += ' ';
      line += word;
      pos = next + 1;
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The button text without the ellipsis, as a command word ("Browse..." -> "browse").
std::string CommandWord(std::string_view text) {
  std::string word = Lower(text);
  while (!word.empty() && word.back() == '.') word.pop_back();
  return word;
}

// ---------------------------------------------------------------------------------------------
// Keys of a dialog's buttons and check boxes: Cancel is always "q"; the others take the first
// letter of their text not taken yet.

struct ControlKey {
  char key;
  const res::DialogControl* control;
};

bool IsPressable(const res::DialogControl& control) {
  return control.id != res::IDC_STATIC && (control.kind == res::ControlKind::kPushButton ||
                                           control.kind == res::ControlKind::kDefaultPushButton ||
                                           control.kind == res::ControlKind::kAutoCheckBox);
}

std::vector<ControlKey> AssignKeys(const res::DialogTemplate& dialog) {
  std::vector<ControlKey> keys;
  std::string taken{kCancelKey, kDoubleClickKey};
  for (const res::DialogControl& control : dialog.controls) {
    if (!IsPressable(control)) continue;
    if (control.id == kIdCancel) {
      keys.push_back({kCancelKey, &control});
      continue;
    }
    for (char c : Lower(control.text)) {
      if (std::isalpha(static_cast<unsigned char>(c)) && taken.find(c) == std::string::npos) {
        taken += c;
        keys.push_back({c, &control});
        break;
      }
    }
  }
  return keys;
}

const ControlKey* FindKey(const std::vector<ControlKey>& keys, int control_id) {
  for (const ControlKey& key : keys) {
    if (key.control->id == control_id) return &key;
  }
  return nullptr;
}

const res::DialogControl* DefaultButton(const res::DialogTemplate& dialog) {
  for (const res::DialogControl& control : dialog.controls) {
    if (control.kind == res::ControlKind::kDefaultPushButton) return &control;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Drawing a dialog from its template

bool Contains(const res::DialogControl& outer, const res::DialogControl& inner) {
  return &outer != &inner && inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

int GroupDepth(const res::DialogTemplate& dialog, const res::DialogControl& control) {
  int depth = 0;
  for (const res::DialogControl& other : dialog.controls) {
    if (other.kind == res::ControlKind::kGroupBox && Contains(other, control)) ++depth;
  }
  return depth;
}

// The template's controls in rows: controls that share a top edge, left to right; rows top down.
std::vector<std::vector<const res::DialogControl*>> Rows(const res::DialogTemplate& dialog) {
  std::vector<const res::DialogControl*> controls;
  for (const res::DialogControl& control : dialog.controls) controls.push_back(&control);
  std::stable_sort(controls.begin(), controls.end(), [](const auto* a, const auto* b) {
    return a->y != b->y ? a->y < b->y : a->x < b->x;
  });
  std::vector<std::vector<const res::DialogControl*>> rows;
  for (const res::DialogControl* control : controls) {
    if (rows.empty() || rows.back().front()->y != control->y) rows.emplace_back();
    rows.back().push_back(control);
  }
  return rows;
}

std::string ControlText(const RecordingDialogView& view, const res::DialogControl& control) {
  if (control.id == res::IDC_STATIC) return std::string(control.text);
  return view.ControlText(control.id);
}

std::string ButtonLabel(const RecordingDialogView& view, const res::DialogControl& control,
                        const std::vector<ControlKey>& keys) {
  const ControlKey* key = FindKey(keys, control.id);
  const std::string text = ControlText(view, control);
  if (!view.IsEnabled(control.id)) return "[-] " + text + " (not available)";
  std::string hint = key != nullptr ? std::string(1, key->key) : std::string();
  if (control.kind == res::ControlKind::kDefaultPushButton) {
    hint += hint.empty() ? "Enter" : "/Enter";
  }
  return "[" + hint + "] " + text;
}

std::string CheckBoxLabel(const RecordingDialogView& view, const res::DialogControl& control,
                          const std::vector<ControlKey>& keys) {
  const ControlKey* key = FindKey(keys, control.id);
  const bool checked = view.Checked(control.id);
  std::string label = std::string(checked ? "[x] " : "[ ] ") + ControlText(view, control);
  if (key != nullptr) label += " (" + std::string(1, key->key) + " toggles)";
  return label;
}

std::vector<std::string> TreeLines(const RecordingDialogView& view) {
  std::vector<std::string> lines;
  const auto order = view.DisplayOrder();
  if (order.empty()) return {"(no folders)"};
  const TreeItem selected = view.selected();
  int number = 0;
  for (const auto& [item, depth] : order) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%4d ", ++number);
    std::string line = prefix;
    line += item == selected ? "> " : "  ";
    line.append(static_cast<std::size_t>(depth) * 2, ' ');
    line += view.FindItem(item)->label;
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<std::string> ControlLines(const RecordingDialogView& view,
                                      const res::DialogControl& control,
                                      const std::vector<ControlKey>& keys, std::size_t width) {
  switch (control.kind) {
    case res::ControlKind::kGroupBox:
      return {"-- " + ControlText(view, control) + " --"};
    case res::ControlKind::kStatic:
      return Wrap(Trim(ControlText(view, control)), width);
    case res::ControlKind::kEdit:
      return {"[" + ControlText(view, control) + "]"};
    case res::ControlKind::kPushButton:
    case res::ControlKind::kDefaultPushButton:
      return {ButtonLabel(view, control, keys)};
    case res::ControlKind::kAutoCheckBox:
      return {CheckBoxLabel(view, control, keys)};
    case res::ControlKind::kTreeView:
      return TreeLines(view);
  }
  return {};
}

std::string DrawDialog(const RecordingDialogView& view) {
  const res::DialogTemplate& dialog = *view.dialog_template();
  const std::vector<ControlKey> keys = AssignKeys(dialog);
  std::string out = "\n=== " + std::string(dialog.caption) + " ===\n";
  for (const auto& row : Rows(dialog)) {
    const std::string indent(static_cast<std::size_t>(GroupDepth(dialog, *row.front())) * 2, ' ');
    const std::size_t width = kTextWidth - std::min(indent.size(), kTextWidth / 2);
    if (row.size() == 1) {
      for (const std::string& line : ControlLines(view, *row.front(), keys, width)) {
        out += indent + line + "\n";
      }
      continue;
    }
    std::string line = indent;
    for (const res::DialogControl* control : row) {
      if (line.size() > indent.size()) line += "   ";
      const auto pieces = ControlLines(view, *control, keys, std::string::npos);
      if (!pieces.empty()) line += pieces.front();
    }
    out += line + "\n";
  }
  return out;
}

std::string DialogHelp(const RecordingDialogView& view) {
  const res::DialogTemplate& dialog = *view.dialog_template();
  std::string help = "Type a key and Enter:";
  for (const ControlKey& key : AssignKeys(dialog)) {
    help += " ";
    help += key.key;
    help += " = " + std::string(key.control->text) + ",";
  }
  if (const res::DialogControl* def = DefaultButton(dialog)) {
    help += " Enter alone = " + std::string(def->text) + ",";
  }
  if (res::FindControl(dialog, res::IDC_FOLDER_TREE) != nullptr) {
    help += " a number selects that folder, d and a number opens it,";
  }
  help += " ? shows this help.\n";
  return help;
}

// ---------------------------------------------------------------------------------------------
// Message box buttons by style

struct BoxButton {
  char key;
  std::string_view text;
  int code;
};

constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;

std::vector<BoxButton> BoxButtons(unsigned style) {
  switch (style & kMbButtonsMask) {
    case kMbOkCancel:
      return {{'o', "OK", kIdOk}, {'c', "Cancel", kIdCancel}};
    case 0x02:
      return {{'a', "Abort", kIdAbort}, {'r', "Retry", kIdRetry}, {'i', "Ignore", kIdIgnore}};
    case 0x03:
      return {{'y', "Yes", kIdYes}, {'n', "No", kIdNo}, {'c', "Cancel", kIdCancel}};
    case kMbYesNo:
      return {{'y', "Yes", kIdYes}, {'n', "No", kIdNo}};
    case 0x05:
      return {{'r', "Retry", kIdRetry}, {'c', "Cancel", kIdCancel}};
    default:
      return {{'o', "OK", kIdOk}};
  }
}

// The answer of a box closed without a choice: Cancel when there is one, else No, else the only
// button.
int ClosedAnswer(const std::vector<BoxButton>& buttons) {
  for (const BoxButton& b : buttons) {
    if (b.code == kIdCancel) return kIdCancel;
  }
  for (const BoxButton& b : buttons) {
    if (b.code == kIdNo) return kIdNo;
  }
  return buttons.back().code;
}

std::string_view IconMark(unsigned style) {
  switch (style & kMbIconMask) {
    case kMbIconStop:
      return "(x) ";
    case kMbIconQuestion:
      return "(?) ";
    case kMbIconExclamation:
      return "(!) ";
    case kMbIconInformation:
      return "(i) ";
    default:
      return "";
  }
}

// ---------------------------------------------------------------------------------------------
// The folder browser's path handling and readline hooks

// The full path of the folder `typed` names: "~" is the home folder, a relative path is taken
// from the current folder.
std::string FullPath(const std::string& typed) {
  std::string text = typed;
  if (!text.empty() && text[0] == '~' && (text.size() == 1 || text[1] == '/')) {
    const char* home = std::getenv("HOME");
    text = std::string(home != nullptr ? home : "") + text.substr(1);
  }
  std::error_code ec;
  fs::path path(text);
  if (path.is_relative()) path = fs::current_path(ec) / path;
  std::string full = path.lexically_normal().string();
  while (full.size() > 1 && full.back() == '/') full.pop_back();
  return full;
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

std::string StatusLine(const std::string& typed) {
  const std::string full = FullPath(typed);
  return "Folder: " + full + (IsFolder(full) ? "" : "  (no such folder)");
}

// readline is one global state; this is the browser that is reading, if any.
struct StatusLineState {
  std::FILE* out = nullptr;
  std::string prompt;
  std::string shown;
};
StatusLineState* g_status = nullptr;

// The status line, cut from the left to fit `columns`.
std::string Fit(const std::string& status, int columns) {
  const std::size_t room = columns > 8 ? static_cast<std::size_t>(columns - 1) : 79;
  if (status.size() <= room) return status;
  return "..." + status.substr(status.size() - (room - 3));
}

void DrawStatusLine(bool force) {
  if (g_status == nullptr) return;
  const std::string status = StatusLine(rl_line_buffer != nullptr ? rl_line_buffer : "");
  if (!force && status == g_status->shown) return;
  g_status->shown = status;
  int rows = 0;
  int columns = 0;
  rl_get_screen_size(&rows, &columns);
  if (columns <= 0) columns = 80;
  // The status line is the line above the first line of the input.
  const int input_rows = static_cast<int>(g_status->prompt.size() + rl_point) / columns;
  // Save the cursor, go up to the status line, rewrite it, come back.
  std::fprintf(g_status->out, "\0337\033[%dA\r\033[2K%s\0338", input_rows + 1,
               Fit(status, columns).c_str());
  std::fflush(g_status->out);
}

void RedisplayWithStatus() {
  rl_redisplay();
  DrawStatusLine(false);
}

// After a list of matches the input is drawn anew below it: give it a new status line first.
void DisplayMatchesWithStatus(char** matches, int count, int longest) {
  rl_display_match_list(matches, count, longest);
  if (g_status != nullptr) {
    g_status->shown = StatusLine(rl_line_buffer != nullptr ? rl_line_buffer : "");
    std::fprintf(g_status->out, "\n%s\n", g_status->shown.c_str());
  }
  rl_forced_update_display();
}

char** NoCompletion(const char* /*text*/, int /*start*/, int /*end*/) {
  rl_attempted_completion_over = 1;
  return nullptr;
}

// File name completion that offers folders only.
char* FolderCompletion(const char* text, int state) {
  for (;;) {
    char* match = rl_filename_completion_function(text, state);
    state = 1;
    if (match == nullptr) return nullptr;
    if (IsFolder(FullPath(match))) return match;
    std::free(match);
  }
}

bool CanMoveCursor(std::FILE* in, std::FILE* out) {
  const char* term = std::getenv("TERM");
  return isatty(fileno(in)) && isatty(fileno(out)) && term != nullptr && *term != '\0' &&
         std::strcmp(term, "dumb") != 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TerminalUserInterface::TerminalUserInterface(std::FILE* in, std::FILE* out)
    : in_(in), out_(out), live_status_(CanMoveCursor(in, out)) {}

void TerminalUserInterface::Print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

std::optional<std::string> TerminalUserInterface::ReadLine(const std::string& prompt,
                                                           bool folders) {
  waiting_ = false;
  static bool initialised = false;
  rl_instream = in_;
  rl_outstream = out_;
  if (!initialised) {
    rl_readline_name = "kvimport";
    rl_catch_signals = 0;
    rl_catch_sigwinch = 0;
    rl_initialize();
    rl_variable_bind("enable-bracketed-paste", "off");
    initialised = true;
  }
  static const char kWholeLine[] = "";
  const char* word_breaks = rl_completer_word_break_characters;
  rl_attempted_completion_function = folders ? nullptr : NoCompletion;
  rl_completion_entry_function = folders ? FolderCompletion : nullptr;
  if (folders) rl_completer_word_break_characters = kWholeLine;  // the whole line is one path

  StatusLineState status{out_, prompt, {}};
  if (folders && live_status_) {
    g_status = &status;
    rl_redisplay_function = RedisplayWithStatus;
    rl_completion_display_matches_hook = DisplayMatchesWithStatus;
    status.shown = StatusLine("");
    Print(status.shown + "\n");
  }

  char* line = readline(prompt.c_str());

  g_status = nullptr;
  rl_redisplay_function = rl_redisplay;
  rl_completion_display_matches_hook = nullptr;
  rl_completer_word_break_characters = word_breaks;
  rl_attempted_completion_function = nullptr;
  rl_completion_entry_function = nullptr;
  if (line == nullptr) {
    Print("\n");
    return std::nullopt;
  }
  std::string text(line);
  std::free(line);
  return text;
}

void TerminalUserInterface::ShowWaitCursor() {
  if (waiting_) return;
  waiting_ = true;
  Print("working...\n");
}

int TerminalUserInterface::MessageBox(WindowHandle /*owner*/, const std::string& text,
                                      const std::string& caption, unsigned style) {
  const std::vector<BoxButton> buttons = BoxButtons(style);
  std::string box = "\n=== " + caption + " ===\n";
  bool first = true;
  for (const std::string& line : Wrap(text, kTextWidth)) {
    box += (first ? std::string(IconMark(style)) : std::string()) + line + "\n";
    first = false;
  }
  for (const BoxButton& button : buttons) {
    box += "[";
    box += button.key;
    box += &button == &buttons.front() ? "/Enter] " : "] ";
    box += std::string(button.text) + "   ";
  }
  Print(box + "\n");
  for (;;) {
    const std::optional<std::string> line = ReadLine("> ", false);
    if (!line) return ClosedAnswer(buttons);
    const std::string answer = Lower(Trim(*line));
    if (answer.empty()) return buttons.front().code;
    for (const BoxButton& button : buttons) {
      if (answer == std::string(1, button.key) || answer == Lower(button.text)) return button.code;
    }
    Print("Please answer with one of the keys shown.\n");
  }
}

std::optional<std::string> TerminalUserInterface::BrowseForFolder(WindowHandle /*owner*/,
                                                                  const std::string& title) {
  Print("\n=== " + (title.empty() ? std::string("Browse for Folder") : title) + " ===\n" +
        "Type the folder's path (Tab completes; an empty line cancels).\n");
  for (;;) {
    const std::optional<std::string> line = ReadLine("Path: ", true);
    if (!line || Trim(*line).empty()) return std::nullopt;
    const std::string full = FullPath(Trim(*line));
    if (IsFolder(full)) {
      if (!live_status_) Print("Folder: " + full + "\n");
      return full;
    }
    Print("No such folder: " + full + "\n");
  }
}

int TerminalUserInterface::RunModal(WindowHandle /*owner*/, Dialog& dialog) {
  RecordingDialogView view(dialog.TemplateId());
  if (view.dialog_template() == nullptr) {
    Print("(a dialog this terminal cannot show was cancelled)\n");
    return kIdCancel;
  }
  dialog.OnInitDialog(view);
  bool redraw = true;
  while (!view.ended()) {
    dialog.OnIdleUpdate(view);
    if (redraw) Print(DrawDialog(view));
    const std::optional<std::string> line = ReadLine("> ", false);
    if (!line) {
      dialog.OnCommand(view, kIdCancel);
      if (!view.ended()) view.EndDialog(kIdCancel);
      break;
    }
    redraw = Execute(dialog, view, Lower(Trim(*line)));
  }
  return view.result().value_or(kIdCancel);
}

bool TerminalUserInterface::Execute(Dialog& dialog, RecordingDialogView& view,
                                    const std::string& command) {
  const res::DialogTemplate& dialog_template = *view.dialog_template();
  if (command == "?" || command == "help") {
    Print(DialogHelp(view));
    return false;
  }
  if (command.empty()) {
    const res::DialogControl* def = DefaultButton(dialog_template);
    return def != nullptr && Press(dialog, view, def->id);
  }
  const bool double_click =
      command.size() > 1 && command[0] == kDoubleClickKey &&
      (command[1] == ' ' || std::isdigit(static_cast<unsigned char>(command[1])));
  const std::string number = double_click ? Trim(command.substr(1)) : command;
  if (!number.empty() && std::all_of(number.begin(), number.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      })) {
    const auto order = view.DisplayOrder();
    const std::size_t index = number.size() < 9 ? std::stoul(number) : 0;
    if (index == 0 || index > order.size()) {
      Print("There is no folder " + number + ".\n");
      return false;
    }
    const TreeItem item = order[index - 1].first;
    view.SelectTreeItem(item);
    dialog.OnTreeSelChanged(view, res::IDC_FOLDER_TREE, item);
    if (double_click) dialog.OnTreeDoubleClick(view, res::IDC_FOLDER_TREE);
    return true;
  }
  for (const ControlKey& key : AssignKeys(dialog_template)) {
    if (command != std::string(1, key.key) && command != CommandWord(key.control->text)) continue;
    if (key.control->kind == res::ControlKind::kAutoCheckBox) {
      if (!view.IsEnabled(key.control->id)) {
        Print("\"" + std::string(key.control->text) + "\" is not available now.\n");
        return false;
      }
      view.SetCheck(key.control->id, !view.IsChecked(key.control->id));
      return true;
    }
    return Press(dialog, view, key.control->id);
  }
  Print("Unknown command \"" + command + "\"; type ? for help.\n");
  return false;
}

bool TerminalUserInterface::Press(Dialog& dialog, RecordingDialogView& view, int control_id) {
  if (!view.IsEnabled(control_id)) {
    const res::DialogControl* control = res::FindControl(*view.dialog_template(), control_id);
    const std::string text = control != nullptr ? std::string(control->text) : "That button";
    Print("\"" + text + "\" is not available now.\n");
    return false;
  }
  dialog.OnCommand(view, control_id);
  return true;
}

}  // namespace kv::platform
