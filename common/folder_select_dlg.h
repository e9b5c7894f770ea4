#pragma once
// The folder selection dialogs (template 134): the user picks the folder the import starts from
// and whether empty folders are skipped.
//
// CFolderSelectDlg builds its tree from '/'-separated display paths; COEFolderSelectDlg builds it
// from the Outlook Express 4 folder table's parent links and, on OK, cuts the table down to the
// chosen subtree.

#include <string>
#include <vector>

#include "oe4/oe_folder_record.h"
#include "platform/services.h"

namespace kv {

// Process-wide: 1 when the last Outlook Express 4 folder dialog was confirmed with "Skip Empty
// Folders" unchecked, 0 when it was checked; untouched by Cancel. 0 at program start.
extern int g_bReportEmptyFolders;

class CFolderSelectDlg final : public platform::Dialog {
 public:
  // `paths` must outlive the dialog; it is read, never changed.
  CFolderSelectDlg(platform::UserInterface& ui, platform::WindowHandle owner,
                   const std::vector<std::string>& paths);

  int DoModal();

  int m_bSkipEmpty = 0;     // in: initial check box state; out: its state at OK
  int m_nSelected = -1;     // out: index in the path list of the chosen folder, -1 for the root
  std::string m_strRoot;    // in: the label of the root item

  // platform::Dialog
  int TemplateId() const override;
  bool OnInitDialog(platform::DialogView& view) override;
  void OnCommand(platform::DialogView& view, int control_id) override;
  void OnTreeSelChanged(platform::DialogView& view, int tree_id, platform::TreeItem item) override;

 private:
  void AddTreeItem(platform::DialogView& view, int index, platform::TreeItem parent,
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

  int m_bSkipEmpty = 1;
  OeFolderTable m_pFolders;   // in: the whole table; out after OK: the chosen subtree
  OeChildLists m_pChildren;   // in: child indices of each record
  int m_nFolders = 0;         // in: number of records; out: number kept

  // platform::Dialog
  int TemplateId() const override;
  bool OnInitDialog(platform::DialogView& view) override;
  void OnCommand(platform::DialogView& view, int control_id) override;
  void OnTreeSelChanged(platform::DialogView& view, int tree_id, platform::TreeItem item) override;
  void OnTreeDoubleClick(platform::DialogView& view, int tree_id) override;

  void OnOK(platform::DialogView& view);

 private:
  platform::UserInterface& ui_;
  platform::WindowHandle owner_;
};

}  // namespace kv
