#pragma once
// The location dialog (IDD_LOCATION): the user confirms the folder a filter proposes or browses
// for another. The folder can only be changed through the folder browser, never typed.

#include <functional>
#include <optional>
#include <string>

#include "platform/services.h"

namespace kv {

class CLocationDlg final : public platform::Dialog {
 public:
  CLocationDlg(platform::UserInterface& ui, platform::WindowHandle owner);

  // Runs the dialog modally: kIdOk (Continue) with the chosen folder in m_strPath, or kIdCancel
  // with m_strPath unchanged.
  int DoModal();

  std::string m_strPrompt;       // the sentence above the location box (IDC_PROMPT)
  std::string m_strLocation;     // the folder shown in the read-only box (IDC_LOCATION)
  std::string m_strPath;         // in: the proposed folder, may be empty; out: the chosen one
  std::string m_strBrowseTitle;  // in: the title the folder browser shows

  // platform::Dialog
  int TemplateId() const override;
  bool OnInitDialog(platform::DialogView& view) override;
  void OnCommand(platform::DialogView& view, int control_id) override;
  void OnIdleUpdate(platform::DialogView& view) override;

  // Keeps the prompt rule and enables Continue only with a location to continue with.
  void OnUpdateLocation(platform::DialogView& view);
  void OnBrowse(platform::DialogView& view);
  void OnOK(platform::DialogView& view);

 private:
  // Moves m_strPrompt and m_strLocation into their controls.
  void ExchangeToControls(platform::DialogView& view) const;

  platform::UserInterface& ui_;
  platform::WindowHandle owner_;
};

// What one attempt to load a store at a folder came to.
enum class StoreLoad {
  kLoaded,    // the store is usable: the search ends with this folder
  kNotFound,  // nothing usable there: the user is asked whether to browse again
  kCancelled  // the user gave up inside the load: the search ends without asking
};

// Finds a usable store with the user's help. Starts with `initial_path` (what the filter's own
// discovery found, may be empty); while the folder is empty it shows the location dialog over
// `owner`, browsing with string `browse_title_id` and proposing the last folder (Continue with an
// empty folder shows it again). Each folder is handed to `try_load`; when that finds nothing, a
// Yes/No question asks whether to browse again, and Yes shows the dialog proposing the folder that
// failed. Returns the folder `try_load` accepted, or nullopt when the user cancelled the dialog,
// answered No or `try_load` reported a cancel.
std::optional<std::string> FindStoreWithUser(
    platform::UserInterface& ui, platform::WindowHandle owner, unsigned browse_title_id,
    std::string initial_path, const std::function<StoreLoad(const std::string&)>& try_load);

}  // namespace kv
