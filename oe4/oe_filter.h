#pragma once
// The import filter class SCOEMsgFilter: imports an Outlook Express 4 store, a folder of ".mbx"
// mailboxes with their ".idx" indexes and, normally, the folder list "folders.nch".
//
// IsSystemFound finds the store (registry "store root" + "\Mail", else the location dialog), loads
// its folder table and lets the user choose the folders; GoFirst/GoNext then hand over one
// temporary message file per message (code 11) with its folder's display path (code 5), or the
// marker "!!!Empty" for an empty folder when the user asked to keep empty folders.
//
// Process-wide state, shared by every object of this class (app/process_state.h): the host window
// of the last SetParent, the sticky "folders.nch" layout choice and g_bReportEmptyFolders.

#include <cstdint>
#include <string>

#include "app/import_filter.h"
#include "common/sub_item_guard.h"
#include "oe4/oe_mailbox_reader.h"
#include "platform/services.h"

namespace kv {

class SCOEMsgFilter final : public ImportFilter {
 public:
  explicit SCOEMsgFilter(const platform::Services& services);

  std::string GetName() override;
  bool GoFirst() override;
  bool GoNext() override;
  std::int32_t GetItemStatus() override;
  AutomationString GetSubItem(std::int16_t code) override;
  bool IsSystemFound() override;
  std::int32_t GetItemExStatus() override;
  void SetPath(std::string& path) override;
  void SetParent(std::int32_t window) override;

 private:
  // GoFirst (`first`) or GoNext: positions on the next item and takes over its state.
  bool Step(bool first);
  std::string SubItemText(std::int16_t code);
  void MarkFolderItem();

  const platform::Services& services_;
  OeMailboxReader m_reader;
  std::string m_strFolderName;   // code 5, in the store's code page
  std::string m_strMessageFile;  // code 11: a temporary file's path or "!!!Empty"
  bool m_bFolderMarker = false;
  bool m_bUnsent = false;
  bool m_bReceived = false;
  bool m_bUnread = false;
  std::string m_strStoreDir;
  bool m_bStatusMark = false;
};

}  // namespace kv
