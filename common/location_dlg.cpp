#include "common/location_dlg.h"

#include <utility>

#include "common/message_files.h"
#include "res/dialogs.h"
#include "res/strings.h"

namespace kv {

CLocationDlg::CLocationDlg(platform::UserInterface& ui, platform::WindowHandle owner)
    : ui_(ui), owner_(owner) {}

int CLocationDlg::DoModal() { return ui_.RunModal(owner_, *this); }

int CLocationDlg::TemplateId() const { return res::IDD_LOCATION; }

bool CLocationDlg::OnInitDialog(platform::DialogView& view) {
  m_strLocation = m_strPath;
  m_strPrompt = std::string(
      res::LoadString(m_strLocation.empty() ? res::IDS_LOCATION_UNKNOWN : res::IDS_LOCATION_FOUND));
  ExchangeToControls(view);
  OnUpdateLocation(view);
  return true;
}

void CLocationDlg::OnCommand(platform::DialogView& view, int control_id) {
  switch (control_id) {
    case res::IDC_BROWSE:
      OnBrowse(view);
      break;
    case platform::kIdOk:
      OnOK(view);
      break;
    case platform::kIdCancel:
      view.EndDialog(platform::kIdCancel);
      break;
    default:
      break;
  }
}

void CLocationDlg::OnIdleUpdate(platform::DialogView& view) { OnUpdateLocation(view); }

void CLocationDlg::OnUpdateLocation(platform::DialogView& view) {
  // The prompt follows the caller's proposal, not the user's choice: it keeps saying that nothing
  // was found even after the user has browsed to a folder.
  if (m_strPath.empty()) m_strPrompt = std::string(res::LoadString(res::IDS_LOCATION_UNKNOWN));
  view.EnableControl(platform::kIdOk, !m_strLocation.empty());
  ExchangeToControls(view);
}

void CLocationDlg::OnBrowse(platform::DialogView& view) {
  const platform::WindowHandle browse_owner =
      view.DialogWindow() != 0 ? view.DialogWindow() : owner_;
  BrowseForFolder(ui_, m_strLocation, m_strBrowseTitle, browse_owner);
  OnUpdateLocation(view);
}

void CLocationDlg::OnOK(platform::DialogView& view) {
  m_strPath = m_strLocation;
  view.EndDialog(platform::kIdOk);
}

void CLocationDlg::ExchangeToControls(platform::DialogView& view) const {
  view.SetControlText(res::IDC_PROMPT, m_strPrompt);
  view.SetControlText(res::IDC_LOCATION, m_strLocation);
}

std::optional<std::string> FindStoreWithUser(
    platform::UserInterface& ui, platform::WindowHandle owner, unsigned browse_title_id,
    std::string initial_path, const std::function<StoreLoad(const std::string&)>& try_load) {
  std::string path = std::move(initial_path);
  bool ask = path.empty();
  for (;;) {
    while (ask) {
      CLocationDlg location(ui, owner);
      location.m_strBrowseTitle = std::string(res::LoadString(browse_title_id));
      location.m_strPath = path;
      if (location.DoModal() != platform::kIdOk) return std::nullopt;
      path = location.m_strPath;
      ask = path.empty();
    }
    switch (try_load(path)) {
      case StoreLoad::kLoaded:
        return path;
      case StoreLoad::kCancelled:
        return std::nullopt;
      case StoreLoad::kNotFound:
        break;
    }
    const int answer =
        ShowStringMessage(ui, owner, res::IDS_STORE_NOT_FOUND_BROWSE_AGAIN, res::IDS_APP_TITLE,
                          platform::kMbYesNo | platform::kMbIconQuestion);
    if (answer == platform::kIdNo) return std::nullopt;
    // The location dialog now proposes the folder that failed.
    ask = true;
  }
}

}  // namespace kv
