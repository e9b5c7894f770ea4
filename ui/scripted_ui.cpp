#include "ui/scripted_ui.h"

#include <cstdio>
#include <utility>

#include "platform/text.h"
#include "res/dialogs.h"
#include "ui/message_box_buttons.h"

namespace kv::ui {

using platform::Dialog;
using platform::kIdCancel;
using platform::kIdNo;
using platform::kIdOk;
using platform::kMbOk;
using platform::kMbYesNo;
using platform::kNoTreeItem;
using platform::TreeItem;
using platform::WindowHandle;

namespace {

std::string Caption(const RecordingDialogView& view, int template_id) {
  const res::DialogTemplate* dialog = view.dialog_template();
  return dialog != nullptr ? std::string(dialog->caption) : "dialog " + std::to_string(template_id);
}

std::string ButtonText(const RecordingDialogView& view, int control_id) {
  const res::DialogTemplate* dialog = view.dialog_template();
  const res::DialogControl* control =
      dialog != nullptr ? res::FindControl(*dialog, control_id) : nullptr;
  return control != nullptr ? std::string(control->text) : std::to_string(control_id);
}

}  // namespace

void ScriptedUserInterface::AnswerLocation(std::optional<std::string> folder) {
  locations_.push_back({false, std::move(folder)});
}

void ScriptedUserInterface::AcceptProposedLocation() { locations_.push_back({true, std::nullopt}); }

void ScriptedUserInterface::AnswerFolderDialog(std::optional<FolderAnswer> answer) {
  folder_answers_.push_back(std::move(answer));
}

void ScriptedUserInterface::AnswerMessageBox(int button) { message_box_answers_.push_back(button); }

void ScriptedUserInterface::AnswerBrowse(std::optional<std::string> folder) {
  browse_answers_.push_back(std::move(folder));
}

int ScriptedUserInterface::MessageBox(WindowHandle /*owner*/, const std::string& text,
                                      const std::string& caption, unsigned style) {
  ++questions_asked_;
  transcript_.push_back("message: " + caption + ": " + text);
  if (message_box_answers_.empty()) {
    Note("message box \"" + caption + "\" answered as closed: no answer was scripted", true);
    return ClosedAnswer(style);
  }
  const int button = message_box_answers_.front();
  message_box_answers_.pop_front();
  return button;
}

std::optional<std::string> ScriptedUserInterface::BrowseForFolder(WindowHandle /*owner*/,
                                                                  const std::string& title) {
  ++questions_asked_;
  transcript_.push_back("browse: " + title);
  std::optional<std::string> answer;
  if (pending_browse_) {
    answer = std::exchange(pending_browse_, std::nullopt);
  } else if (!browse_answers_.empty()) {
    answer = std::move(browse_answers_.front());
    browse_answers_.pop_front();
  } else {
    Note("folder browser \"" + title + "\" cancelled: no answer was scripted", true);
  }
  transcript_.push_back(answer ? "chosen: " + *answer : "chosen: none");
  return answer;
}

int ScriptedUserInterface::RunModal(WindowHandle /*owner*/, Dialog& dialog) {
  ++questions_asked_;
  const int template_id = dialog.TemplateId();
  RecordingDialogView view(template_id);
  transcript_.push_back("dialog " + std::to_string(template_id) + ": " +
                        Caption(view, template_id));
  dialog.OnInitDialog(view);
  dialog.OnIdleUpdate(view);

  if (template_id == res::IDD_LOCATION) {
    RunLocationDialog(dialog, view);
  } else if (template_id == res::IDD_FOLDER_SELECT) {
    RunFolderDialog(dialog, view);
  } else {
    Cancel(dialog, view, "no answer was scripted", true);
  }
  // A controller that ignored the last button still must not keep the caller waiting.
  if (!view.ended()) Cancel(dialog, view, "the dialog did not end", false);
  const int result = view.result().value_or(kIdCancel);
  transcript_.push_back("end " + std::to_string(result));
  return result;
}

void ScriptedUserInterface::RunLocationDialog(Dialog& dialog, RecordingDialogView& view) {
  transcript_.push_back("shown " + std::to_string(res::IDC_PROMPT) + ": " +
                        view.GetControlText(res::IDC_PROMPT));
  transcript_.push_back("shown " + std::to_string(res::IDC_LOCATION) + ": " +
                        view.GetControlText(res::IDC_LOCATION));
  if (locations_.empty()) return Cancel(dialog, view, "no answer was scripted", true);
  LocationAnswer answer = std::move(locations_.front());
  locations_.pop_front();
  if (answer.as_proposed) {
    if (view.GetControlText(res::IDC_LOCATION).empty()) {
      return Cancel(dialog, view, "it proposed no location", true);
    }
    return Press(dialog, view, kIdOk);
  }
  const std::optional<std::string>& folder = answer.folder;
  if (!folder) return Press(dialog, view, kIdCancel);

  if (*folder != view.GetControlText(res::IDC_LOCATION)) {
    pending_browse_ = *folder;
    Press(dialog, view, res::IDC_BROWSE);
    pending_browse_.reset();
    if (view.ended()) return;
  }
  Press(dialog, view, kIdOk);
}

void ScriptedUserInterface::RunFolderDialog(Dialog& dialog, RecordingDialogView& view) {
  if (folder_answers_.empty()) return Cancel(dialog, view, "no answer was scripted", true);
  std::optional<FolderAnswer> answer = std::move(folder_answers_.front());
  folder_answers_.pop_front();
  if (!answer) return Press(dialog, view, kIdCancel);

  folder_paths_.clear();
  folder_root_.clear();
  TreeItem loose_match = kNoTreeItem;
  std::string_view wanted = answer->path ? std::string_view(*answer->path) : std::string_view();
  while (wanted.size() > 1 && wanted.back() == '/') wanted.remove_suffix(1);
  for (const auto& [tree_item, depth] : view.DisplayOrder()) {
    if (depth == 0) {
      const auto* root = view.FindItem(tree_item);
      if (folder_root_.empty() && root != nullptr) folder_root_ = root->label;
      continue;
    }
    folder_paths_.push_back(view.ItemPath(tree_item));
    if (loose_match == kNoTreeItem && platform::EqualsIgnoringCase(folder_paths_.back(), wanted)) {
      loose_match = tree_item;
    }
  }
  TreeItem item = view.FindItemByPath(answer->path);
  if (item == kNoTreeItem && answer->path) item = loose_match;
  const std::string shown_path = answer->path ? *answer->path : "(root item)";
  if (item == kNoTreeItem) {
    if (answer->path) unknown_folder_ = answer->path;
    return Cancel(dialog, view, "no folder \"" + shown_path + "\" in the tree", false);
  }
  transcript_.push_back("select " + shown_path);
  view.SelectTreeItem(item);
  dialog.OnTreeSelChanged(view, res::IDC_FOLDER_TREE, item);
  dialog.OnIdleUpdate(view);

  view.SetCheck(res::IDC_SKIP_EMPTY, answer->skip_empty);
  transcript_.push_back("check " + ButtonText(view, res::IDC_SKIP_EMPTY) + ": " +
                        (answer->skip_empty ? "on" : "off"));
  Press(dialog, view, kIdOk);
}

void ScriptedUserInterface::Press(Dialog& dialog, RecordingDialogView& view, int control_id) {
  const std::string text = ButtonText(view, control_id);
  if (!view.IsEnabled(control_id)) {
    return Cancel(dialog, view, "\"" + text + "\" is disabled", false);
  }
  transcript_.push_back("press " + text);
  dialog.OnCommand(view, control_id);
  if (!view.ended()) dialog.OnIdleUpdate(view);
}

void ScriptedUserInterface::Cancel(Dialog& dialog, RecordingDialogView& view,
                                   const std::string& why, bool unanswered) {
  Note("dialog \"" + Caption(view, dialog.TemplateId()) + "\" cancelled: " + why, unanswered);
  dialog.OnCommand(view, kIdCancel);
  if (!view.ended()) view.EndDialog(kIdCancel);
}

void ScriptedUserInterface::Note(const std::string& why, bool unanswered) {
  transcript_.push_back("cancelled: " + why);
  if (unanswered && !report_unanswered_) return;
  std::fprintf(stderr, "scripted user interface: %s\n", why.c_str());
}

}  // namespace kv::ui
