#include "ui/recording_view.h"

#include <algorithm>

namespace kv::ui {

using platform::kNoTreeItem;
using platform::kTreeItemData;
using platform::kTreeRoot;
using platform::TreeItem;
using platform::TreeItemSpec;

RecordingDialogView::RecordingDialogView(int template_id)
    : template_(res::FindDialogTemplate(template_id)) {
  if (template_ == nullptr) return;
  for (const res::DialogControl& control : template_->controls) {
    if (control.id != res::IDC_STATIC) controls_[control.id].text = std::string(control.text);
  }
}

void RecordingDialogView::SetControlText(int control_id, const std::string& text) {
  controls_[control_id].text = text;
}

std::string RecordingDialogView::GetControlText(int control_id) { return ControlText(control_id); }

std::string RecordingDialogView::ControlText(int control_id) const {
  auto found = controls_.find(control_id);
  return found == controls_.end() ? std::string() : found->second.text;
}

void RecordingDialogView::EnableControl(int control_id, bool enabled) {
  controls_[control_id].enabled = enabled;
}

bool RecordingDialogView::IsEnabled(int control_id) const {
  auto found = controls_.find(control_id);
  return found == controls_.end() || found->second.enabled;
}

void RecordingDialogView::SetCheck(int control_id, bool checked) {
  controls_[control_id].checked = checked;
}

bool RecordingDialogView::IsChecked(int control_id) { return Checked(control_id); }

bool RecordingDialogView::Checked(int control_id) const {
  auto found = controls_.find(control_id);
  return found != controls_.end() && found->second.checked;
}

bool RecordingDialogView::SetTreeImages(int /*tree_id*/, int /*bitmap_id*/) {
  images_attached_ = images_available_;
  return images_attached_;
}

TreeItem RecordingDialogView::InsertTreeItem(int /*tree_id*/, const TreeItemSpec& spec) {
  if (spec.parent != kTreeRoot && FindItem(spec.parent) == nullptr) return kNoTreeItem;
  Item item;
  item.handle = items_.size() + 1;
  item.parent = spec.parent;
  item.label = spec.label;
  item.image = spec.image;
  item.selected_image = spec.selected_image;
  item.data = (spec.mask & kTreeItemData) != 0 ? spec.data : 0;
  item.mask = spec.mask;
  items_.push_back(item);
  children_.emplace_back();
  if (spec.parent == kTreeRoot) {
    top_level_.push_back(item.handle);
  } else {
    children_[spec.parent - 1].push_back(item.handle);
  }
  return item.handle;
}

void RecordingDialogView::DeleteAllTreeItems(int /*tree_id*/) {
  // Handles are positions in items_, so the old items stay as tombstones without a parent link.
  for (Item& item : items_) item.handle = kNoTreeItem;
  for (auto& children : children_) children.clear();
  top_level_.clear();
  selected_ = kNoTreeItem;
}

void RecordingDialogView::ExpandTreeItem(int /*tree_id*/, TreeItem item) {
  if (item != kNoTreeItem && item <= items_.size()) items_[item - 1].expanded = true;
}

std::intptr_t RecordingDialogView::GetTreeItemData(int /*tree_id*/, TreeItem item) {
  const Item* found = FindItem(item);
  return found == nullptr ? 0 : found->data;
}

void RecordingDialogView::EndDialog(int result) {
  if (!result_) result_ = result;
}

const RecordingDialogView::Item* RecordingDialogView::FindItem(TreeItem handle) const {
  if (handle == kNoTreeItem || handle > items_.size()) return nullptr;
  const Item& item = items_[handle - 1];
  return item.handle == kNoTreeItem ? nullptr : &item;
}

std::vector<TreeItem> RecordingDialogView::Children(TreeItem parent) const {
  if (parent == kTreeRoot) return top_level_;
  if (FindItem(parent) == nullptr) return {};
  return children_[parent - 1];
}

std::vector<std::pair<TreeItem, int>> RecordingDialogView::DisplayOrder() const {
  // Iterative, so that a deep tree cannot exhaust the stack.
  std::vector<std::pair<TreeItem, int>> order;
  std::vector<std::pair<TreeItem, int>> pending;
  for (auto it = top_level_.rbegin(); it != top_level_.rend(); ++it) pending.emplace_back(*it, 0);
  while (!pending.empty()) {
    const auto [item, depth] = pending.back();
    pending.pop_back();
    order.emplace_back(item, depth);
    const auto& children = children_[item - 1];
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      pending.emplace_back(*it, depth + 1);
    }
  }
  return order;
}

std::string RecordingDialogView::ItemPath(TreeItem item) const {
  std::vector<const std::string*> labels;
  for (const Item* current = FindItem(item); current != nullptr && current->parent != kTreeRoot;
       current = FindItem(current->parent)) {
    labels.push_back(&current->label);
  }
  std::string path;
  for (auto it = labels.rbegin(); it != labels.rend(); ++it) {
    if (!path.empty() || it != labels.rbegin()) path += '/';
    path += **it;
  }
  return path;
}

TreeItem RecordingDialogView::FindItemByPath(const std::optional<std::string>& path) const {
  if (!path) return top_level_.empty() ? kNoTreeItem : top_level_.front();
  for (const auto& [item, depth] : DisplayOrder()) {
    if (depth > 0 && ItemPath(item) == *path) return item;
  }
  return kNoTreeItem;
}

}  // namespace kv::ui
