#include "oe4/oe_filter.h"

#include "app/process_state.h"
#include "common/folder_select_dlg.h"
#include "common/location_dlg.h"
#include "oe4/oe_folders_file.h"
#include "oe4/oe_store_discovery.h"
#include "res/strings.h"

namespace kv {

SCOEMsgFilter::SCOEMsgFilter(const platform::Services& services)
    : services_(services), m_reader(services) {}

std::string SCOEMsgFilter::GetName() { return std::string(res::LoadString(res::IDS_OE4_NAME)); }

void SCOEMsgFilter::SetParent(std::int32_t window) {
  ImportFilter::SetParent(window);
  g_oeHostWindow = static_cast<platform::WindowHandle>(window);
}

bool SCOEMsgFilter::IsSystemFound() {
  m_strStoreDir = FindOeStoreFolder(services_.registry);
  // Building the table shows the folder selection dialog; its Cancel gives up without asking.
  return FindStoreWithUser(services_.ui, g_oeHostWindow, res::IDS_OE4_BROWSE_TITLE, m_strStoreDir,
                           [this](const std::string& path) {
                             m_strStoreDir = path;
                             m_reader.Reset(m_strStoreDir);
                             if (BuildFolderTable(services_, g_oeHostWindow, m_reader))
                               return StoreLoad::kLoaded;
                             m_reader.FreeTable();
                             return m_reader.cancelled ? StoreLoad::kCancelled
                                                       : StoreLoad::kNotFound;
                           })
      .has_value();
}

bool SCOEMsgFilter::GoFirst() { return Step(/*first=*/true); }

bool SCOEMsgFilter::GoNext() { return Step(/*first=*/false); }

bool SCOEMsgFilter::Step(bool first) {
  services_.ui.ShowWaitCursor();
  // Before the first item the status says "folder"; GoFirst keeps that when there is none.
  m_bFolderMarker = first;
  m_bReceived = true;
  m_bUnsent = false;
  m_bStatusMark = false;
  const bool positioned = first ? m_reader.First(m_strMessageFile, m_strFolderName)
                                : m_reader.Next(m_strMessageFile, m_strFolderName);
  if (!positioned) {
    m_reader.FreeTable();
    // No item is left: nothing of the last one may be taken for another.
    m_strFolderName.clear();
    m_strMessageFile.clear();
    return false;
  }
  if (m_strMessageFile == kEmptyFolderMarker) {
    MarkFolderItem();
    return true;
  }
  m_bFolderMarker = false;
  m_bUnsent = m_reader.unsent;
  m_bReceived = m_reader.received;
  m_bUnread = m_reader.unread;
  m_bStatusMark = m_reader.statusMark;
  return true;
}

// A folder marker has no message state; it reports "received and read" (2) rather than whatever
// the previous message left behind.
void SCOEMsgFilter::MarkFolderItem() {
  m_bFolderMarker = true;
  m_bReceived = true;
  m_bUnread = false;
  m_bUnsent = false;
}

std::int32_t SCOEMsgFilter::GetItemStatus() {
  return (m_bFolderMarker ? kItemIsFolder : 0) | (m_bStatusMark ? kItemHasStatusMark : 0);
}

std::int32_t SCOEMsgFilter::GetItemExStatus() {
  if (m_bReceived) return m_bUnread ? kStateReceived | kStateUnread : kStateReceived;
  return m_bUnsent ? kStateNotSent : 0;
}

std::string SCOEMsgFilter::SubItemText(std::int16_t code) {
  switch (code) {
    case kSubItemFolderName:
      return services_.code_page.ToUtf8(m_strFolderName);
    case kSubItemMessageFile:
      return services_.code_page.ToUtf8(m_strMessageFile);
    default:
      return {};
  }
}

AutomationString SCOEMsgFilter::GetSubItem(std::int16_t code) {
  return GuardSubItem(services_.ui, g_oeHostWindow, [this, code] { return SubItemText(code); });
}

void SCOEMsgFilter::SetPath(std::string& path) {
  if (services_.code_page.FromUtf8(path) == kNextFolderCommand) m_reader.nextFolderRequested = true;
}

}  // namespace kv
