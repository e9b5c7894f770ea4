#pragma once
// Dialogs shown in another process. A filter object that runs in a server has no screen of its
// own; its dialogs and message boxes belong to the person at the host. Two halves meet here,
// independent of the transport between them:
//
// - RemoteUserInterface, the server's front: it runs each dialog's controller against a view that
//   records what the controller does, sends those changes to the host's agent (DialogAgent) and
//   gets back, one at a time, what the person did; until the controller ends the dialog.
// - DialogMirror, on the host: a dialog whose controller is far away. A local front (scripted,
//   terminal) shows it like any other dialog; the mirror replays the remote changes onto the local
//   view and passes each action of the person back.
//
// Texts cross in UTF-8: the server front converts from and to the store's code page.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/environment.h"
#include "platform/user_interface.h"

namespace kv::ui {

// One thing a dialog controller did to its view.
struct ViewChange {
  enum class Kind {
    kText,        // control's text := text
    kEnable,      // control enabled := value != 0
    kFocus,       // focus to control
    kCheck,       // control checked := value != 0
    kTreeImages,  // images of bitmap `value` attached to tree `control`
    kInsertItem,  // tree `control` gets `item` below `parent`: text, image, selected_image, value
                  // (the item data) and mask
    kDeleteAll,   // tree `control` emptied
    kExpand,      // `item` of tree `control` expanded
    kEnd,         // the dialog ended with result `value`
  };
  Kind kind = Kind::kText;
  int control = 0;
  platform::TreeItem item = platform::kNoTreeItem;  // the controller's handle
  platform::TreeItem parent = platform::kTreeRoot;
  std::string text;
  std::int64_t value = 0;
  int image = 0;
  int selected_image = 0;
  unsigned mask = 0;

  bool operator==(const ViewChange&) const = default;
};

// The name a change kind travels under ("text", "enable", ...), and back; nullopt for an unknown
// name.
std::string_view ChangeKindName(ViewChange::Kind kind);
std::optional<ViewChange::Kind> ChangeKindFromName(std::string_view name);

// One thing the person did in a dialog, with the state of what they can change without the
// controller hearing of it: the check boxes.
struct DialogAction {
  enum class Kind {
    kCommand,      // pressed button `control` (IDOK and IDCANCEL also from the keyboard)
    kSelect,       // selected `item` of tree `control`
    kDoubleClick,  // double-clicked in tree `control`
  };
  Kind kind = Kind::kCommand;
  int control = 0;
  platform::TreeItem item = platform::kNoTreeItem;  // the controller's handle
  std::vector<std::pair<int, bool>> checks;         // every check box of the dialog

  bool operator==(const DialogAction&) const = default;
};

std::string_view ActionKindName(DialogAction::Kind kind);
std::optional<DialogAction::Kind> ActionKindFromName(std::string_view name);

// The host's side as the server sees it. Every call answers nullopt (or false) when the host
// cannot be reached; the front then cancels. Dialogs are numbered by the front; a dialog may open
// while another is open (a message box from a dialog's button).
class DialogAgent {
 public:
  virtual ~DialogAgent() = default;
  virtual std::optional<int> MessageBox(const std::string& text, const std::string& caption,
                                        unsigned style) = 0;
  // True when the host answered: `folder` is then the chosen folder or nullopt for Cancel.
  virtual bool BrowseForFolder(const std::string& title, std::optional<std::string>& folder) = 0;
  // Shows dialog `dialog` of template `template_id`, as `changes` make it; the person's first
  // action.
  virtual std::optional<DialogAction> OpenDialog(std::uint32_t dialog, int template_id,
                                                 const std::vector<ViewChange>& changes) = 0;
  // What the last action changed; the person's next action.
  virtual std::optional<DialogAction> UpdateDialog(std::uint32_t dialog,
                                                   const std::vector<ViewChange>& changes) = 0;
  // The last changes, ending with kEnd; the dialog is gone afterwards.
  virtual void CloseDialog(std::uint32_t dialog, const std::vector<ViewChange>& changes) = 0;
  virtual void ShowWaitCursor() = 0;
};

// The server's front. Each call goes to the agent its owner handle names; without one (no agent
// registered for the handle, or the agent stopped answering) a dialog is cancelled and a message
// box answered as closed, and `log` gets a line saying why: it never waits for nobody.
class RemoteUserInterface final : public platform::UserInterface {
 public:
  using AgentLookup = std::function<DialogAgent*(platform::WindowHandle owner)>;
  using Log = std::function<void(const std::string& line)>;

  // `code_page` is the store's: texts are sent in UTF-8 and a chosen folder comes back in it. It
  // must outlive the front.
  RemoteUserInterface(AgentLookup agents, platform::CodePage& code_page, Log log);

  int MessageBox(platform::WindowHandle owner, const std::string& text, const std::string& caption,
                 unsigned style) override;
  std::optional<std::string> BrowseForFolder(platform::WindowHandle owner,
                                             const std::string& title) override;
  int RunModal(platform::WindowHandle owner, platform::Dialog& dialog) override;
  void ShowWaitCursor() override;

  // The owner of the last call: the wait cursor goes to its agent.
  platform::WindowHandle last_owner() const { return last_owner_; }

 private:
  class RecordedView;
  // Carries out `action` on the controller; false when the person could not have done it (a
  // disabled or unknown button, an item that is not in the tree).
  bool Apply(platform::Dialog& dialog, RecordedView& view, const DialogAction& action);
  void Cancel(platform::Dialog& dialog, RecordedView& view, const std::string& why);

  AgentLookup agents_;
  platform::CodePage& code_page_;
  Log log_;
  std::uint32_t next_dialog_ = 1;
  platform::WindowHandle last_owner_ = 0;
};

// The host's side of one remote dialog, shown by a local front.
class DialogMirror final : public platform::Dialog {
 public:
  class Channel {
   public:
    virtual ~Channel() = default;
    // Passes the person's action on and waits for what it changed; nullopt when the dialog is
    // gone on the far side (the mirror then cancels it here).
    virtual std::optional<std::vector<ViewChange>> Exchange(const DialogAction& action) = 0;
  };

  // `channel` must outlive the mirror.
  DialogMirror(int template_id, std::vector<ViewChange> opening, Channel& channel);

  int TemplateId() const override { return template_id_; }
  bool OnInitDialog(platform::DialogView& view) override;
  void OnCommand(platform::DialogView& view, int control_id) override;
  void OnTreeSelChanged(platform::DialogView& view, int tree_id, platform::TreeItem item) override;
  void OnTreeDoubleClick(platform::DialogView& view, int tree_id) override;
  // The far controller updates its controls after each action itself.
  void OnIdleUpdate(platform::DialogView& /*view*/) override {}

  // True once the far side ended the dialog (or went away).
  bool ended() const { return ended_; }

 private:
  void Send(platform::DialogView& view, DialogAction action);
  void Replay(platform::DialogView& view, const std::vector<ViewChange>& changes);

  int template_id_;
  std::vector<ViewChange> opening_;
  Channel& channel_;
  std::map<platform::TreeItem, platform::TreeItem> local_of_;   // far handle -> local handle
  std::map<platform::TreeItem, platform::TreeItem> remote_of_;  // local handle -> far handle
  bool ended_ = false;
};

}  // namespace kv::ui
