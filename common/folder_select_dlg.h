#pragma once
// The folder selection dialogs (IDD_FOLDER_SELECT): the user picks the folder the import starts
// from and whether empty folders are skipped.
//
// CFolderSelectDlg builds its tree from '/'-separated display paths; COEFolderSelectDlg builds it
// from the Outlook Express 4 folder table's parent links and, on OK, cuts the table down to the
// chosen subtree.

#include <cstddef>
#include <string>
#include <vector>

#include "common/oe_folder_record.h"
#include "platform/services.h"

namespace kv {

class CFolderSelectDlg final : public platform::Dialog {
 public:
  // `paths` must outlive the dialog; it is read, never changed.
  CFolderSelectDlg(platform::UserInterface& ui, platform::WindowHandle owner,
                   const std::vector<std::string>& paths);

  int DoModal();

  int m_bSkipEmpty = 0;   // in: initial check box state; out: its state at OK
  int m_nSelected = -1;   // out: index in the path list of the chosen folder, -1 for the root
  std::string m_strRoot;  // in: the label of the root item

  // platform::Dialog
  int TemplateId() const override;
  bool OnInitDialog(platform::DialogView& view) override;
  void OnCommand(platform::DialogView& view, int control_id) override;
  void OnTreeSelChanged(platform::DialogView& view, int tree_id, platform::TreeItem item) override;

 private:
  // Fills the tree from the paths; the root item, or kNoTreeItem when there are no paths.
  platform::TreeItem FillTree(platform::DialogView& view);
  // Inserts the item of path `index` (-1 for the root item) below `parent`, then, in list order,
  // every path not yet in the tree that begins with `path` + "/", each below this item. A path is
  // thus attached below the first path in list order that is its prefix.
  platform::TreeItem AddTreeItem(platform::DialogView& view, int index, platform::TreeItem parent,
                                 const std::string& path);

  platform::UserInterface& ui_;
  platform::WindowHandle owner_;
  const std::vector<std::string>& m_pPaths;
  std::vector<platform::TreeItem> m_pItems;
  unsigned m_nItemMask = 0;
};

class COEFolderSelectDlg final : public platform::Dialog {
 public:
  COEFolderSelectDlg(platform::UserInterface& ui, platform::WindowHandle owner);

  int DoModal();

  int m_bSkipEmpty = 1;      // the check box: shown at start, read back at OK
  OeFolderTable m_pFolders;  // in: the whole table; out after OK: the chosen subtree
  OeChildLists m_pChildren;  // in: child indices of each record; indices out of range are ignored
  int m_nFolders = 0;        // in: number of records; out: number kept

  // platform::Dialog
  int TemplateId() const override;
  bool OnInitDialog(platform::DialogView& view) override;
  void OnCommand(platform::DialogView& view, int control_id) override;
  void OnTreeSelChanged(platform::DialogView& view, int tree_id, platform::TreeItem item) override;
  void OnTreeDoubleClick(platform::DialogView& view, int tree_id) override;

  // Reads the check box into m_bSkipEmpty and g_bReportEmptyFolders, then keeps the whole table
  // (the root item) or cuts it down to the selected folder and its descendants, breadth-first.
  // Does nothing while no item is selected.
  void OnOK(platform::DialogView& view);

 private:
  // m_nFolders, trusted only as far as m_pFolders reaches.
  std::size_t RecordCount() const;
  // The valid child indices of `record`.
  std::vector<int> ChildrenOf(std::size_t record) const;
  void CutTableTo(std::size_t chosen);

  platform::UserInterface& ui_;
  platform::WindowHandle owner_;
};

}  // namespace kv
