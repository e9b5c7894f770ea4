#include "common/folder_select_dlg.h"

#include <algorithm>
#include <cstddef>
#include <deque>

#include "app/process_state.h"
#include "common/message_files.h"
#include "res/dialogs.h"
#include "res/strings.h"

namespace kv {

namespace {

constexpr unsigned kMaskWithImages = platform::kTreeItemText | platform::kTreeItemImage |
                                     platform::kTreeItemSelectedImage | platform::kTreeItemData;
constexpr unsigned kMaskWithoutImages = platform::kTreeItemText | platform::kTreeItemData;
constexpr int kNormalImage = 0;
constexpr int kSelectedImage = 1;
constexpr std::intptr_t kRootItemData = -1;

platform::TreeItemSpec FolderItem(platform::TreeItem parent, std::string label, std::intptr_t data,
                                  unsigned mask) {
  platform::TreeItemSpec spec;
  spec.parent = parent;
  spec.label = std::move(label);
  spec.image = kNormalImage;
  spec.selected_image = kSelectedImage;
  spec.data = data;
  spec.mask = mask;
  return spec;
}

// True when `candidate` lies below `path`: it begins with `path` byte for byte and has "/" right
// after that beginning.
bool IsBelow(const std::string& candidate, const std::string& path) {
  return candidate.size() > path.size() && candidate.compare(0, path.size(), path) == 0 &&
         candidate[path.size()] == '/';
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CFolderSelectDlg

CFolderSelectDlg::CFolderSelectDlg(platform::UserInterface& ui, platform::WindowHandle owner,
                                   const std::vector<std::string>& paths)
    : ui_(ui), owner_(owner), m_pPaths(paths) {}

int CFolderSelectDlg::DoModal() { return ui_.RunModal(owner_, *this); }

int CFolderSelectDlg::TemplateId() const { return res::IDD_FOLDER_SELECT; }

bool CFolderSelectDlg::OnInitDialog(platform::DialogView& view) {
  view.SetCheck(res::IDC_SKIP_EMPTY, m_bSkipEmpty != 0);
  const platform::TreeItem root = FillTree(view);
  if (root != platform::kNoTreeItem) view.ExpandTreeItem(res::IDC_FOLDER_TREE, root);
  view.EnableControl(platform::kIdOk, false);
  view.SetFocus(platform::kIdCancel);
  return true;
}

platform::TreeItem CFolderSelectDlg::FillTree(platform::DialogView& view) {
  if (m_pPaths.empty()) return platform::kNoTreeItem;
  m_pItems.assign(m_pPaths.size(), platform::kNoTreeItem);
  m_nItemMask = view.SetTreeImages(res::IDC_FOLDER_TREE, res::IDB_FOLDERS) ? kMaskWithImages
                                                                           : kMaskWithoutImages;
  return AddTreeItem(view, -1, platform::kTreeRoot, m_strRoot);
}

platform::TreeItem CFolderSelectDlg::AddTreeItem(platform::DialogView& view, int index,
                                                 platform::TreeItem parent,
                                                 const std::string& path) {
  const platform::TreeItem item = view.InsertTreeItem(
      res::IDC_FOLDER_TREE, FolderItem(parent, LastPathComponent(path), index, m_nItemMask));
  // A folder that could not be shown takes no subfolders: they stay out of the tree rather than
  // being searched for again from every deeper prefix.
  if (item == platform::kNoTreeItem) return item;
  if (index >= 0) m_pItems[index] = item;
  // Each nested call has a strictly longer path, so the depth is bounded by the longest path.
  for (std::size_t k = 0; k < m_pPaths.size(); ++k) {
    if (m_pItems[k] == platform::kNoTreeItem && IsBelow(m_pPaths[k], path)) {
      AddTreeItem(view, static_cast<int>(k), item, m_pPaths[k]);
    }
  }
  return item;
}

void CFolderSelectDlg::OnCommand(platform::DialogView& view, int control_id) {
  if (control_id == platform::kIdOk) {
    m_bSkipEmpty = view.IsChecked(res::IDC_SKIP_EMPTY) ? 1 : 0;
    view.EndDialog(platform::kIdOk);
  } else if (control_id == platform::kIdCancel) {
    view.EndDialog(platform::kIdCancel);
  }
}

void CFolderSelectDlg::OnTreeSelChanged(platform::DialogView& view, int /*tree_id*/,
                                        platform::TreeItem item) {
  if (item == platform::kNoTreeItem) return;
  m_nSelected = static_cast<int>(view.GetTreeItemData(res::IDC_FOLDER_TREE, item));
  view.EnableControl(platform::kIdOk, true);
}

// ---------------------------------------------------------------------------------------------
// COEFolderSelectDlg

COEFolderSelectDlg::COEFolderSelectDlg(platform::UserInterface& ui, platform::WindowHandle owner)
    : ui_(ui), owner_(owner) {}

int COEFolderSelectDlg::DoModal() { return ui_.RunModal(owner_, *this); }

int COEFolderSelectDlg::TemplateId() const { return res::IDD_FOLDER_SELECT; }

std::size_t COEFolderSelectDlg::RecordCount() const {
  return std::min(static_cast<std::size_t>(std::max(m_nFolders, 0)), m_pFolders.size());
}

std::vector<int> COEFolderSelectDlg::ChildrenOf(std::size_t record) const {
  std::vector<int> children;
  if (record >= m_pChildren.size()) return children;
  for (const int child : m_pChildren[record]) {
    if (child >= 0 && static_cast<std::size_t>(child) < RecordCount()) children.push_back(child);
  }
  return children;
}

bool COEFolderSelectDlg::OnInitDialog(platform::DialogView& view) {
  view.SetCheck(res::IDC_SKIP_EMPTY, m_bSkipEmpty != 0);
  view.SetTreeImages(res::IDC_FOLDER_TREE, res::IDB_FOLDERS);
  view.DeleteAllTreeItems(res::IDC_FOLDER_TREE);

  const platform::TreeItem root = view.InsertTreeItem(
      res::IDC_FOLDER_TREE,
      FolderItem(platform::kTreeRoot, std::string(res::LoadString(res::IDS_OE_ROOT_LABEL)),
                 kRootItemData, kMaskWithImages));
  const std::size_t count = RecordCount();
  std::vector<platform::TreeItem> items(count, platform::kNoTreeItem);
  std::vector<bool> queued(count, false);
  std::vector<std::size_t> queue;
  queue.reserve(count);
  const auto insert = [&](std::size_t record, platform::TreeItem parent) {
    queued[record] = true;
    queue.push_back(record);
    items[record] = view.InsertTreeItem(
        res::IDC_FOLDER_TREE, FolderItem(parent, m_pFolders[record].name,
                                         static_cast<std::intptr_t>(record), kMaskWithImages));
  };
  for (std::size_t i = 0; i < count; ++i) {
    if (m_pFolders[i].parentIndex == -1) insert(i, root);
  }
  // The queue grows while it is walked. A record is queued once at most, so child lists that
  // repeat a record or loop back cannot make the walk endless.
  for (std::size_t q = 0; q < queue.size(); ++q) {
    const std::size_t parent = queue[q];
    for (const int child : ChildrenOf(parent)) {
      if (!queued[child]) insert(child, items[parent]);
    }
  }

  view.ExpandTreeItem(res::IDC_FOLDER_TREE, root);
  view.EnableControl(platform::kIdOk, false);
  view.SetFocus(res::IDC_FOLDER_TREE);
  return false;
}

void COEFolderSelectDlg::OnCommand(platform::DialogView& view, int control_id) {
  if (control_id == platform::kIdOk) {
    OnOK(view);
  } else if (control_id == platform::kIdCancel) {
    view.EndDialog(platform::kIdCancel);
  }
}

void COEFolderSelectDlg::OnTreeSelChanged(platform::DialogView& view, int /*tree_id*/,
                                          platform::TreeItem item) {
  view.EnableControl(platform::kIdOk, item != platform::kNoTreeItem);
}

void COEFolderSelectDlg::OnTreeDoubleClick(platform::DialogView& view, int /*tree_id*/) {
  OnOK(view);
}

void COEFolderSelectDlg::OnOK(platform::DialogView& view) {
  // A double click can arrive with nothing selected; there is no folder to confirm then.
  const platform::TreeItem selected = view.GetSelectedTreeItem(res::IDC_FOLDER_TREE);
  if (selected == platform::kNoTreeItem) return;

  m_bSkipEmpty = view.IsChecked(res::IDC_SKIP_EMPTY) ? 1 : 0;
  g_bReportEmptyFolders = m_bSkipEmpty == 0 ? 1 : 0;

  const std::intptr_t chosen = view.GetTreeItemData(res::IDC_FOLDER_TREE, selected);
  if (chosen >= 0 && static_cast<std::size_t>(chosen) < RecordCount()) {
    CutTableTo(static_cast<std::size_t>(chosen));
  }
  view.EndDialog(platform::kIdOk);
}

void COEFolderSelectDlg::CutTableTo(std::size_t chosen) {
  // The chosen folder first, then its descendants breadth-first. Records are copied whole, parent
  // index and all; after the cut only their names and mailbox names are used.
  const std::size_t count = RecordCount();
  std::vector<bool> copied(count, false);
  std::vector<std::size_t> queue{chosen};
  copied[chosen] = true;
  for (std::size_t q = 0; q < queue.size(); ++q) {
    for (const int child : ChildrenOf(queue[q])) {
      if (copied[child]) continue;
      copied[child] = true;
      queue.push_back(child);
    }
  }
  OeFolderTable subtree;
  subtree.reserve(queue.size());
  for (const std::size_t record : queue) subtree.push_back(m_pFolders[record]);
  m_pFolders = std::move(subtree);
  m_nFolders = static_cast<int>(m_pFolders.size());
}

}  // namespace kv
