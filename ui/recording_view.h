#pragma once
// A dialog view that only keeps state: control texts, enabled states, check boxes, focus, the tree
// and how the dialog ended. The scripted and terminal fronts show dialogs through it, and tests use
// it to drive a dialog controller directly and look at what it did.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/user_interface.h"
#include "res/dialogs.h"

namespace kv::ui {

class RecordingDialogView final : public platform::DialogView {
 public:
  struct Control {
    std::string text;
    bool enabled = true;
    bool checked = false;
  };
  struct Item {
    platform::TreeItem handle = platform::kNoTreeItem;
    platform::TreeItem parent = platform::kTreeRoot;
    std::string label;
    int image = 0;
    int selected_image = 0;
    std::intptr_t data = 0;
    unsigned mask = 0;
    bool expanded = false;
  };

  // Controls start with the texts of template `template_id` (none for an unknown template).
  explicit RecordingDialogView(int template_id);

  // A view whose image list cannot be made (SetTreeImages fails).
  void set_images_available(bool available) { images_available_ = available; }

  // DialogView
  void SetControlText(int control_id, const std::string& text) override;
  std::string GetControlText(int control_id) override;
  void EnableControl(int control_id, bool enabled) override;
  void SetFocus(int control_id) override { focus_ = control_id; }
  void SetCheck(int control_id, bool checked) override;
  bool IsChecked(int control_id) override;
  bool SetTreeImages(int tree_id, int bitmap_id) override;
  platform::TreeItem InsertTreeItem(int tree_id, const platform::TreeItemSpec& spec) override;
  void DeleteAllTreeItems(int tree_id) override;
  void ExpandTreeItem(int tree_id, platform::TreeItem item) override;
  platform::TreeItem GetSelectedTreeItem(int /*tree_id*/) override { return selected_; }
  std::intptr_t GetTreeItemData(int tree_id, platform::TreeItem item) override;
  void EndDialog(int result) override;

  // What a user sees and does.
  const res::DialogTemplate* dialog_template() const { return template_; }
  bool IsEnabled(int control_id) const;
  std::string ControlText(int control_id) const;
  bool Checked(int control_id) const;
  platform::TreeItem selected() const { return selected_; }
  int focus() const { return focus_; }
  bool images_attached() const { return images_attached_; }
  bool ended() const { return result_.has_value(); }
  std::optional<int> result() const { return result_; }
  // The user selects `item` (the front then tells the controller).
  void SelectTreeItem(platform::TreeItem item) { selected_ = item; }

  // Tree items in insertion order; handles are 1, 2, 3... in that order. Items removed by
  // DeleteAllTreeItems stay with the handle kNoTreeItem.
  const std::vector<Item>& items() const { return items_; }
  const Item* FindItem(platform::TreeItem handle) const;
  std::vector<platform::TreeItem> Children(platform::TreeItem parent) const;
  // Every item in display order (each item followed by its subtree), with its depth (0 for
  // top-level items).
  std::vector<std::pair<platform::TreeItem, int>> DisplayOrder() const;
  // The labels below the top-level item down to `item`, joined by "/" ("" for a top-level item).
  std::string ItemPath(platform::TreeItem item) const;
  // The first item in display order whose ItemPath is `path`; the first top-level item when
  // `path` is nullopt; kNoTreeItem when there is none.
  platform::TreeItem FindItemByPath(const std::optional<std::string>& path) const;

 private:
  const res::DialogTemplate* template_;
  std::unordered_map<int, Control> controls_;
  std::vector<Item> items_;
  std::vector<platform::TreeItem> top_level_;
  std::vector<std::vector<platform::TreeItem>> children_;  // by handle - 1
  platform::TreeItem selected_ = platform::kNoTreeItem;
  int focus_ = 0;
  bool images_available_ = true;
  bool images_attached_ = false;
  std::optional<int> result_;
};

}  // namespace kv::ui
