#pragma once
// The host's answers to a server's dialogs, given by a front of the host's own (scripted,
// terminal) on the host's own thread.
//
// The server asks while it works on one of the host's calls, and the host is then waiting for that
// call's answer. So the host does not block while it waits: it runs its call through CallServing,
// which carries out on the calling thread whatever the server asks meanwhile (a message box, a
// dialog, a report to pass on) until the call has returned. The DialogAgent methods are called on
// the transport's thread; each hands its work to the serving thread and waits for the outcome.
// Work that arrives while no call is under way is refused at once (the server is then told the
// agent did not answer), so the transport never waits for a host that is not listening.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/user_interface.h"
#include "ui/remote_ui.h"

namespace kv::bus {

class LocalDialogAgent final : public ui::DialogAgent {
 public:
  // `front` shows everything, with `owner` as the owner window; it must outlive the agent.
  LocalDialogAgent(platform::UserInterface& front, platform::WindowHandle owner);
  ~LocalDialogAgent() override;
  LocalDialogAgent(const LocalDialogAgent&) = delete;
  LocalDialogAgent& operator=(const LocalDialogAgent&) = delete;

  // On the host's thread: calls `start`, which sends a call and arranges for the function it is
  // given to be called (on any thread) once the answer is in; until then carries out the agent's
  // work here. Dialogs of the call still open when it returns are cancelled (the server gave them
  // up).
  void CallServing(const std::function<void(std::function<void()> finished)>& start);

  // Runs `work` on the serving thread, after what was handed over before it. Dropped when no call
  // is under way. From any thread.
  void Post(std::function<void()> work);

  // DialogAgent, from the transport's thread.
  std::optional<int> MessageBox(const std::string& text, const std::string& caption,
                                unsigned style) override;
  bool BrowseForFolder(const std::string& title, std::optional<std::string>& folder) override;
  std::optional<ui::DialogAction> OpenDialog(std::uint32_t dialog, int template_id,
                                             const std::vector<ui::ViewChange>& changes) override;
  std::optional<ui::DialogAction> UpdateDialog(std::uint32_t dialog,
                                               const std::vector<ui::ViewChange>& changes) override;
  void CloseDialog(std::uint32_t dialog, const std::vector<ui::ViewChange>& changes) override;
  void ShowWaitCursor() override;

 private:
  class OpenDialogChannel;
  // What the transport's thread waits for: filled on the serving thread.
  struct Outcome {
    bool done = false;
    bool refused = false;
  };

  // Hands `work` to the serving thread and waits until it has run; false when it was refused.
  bool RunServing(const std::function<void()>& work);
  // On the serving thread: runs handed-over work until `until` holds.
  void Serve(const std::function<bool()>& until);
  // Hands dialog `dialog` its next step (UpdateDialog, CloseDialog) and waits for the outcome;
  // false when the dialog is not open or the step was refused.
  bool Deliver(std::uint32_t dialog, const std::vector<ui::ViewChange>& changes, bool closing,
               std::optional<ui::DialogAction>* action, Outcome* outcome);
  // Refuses whatever still waits: the end of the last call. Under the lock.
  void RefusePending();

  platform::UserInterface& front_;
  platform::WindowHandle owner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> work_;
  int calls_ = 0;                                     // calls under way
  std::shared_ptr<bool> finished_;                    // set when the current call has returned
  std::map<std::uint32_t, OpenDialogChannel*> open_;  // dialogs being shown, by the server's number
  std::vector<Outcome*> waiting_;                     // transport threads waiting, to refuse at end
};

}  // namespace kv::bus
