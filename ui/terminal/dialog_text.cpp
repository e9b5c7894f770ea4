#include "ui/terminal/dialog_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/text.h"

namespace kv::ui {

using platform::kIdCancel;
using platform::TreeItem;

constexpr std::size_t kTextWidth = 76;

// ---------------------------------------------------------------------------------------------
// Text helpers

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

std::string CommandWord(std::string_view text) {
  std::string word = platform::ToLowerAscii(text);
  while (!word.empty() && word.back() == '.') word.pop_back();
  return word;
}

// ---------------------------------------------------------------------------------------------
// Keys

namespace {

bool IsPressable(const res::DialogControl& control) {
  return control.id != res::IDC_STATIC && (control.kind == res::ControlKind::kPushButton ||
                                           control.kind == res::ControlKind::kDefaultPushButton ||
                                           control.kind == res::ControlKind::kAutoCheckBox);
}

const ControlKey* FindKey(const std::vector<ControlKey>& keys, int control_id) {
  for (const ControlKey& key : keys) {
    if (key.control->id == control_id) return &key;
  }
  return nullptr;
}

}  // namespace

std::vector<ControlKey> AssignKeys(const res::DialogTemplate& dialog) {
  std::vector<ControlKey> keys;
  std::string taken{kCancelKey, kDoubleClickKey};
  for (const res::DialogControl& control : dialog.controls) {
    if (!IsPressable(control)) continue;
    if (control.id == kIdCancel) {
      keys.push_back({kCancelKey, &control});
      continue;
    }
    for (char c : platform::ToLowerAscii(control.text)) {
      if (std::isalpha(static_cast<unsigned char>(c)) && taken.find(c) == std::string::npos) {
        taken += c;
        keys.push_back({c, &control});
        break;
      }
    }
  }
  return keys;
}

const res::DialogControl* DefaultButton(const res::DialogTemplate& dialog) {
  for (const res::DialogControl& control : dialog.controls) {
    if (control.kind == res::ControlKind::kDefaultPushButton) return &control;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Drawing

namespace {

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
      return Wrap(platform::TrimBlanks(ControlText(view, control)), width);
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

}  // namespace

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
  help += " ? shows this help.";
  return help;
}

}  // namespace kv::ui
