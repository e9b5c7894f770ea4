#include "ui/remote_ui.h"

#include <algorithm>
#include <array>

#include "res/dialogs.h"
#include "ui/message_box_buttons.h"
#include "ui/recording_view.h"

namespace kv::ui {

using platform::Dialog;
using platform::DialogView;
using platform::kIdCancel;
using platform::kNoTreeItem;
using platform::kTreeRoot;
using platform::TreeItem;
using platform::TreeItemSpec;
using platform::WindowHandle;

namespace {

using ChangeKind = ViewChange::Kind;
using ActionKind = DialogAction::Kind;

constexpr std::array<std::pair<ChangeKind, std::string_view>, 9> kChangeNames{{
    {ChangeKind::kText, "text"},
    {ChangeKind::kEnable, "enable"},
    {ChangeKind::kFocus, "focus"},
    {ChangeKind::kCheck, "check"},
    {ChangeKind::kTreeImages, "tree-images"},
    {ChangeKind::kInsertItem, "insert-item"},
    {ChangeKind::kDeleteAll, "delete-all"},
    {ChangeKind::kExpand, "expand"},
    {ChangeKind::kEnd, "end"},
}};

constexpr std::array<std::pair<ActionKind, std::string_view>, 3> kActionNames{{
    {ActionKind::kCommand, "command"},
    {ActionKind::kSelect, "select"},
    {ActionKind::kDoubleClick, "double-click"},
}};

template <typename Kind, std::size_t N>
std::string_view NameOf(const std::array<std::pair<Kind, std::string_view>, N>& names, Kind kind) {
  for (const auto& [known, name] : names) {
    if (known == kind) return name;
  }
  return "";
}

template <typename Kind, std::size_t N>
std::optional<Kind> KindOf(const std::array<std::pair<Kind, std::string_view>, N>& names,
                           std::string_view name) {
  for (const auto& [kind, known] : names) {
    if (known == name) return kind;
  }
  return std::nullopt;
}

const res::DialogControl* TemplateControl(int template_id, int control_id) {
  const res::DialogTemplate* dialog = res::FindDialogTemplate(template_id);
  return dialog != nullptr ? res::FindControl(*dialog, control_id) : nullptr;
}

bool IsKind(int template_id, int control_id, std::initializer_list<res::ControlKind> kinds) {
  const res::DialogControl* control = TemplateControl(template_id, control_id);
  return control != nullptr && std::find(kinds.begin(), kinds.end(), control->kind) != kinds.end();
}

std::string Caption(int template_id) {
  const res::DialogTemplate* dialog = res::FindDialogTemplate(template_id);
  return dialog != nullptr ? std::string(dialog->caption) : "dialog " + std::to_string(template_id);
}

ViewChange Change(ChangeKind kind, int control, std::int64_t value = 0, std::string text = {}) {
  ViewChange change;
  change.kind = kind;
  change.control = control;
  change.value = value;
  change.text = std::move(text);
  return change;
}

DialogAction Action(ActionKind kind, int control, TreeItem item = kNoTreeItem) {
  DialogAction action;
  action.kind = kind;
  action.control = control;
  action.item = item;
  return action;
}

std::string NoAgent(WindowHandle owner) {
  return "no user-interface agent for window " + std::to_string(owner) +
         " (SetParent takes a handle from RegisterUiAgent)";
}

}  // namespace

std::string_view ChangeKindName(ViewChange::Kind kind) { return NameOf(kChangeNames, kind); }
std::optional<ViewChange::Kind> ChangeKindFromName(std::string_view name) {
  return KindOf(kChangeNames, name);
}
std::string_view ActionKindName(DialogAction::Kind kind) { return NameOf(kActionNames, kind); }
std::optional<DialogAction::Kind> ActionKindFromName(std::string_view name) {
  return KindOf(kActionNames, name);
}

// The controller's view: keeps the state the controller reads back and records each change, its
// texts in UTF-8, for the agent.
class RemoteUserInterface::RecordedView final : public DialogView {
 public:
  RecordedView(int template_id, platform::CodePage& code_page)
      : state_(template_id), code_page_(code_page) {}

  // Only what changes what the person sees is sent: controllers refresh their controls after
  // every event, mostly with what they already show.
  void SetControlText(int control_id, const std::string& text) override {
    if (state_.ControlText(control_id) == text) return;
    state_.SetControlText(control_id, text);
    Add(Change(ChangeKind::kText, control_id, 0, code_page_.ToUtf8(text)));
  }
  std::string GetControlText(int control_id) override { return state_.GetControlText(control_id); }
  void EnableControl(int control_id, bool enabled) override {
    if (state_.IsEnabled(control_id) == enabled) return;
    state_.EnableControl(control_id, enabled);
    Add(Change(ChangeKind::kEnable, control_id, enabled));
  }
  void SetFocus(int control_id) override {
    state_.SetFocus(control_id);
    Add(Change(ChangeKind::kFocus, control_id));
  }
  void SetCheck(int control_id, bool checked) override {
    if (state_.Checked(control_id) == checked) return;
    state_.SetCheck(control_id, checked);
    Add(Change(ChangeKind::kCheck, control_id, checked));
  }
  bool IsChecked(int control_id) override { return state_.IsChecked(control_id); }
  bool SetTreeImages(int tree_id, int bitmap_id) override {
    Add(Change(ChangeKind::kTreeImages, tree_id, bitmap_id));
    return state_.SetTreeImages(tree_id, bitmap_id);
  }
  TreeItem InsertTreeItem(int tree_id, const TreeItemSpec& spec) override {
    TreeItem item = state_.InsertTreeItem(tree_id, spec);
    if (item != kNoTreeItem) {
      ViewChange change =
          Change(ChangeKind::kInsertItem, tree_id, spec.data, code_page_.ToUtf8(spec.label));
      change.item = item;
      change.parent = spec.parent;
      change.image = spec.image;
      change.selected_image = spec.selected_image;
      change.mask = spec.mask;
      Add(std::move(change));
    }
    return item;
  }
  void DeleteAllTreeItems(int tree_id) override {
    state_.DeleteAllTreeItems(tree_id);
    Add(Change(ChangeKind::kDeleteAll, tree_id));
  }
  void ExpandTreeItem(int tree_id, TreeItem item) override {
    state_.ExpandTreeItem(tree_id, item);
    ViewChange change = Change(ChangeKind::kExpand, tree_id);
    change.item = item;
    Add(std::move(change));
  }
  TreeItem GetSelectedTreeItem(int tree_id) override { return state_.GetSelectedTreeItem(tree_id); }
  std::intptr_t GetTreeItemData(int tree_id, TreeItem item) override {
    return state_.GetTreeItemData(tree_id, item);
  }
  void EndDialog(int result) override {
    if (state_.ended()) return;
    state_.EndDialog(result);
    Add(Change(ChangeKind::kEnd, 0, result));
  }

  RecordingDialogView& state() { return state_; }
  std::vector<ViewChange> Take() { return std::exchange(changes_, {}); }

 private:
  void Add(ViewChange change) { changes_.push_back(std::move(change)); }

  RecordingDialogView state_;
  platform::CodePage& code_page_;
  std::vector<ViewChange> changes_;
};

RemoteUserInterface::RemoteUserInterface(AgentLookup agents, platform::CodePage& code_page, Log log)
    : agents_(std::move(agents)), code_page_(code_page), log_(std::move(log)) {}

int RemoteUserInterface::MessageBox(WindowHandle owner, const std::string& text,
                                    const std::string& caption, unsigned style) {
  last_owner_ = owner;
  const std::string shown = "message box \"" + code_page_.ToUtf8(caption) + ": " +
                            code_page_.ToUtf8(text) + "\" answered as closed: ";
  DialogAgent* agent = agents_(owner);
  if (agent == nullptr) {
    log_(shown + NoAgent(owner));
    return ClosedAnswer(style);
  }
  std::optional<int> button =
      agent->MessageBox(code_page_.ToUtf8(text), code_page_.ToUtf8(caption), style);
  if (!button) {
    log_(shown + "the user-interface agent did not answer");
    return ClosedAnswer(style);
  }
  std::vector<int> buttons = MessageBoxButtons(style);
  if (std::find(buttons.begin(), buttons.end(), *button) == buttons.end()) {
    log_(shown + "the agent answered " + std::to_string(*button) + ", which the box does not have");
    return ClosedAnswer(style);
  }
  return *button;
}

std::optional<std::string> RemoteUserInterface::BrowseForFolder(WindowHandle owner,
                                                                const std::string& title) {
  last_owner_ = owner;
  const std::string shown = "folder browser \"" + code_page_.ToUtf8(title) + "\" cancelled: ";
  DialogAgent* agent = agents_(owner);
  if (agent == nullptr) {
    log_(shown + NoAgent(owner));
    return std::nullopt;
  }
  std::optional<std::string> folder;
  if (!agent->BrowseForFolder(code_page_.ToUtf8(title), folder)) {
    log_(shown + "the user-interface agent did not answer");
    return std::nullopt;
  }
  if (!folder) return std::nullopt;
  return code_page_.FromUtf8(*folder);
}

void RemoteUserInterface::ShowWaitCursor() {
  if (DialogAgent* agent = agents_(last_owner_)) agent->ShowWaitCursor();
}

int RemoteUserInterface::RunModal(WindowHandle owner, Dialog& dialog) {
  last_owner_ = owner;
  const int template_id = dialog.TemplateId();
  RecordedView view(template_id, code_page_);
  dialog.OnInitDialog(view);
  if (!view.state().ended()) dialog.OnIdleUpdate(view);

  DialogAgent* agent = agents_(owner);
  if (agent == nullptr) {
    Cancel(dialog, view, NoAgent(owner));
    return view.state().result().value_or(kIdCancel);
  }
  const std::uint32_t number = next_dialog_++;
  std::optional<DialogAction> action = agent->OpenDialog(number, template_id, view.Take());
  while (!view.state().ended()) {
    if (!action) {
      // The agent is gone: nobody to tell that the dialog ends.
      Cancel(dialog, view, "the user-interface agent did not answer");
      return view.state().result().value_or(kIdCancel);
    }
    if (!Apply(dialog, view, *action)) {
      Cancel(dialog, view, "the agent answered with something the dialog does not offer");
      break;
    }
    if (view.state().ended()) break;
    dialog.OnIdleUpdate(view);
    agent = agents_(owner);
    action = agent != nullptr ? agent->UpdateDialog(number, view.Take()) : std::nullopt;
  }
  if ((agent = agents_(owner)) != nullptr) agent->CloseDialog(number, view.Take());
  return view.state().result().value_or(kIdCancel);
}

bool RemoteUserInterface::Apply(Dialog& dialog, RecordedView& view, const DialogAction& action) {
  const int template_id = dialog.TemplateId();
  // What the person changed on the way: the check boxes the template has, nothing else.
  for (const auto& [control_id, checked] : action.checks) {
    if (IsKind(template_id, control_id, {res::ControlKind::kAutoCheckBox})) {
      view.state().SetCheck(control_id, checked);
    }
  }
  switch (action.kind) {
    case ActionKind::kCommand: {
      // Cancel (Escape) is always at hand; any other command needs an enabled button.
      bool pressable =
          action.control == kIdCancel ||
          (IsKind(template_id, action.control,
                  {res::ControlKind::kPushButton, res::ControlKind::kDefaultPushButton}) &&
           view.state().IsEnabled(action.control));
      if (!pressable) return false;
      dialog.OnCommand(view, action.control);
      return true;
    }
    case ActionKind::kSelect:
      if (!IsKind(template_id, action.control, {res::ControlKind::kTreeView}) ||
          view.state().FindItem(action.item) == nullptr) {
        return false;
      }
      view.state().SelectTreeItem(action.item);
      dialog.OnTreeSelChanged(view, action.control, action.item);
      return true;
    case ActionKind::kDoubleClick:
      if (!IsKind(template_id, action.control, {res::ControlKind::kTreeView})) return false;
      dialog.OnTreeDoubleClick(view, action.control);
      return true;
  }
  return false;
}

void RemoteUserInterface::Cancel(Dialog& dialog, RecordedView& view, const std::string& why) {
  log_("dialog \"" + Caption(dialog.TemplateId()) + "\" cancelled: " + why);
  if (!view.state().ended()) dialog.OnCommand(view, kIdCancel);
  if (!view.state().ended()) view.EndDialog(kIdCancel);
}

DialogMirror::DialogMirror(int template_id, std::vector<ViewChange> opening, Channel& channel)
    : template_id_(template_id), opening_(std::move(opening)), channel_(channel) {}

bool DialogMirror::OnInitDialog(DialogView& view) {
  Replay(view, std::exchange(opening_, {}));
  return true;
}

void DialogMirror::OnCommand(DialogView& view, int control_id) {
  Send(view, Action(ActionKind::kCommand, control_id));
}

void DialogMirror::OnTreeSelChanged(DialogView& view, int tree_id, TreeItem item) {
  auto remote = remote_of_.find(item);
  Send(view, Action(ActionKind::kSelect, tree_id,
                    remote != remote_of_.end() ? remote->second : kNoTreeItem));
}

void DialogMirror::OnTreeDoubleClick(DialogView& view, int tree_id) {
  Send(view, Action(ActionKind::kDoubleClick, tree_id));
}

void DialogMirror::Send(DialogView& view, DialogAction action) {
  if (ended_) return;
  if (const res::DialogTemplate* dialog = res::FindDialogTemplate(template_id_)) {
    for (const res::DialogControl& control : dialog->controls) {
      if (control.kind == res::ControlKind::kAutoCheckBox) {
        action.checks.emplace_back(control.id, view.IsChecked(control.id));
      }
    }
  }
  std::optional<std::vector<ViewChange>> changes = channel_.Exchange(action);
  if (!changes) {
    ended_ = true;
    view.EndDialog(kIdCancel);
    return;
  }
  Replay(view, *changes);
}

void DialogMirror::Replay(DialogView& view, const std::vector<ViewChange>& changes) {
  for (const ViewChange& change : changes) {
    switch (change.kind) {
      case ChangeKind::kText:
        view.SetControlText(change.control, change.text);
        break;
      case ChangeKind::kEnable:
        view.EnableControl(change.control, change.value != 0);
        break;
      case ChangeKind::kFocus:
        view.SetFocus(change.control);
        break;
      case ChangeKind::kCheck:
        view.SetCheck(change.control, change.value != 0);
        break;
      case ChangeKind::kTreeImages:
        view.SetTreeImages(change.control, static_cast<int>(change.value));
        break;
      case ChangeKind::kInsertItem: {
        TreeItemSpec spec;
        if (change.parent != kTreeRoot) {
          auto parent = local_of_.find(change.parent);
          if (parent == local_of_.end()) break;  // its parent never arrived: not shown
          spec.parent = parent->second;
        }
        spec.label = change.text;
        spec.image = change.image;
        spec.selected_image = change.selected_image;
        spec.data = static_cast<std::intptr_t>(change.value);
        spec.mask = change.mask;
        TreeItem local = view.InsertTreeItem(change.control, spec);
        if (local != kNoTreeItem) {
          local_of_[change.item] = local;
          remote_of_[local] = change.item;
        }
        break;
      }
      case ChangeKind::kDeleteAll:
        view.DeleteAllTreeItems(change.control);
        local_of_.clear();
        remote_of_.clear();
        break;
      case ChangeKind::kExpand:
        if (auto local = local_of_.find(change.item); local != local_of_.end()) {
          view.ExpandTreeItem(change.control, local->second);
        }
        break;
      case ChangeKind::kEnd:
        ended_ = true;
        view.EndDialog(static_cast<int>(change.value));
        break;
    }
  }
}

}  // namespace kv::ui
