#include "ui/terminal/terminal_ui.h"

// readline's headers need stdio first.
#include <readline/readline.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/text.h"
#include "res/dialogs.h"
#include "ui/recording_view.h"
#include "ui/terminal/dialog_text.h"

namespace kv::ui {

using platform::CodePage;
using platform::Dialog;
using platform::kIdCancel;
using platform::kIdNo;
using platform::kIdOk;
using platform::kIdYes;
using platform::kMbIconExclamation;
using platform::kMbIconInformation;
using platform::kMbIconQuestion;
using platform::kMbIconStop;
using platform::kMbOkCancel;
using platform::kMbYesNo;
using platform::TreeItem;
using platform::WindowHandle;

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kTextWidth = 76;
constexpr unsigned kMbButtonsMask = 0x0F;
constexpr unsigned kMbIconMask = 0xF0;

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
    std::fprintf(g_status->out, "%s\n", g_status->shown.c_str());
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

// Points readline at the front's streams and sets its hooks for one line of input: no completion
// for commands; folder completion and the status line for the folder browser. Every hook is put
// back when the line has been read.
class ReadlineSession {
 public:
  ReadlineSession(std::FILE* in, std::FILE* out, const std::string& prompt, bool folders,
                  bool live_status)
      : status_{out, prompt, {}}, word_breaks_(rl_completer_word_break_characters) {
    rl_instream = in;
    rl_outstream = out;
    InitialiseOnce();
    rl_attempted_completion_function = folders ? nullptr : NoCompletion;
    rl_completion_entry_function = folders ? FolderCompletion : nullptr;
    if (folders) rl_completer_word_break_characters = kWholeLine;  // the line is one path
    if (folders && live_status) {
      g_status = &status_;
      rl_redisplay_function = RedisplayWithStatus;
      rl_completion_display_matches_hook = DisplayMatchesWithStatus;
      status_.shown = StatusLine("");
      std::fprintf(out, "%s\n", status_.shown.c_str());
      std::fflush(out);
    }
  }
  ~ReadlineSession() {
    g_status = nullptr;
    rl_redisplay_function = rl_redisplay;
    rl_completion_display_matches_hook = nullptr;
    rl_completer_word_break_characters = word_breaks_;
    rl_attempted_completion_function = nullptr;
    rl_completion_entry_function = nullptr;
  }
  ReadlineSession(const ReadlineSession&) = delete;
  ReadlineSession& operator=(const ReadlineSession&) = delete;

 private:
  static constexpr char kWholeLine[] = "";

  static void InitialiseOnce() {
    static bool initialised = false;
    if (initialised) return;
    rl_readline_name = "kvimport";
    rl_initialize();
    rl_variable_bind("enable-bracketed-paste", "off");
    initialised = true;
  }

  StatusLineState status_;
  const char* word_breaks_;
};

bool CanMoveCursor(std::FILE* in, std::FILE* out) {
  const char* term = std::getenv("TERM");
  return isatty(fileno(in)) && isatty(fileno(out)) && term != nullptr && *term != '\0' &&
         std::strcmp(term, "dumb") != 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TerminalUserInterface::TerminalUserInterface(std::FILE* in, std::FILE* out, CodePage* code_page)
    : in_(in), out_(out), code_page_(code_page), live_status_(CanMoveCursor(in, out)) {}

std::string TerminalUserInterface::Shown(const std::string& text) const {
  return code_page_ != nullptr ? code_page_->ToUtf8(text) : text;
}

std::string TerminalUserInterface::Chosen(const std::string& typed) const {
  if (code_page_ == nullptr) return typed;
  // A name the code page cannot spell stays in UTF-8, which the file system layer also accepts.
  std::string spelled = code_page_->FromUtf8(typed);
  return code_page_->ToUtf8(spelled) == typed ? spelled : typed;
}

void TerminalUserInterface::Print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

std::optional<std::string> TerminalUserInterface::ReadLine(const std::string& prompt,
                                                           bool folders) {
  waiting_ = false;
  ReadlineSession session(in_, out_, prompt, folders, live_status_);
  char* line = readline(prompt.c_str());
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
  std::string box = "\n=== " + Shown(caption) + " ===\n";
  bool first = true;
  for (const std::string& line : Wrap(Shown(text), kTextWidth)) {
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
    const std::string answer = platform::ToLowerAscii(platform::TrimBlanks(*line));
    if (answer.empty()) return buttons.front().code;
    for (const BoxButton& button : buttons) {
      if (answer == std::string(1, button.key) || answer == platform::ToLowerAscii(button.text))
        return button.code;
    }
    Print("Please answer with one of the keys shown.\n");
  }
}

std::optional<std::string> TerminalUserInterface::BrowseForFolder(WindowHandle /*owner*/,
                                                                  const std::string& title) {
  Print("\n=== " + (title.empty() ? std::string("Browse for Folder") : Shown(title)) + " ===\n" +
        "Type the folder's path (Tab completes; an empty line cancels).\n");
  for (;;) {
    const std::optional<std::string> line = ReadLine("Path: ", true);
    if (!line || platform::TrimBlanks(*line).empty()) return std::nullopt;
    const std::string full = FullPath(std::string(platform::TrimBlanks(*line)));
    if (IsFolder(full)) {
      if (!live_status_) Print("Folder: " + full + "\n");
      return Chosen(full);
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
    if (redraw) Print(Shown(DrawDialog(view)));
    const std::optional<std::string> line = ReadLine("> ", false);
    if (!line) {
      dialog.OnCommand(view, kIdCancel);
      if (!view.ended()) view.EndDialog(kIdCancel);
      break;
    }
    redraw = Execute(dialog, view, platform::ToLowerAscii(platform::TrimBlanks(*line)));
  }
  return view.result().value_or(kIdCancel);
}

bool TerminalUserInterface::Execute(Dialog& dialog, RecordingDialogView& view,
                                    const std::string& command) {
  const res::DialogTemplate& dialog_template = *view.dialog_template();
  if (command == "?" || command == "help") {
    for (const std::string& line : Wrap(Shown(DialogHelp(view)), kTextWidth)) Print(line + "\n");
    return false;
  }
  if (command.empty()) {
    const res::DialogControl* def = DefaultButton(dialog_template);
    return def != nullptr && Press(dialog, view, def->id);
  }
  const bool double_click =
      command.size() > 1 && command[0] == kDoubleClickKey &&
      (command[1] == ' ' || std::isdigit(static_cast<unsigned char>(command[1])));
  const std::string number =
      double_click ? std::string(platform::TrimBlanks(std::string_view(command).substr(1)))
                   : command;
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

}  // namespace kv::ui
