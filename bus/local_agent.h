#pragma once
// The host's answers to a server's dialogs, given by a front of the host's own (scripted,
// terminal) on the host's own thread.
//
// The server asks while it works on one of the host's calls, and the host is then waiting for that
// call's answer. So the host does not block while it waits: it runs its call through CallServing,
// which carries out on the calling thread whatever the server asks meanwhile (a message box, a
// dialog, a report to pass on) until the call has returned.
//
// The transport hands questions over with the Ask methods, which never wait: each answer comes
// through its callback, exactly once, later on the serving thread, or at once (as "not reached")
// when no call is under way, so that the transport never waits for a host that is not listening.
// Callbacks are never called with the agent's lock held. The DialogAgent methods ask and wait for
// the answer, for a transport that calls from a thread of its own.

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
  using ButtonAnswer = std::function<void(std::optional<int> button)>;
  // `reached` false: nobody answered; otherwise `folder` is the chosen folder or nullopt.
  using FolderAnswer = std::function<void(bool reached, std::optional<std::string> folder)>;
  using ActionAnswer = std::function<void(std::optional<ui::DialogAction> action)>;
  using DoneAnswer = std::function<void()>;

  // `front` shows everything, with `owner` as the owner window; it must outlive the agent.
  LocalDialogAgent(platform::UserInterface& front, platform::WindowHandle owner);
  ~LocalDialogAgent() override;
  LocalDialogAgent(const LocalDialogAgent&) = delete;
  LocalDialogAgent& operator=(const LocalDialogAgent&) = delete;

  // On the host's thread: calls `start`, which sends a call and arranges for the function it is
  // given to be called (on any thread) once the answer is in; until then carries out the agent's
  // work here. Whatever still waits when it returns is answered as not reached.
  void CallServing(const std::function<void(std::function<void()> finished)>& start);

  // Runs `work` on the serving thread, after what was handed over before it. Dropped when no call
  // is under way. From any thread.
  void Post(std::function<void()> work);

  // The transport's questions; see the header comment.
  void AskMessageBox(const std::string& text, const std::string& caption, unsigned style,
                     ButtonAnswer answer);
  void AskBrowseForFolder(const std::string& title, FolderAnswer answer);
  // Shows the dialog; `answer` gets the person's first action.
  void AskOpenDialog(std::uint32_t dialog, int template_id, std::vector<ui::ViewChange> changes,
                     ActionAnswer answer);
  // The far controller's next step; `answer` gets the person's next action.
  void AskUpdateDialog(std::uint32_t dialog, std::vector<ui::ViewChange> changes,
                       ActionAnswer answer);
  // The last step; `answer` once it is shown.
  void AskCloseDialog(std::uint32_t dialog, std::vector<ui::ViewChange> changes, DoneAnswer answer);

  // DialogAgent: the questions above, waiting for their answers. Not from the serving thread.
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
  // Work for the serving thread, and what to do instead when it will not run.
  struct Work {
    std::function<void()> run;
    std::function<void()> refuse;
  };

  // Queues `work`; false (nothing queued) when no call is under way.
  bool Queue(Work work);
  // On the serving thread: runs queued work until `until` holds (checked under the lock).
  void Serve(const std::function<bool()>& until);

  platform::UserInterface& front_;
  platform::WindowHandle owner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Work> work_;
  int calls_ = 0;                                     // calls under way
  std::shared_ptr<bool> finished_;                    // set when the current call has returned
  std::map<std::uint32_t, OpenDialogChannel*> open_;  // dialogs being shown, by the server's number
};

}  // namespace kv::bus
