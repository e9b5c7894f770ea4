#include "bus/local_agent.h"

#include <future>
#include <utility>

namespace kv::bus {

// One dialog shown by the local front. The transport hands it each step of the far controller
// with whoever waits for the person's next action; the front, on the serving thread, waits in
// Exchange for that step while it goes on serving everything else.
class LocalDialogAgent::OpenDialogChannel final : public ui::DialogMirror::Channel {
 public:
  OpenDialogChannel(LocalDialogAgent& agent, ActionAnswer first)
      : agent_(agent), pending_action_(std::move(first)) {}

  // The far controller's next step, with who waits for the action it leads to (`next`) or for it
  // to be shown (`shown`, the last step). False when a step is already waiting or nobody has been
  // given the last action yet: the far side is out of turn. Under the agent's lock.
  bool Hand(std::vector<ui::ViewChange> changes, ActionAnswer next, DoneAnswer shown) {
    if (step_ || pending_action_) return false;
    step_ = std::move(changes);
    pending_action_ = std::move(next);
    pending_shown_ = std::move(shown);
    return true;
  }

  std::optional<std::vector<ui::ViewChange>> Exchange(const ui::DialogAction& action) override {
    ActionAnswer answer;
    {
      std::lock_guard lock(agent_.mutex_);
      answer = std::exchange(pending_action_, nullptr);
    }
    if (!answer) return std::nullopt;  // nobody waits for it: the far side has gone
    answer(action);
    std::shared_ptr<bool> finished = agent_.finished_;
    agent_.Serve([&] { return step_.has_value() || (finished != nullptr && *finished); });
    std::vector<ui::ViewChange> changes;
    DoneAnswer shown;
    {
      std::lock_guard lock(agent_.mutex_);
      if (!step_) return std::nullopt;  // the call returned without finishing the dialog
      changes = std::move(*step_);
      step_.reset();
      shown = std::exchange(pending_shown_, nullptr);
    }
    if (shown) shown();
    return changes;
  }

  // The front has closed the dialog: whoever still waits is answered.
  void Finish() {
    ActionAnswer action;
    DoneAnswer shown;
    {
      std::lock_guard lock(agent_.mutex_);
      action = std::exchange(pending_action_, nullptr);
      shown = std::exchange(pending_shown_, nullptr);
      step_.reset();
    }
    if (action) action(std::nullopt);
    if (shown) shown();
  }

 private:
  LocalDialogAgent& agent_;
  ActionAnswer pending_action_;
  DoneAnswer pending_shown_;
  std::optional<std::vector<ui::ViewChange>> step_;
};

LocalDialogAgent::LocalDialogAgent(platform::UserInterface& front, platform::WindowHandle owner)
    : front_(front), owner_(owner) {}

LocalDialogAgent::~LocalDialogAgent() {
  std::deque<Work> left;
  {
    std::lock_guard lock(mutex_);
    left.swap(work_);
  }
  for (Work& work : left) work.refuse();
}

void LocalDialogAgent::CallServing(
    const std::function<void(std::function<void()> finished)>& start) {
  auto finished = std::make_shared<bool>(false);
  {
    std::lock_guard lock(mutex_);
    ++calls_;
    finished_ = finished;
  }
  // However the call ends, work that is left or arrives later finds nobody serving.
  struct EndOfCall {
    LocalDialogAgent& agent;
    ~EndOfCall() {
      std::deque<Work> left;
      {
        std::lock_guard lock(agent.mutex_);
        if (--agent.calls_ == 0) {
          agent.finished_.reset();
          left.swap(agent.work_);
        }
      }
      for (Work& work : left) work.refuse();
    }
  } end_of_call{*this};
  start([this, finished] {
    std::lock_guard lock(mutex_);
    *finished = true;
    changed_.notify_all();
  });
  Serve([&] { return *finished; });
}

void LocalDialogAgent::Post(std::function<void()> work) {
  Queue(Work{std::move(work), [] {}});
}

bool LocalDialogAgent::Queue(Work work) {
  {
    std::lock_guard lock(mutex_);
    if (calls_ > 0) {
      work_.push_back(std::move(work));
      changed_.notify_all();
      return true;
    }
  }
  work.refuse();
  return false;
}

void LocalDialogAgent::Serve(const std::function<bool()>& until) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return !work_.empty() || until(); });
    // What arrived before the end is still carried out, in order: a report that came ahead of
    // the call's answer belongs before it.
    if (work_.empty()) return;
    {
      // The work goes before the lock is taken again: its answer may hold a bus reply, whose
      // release takes the connection's lock, which the bus thread holds while it waits for ours.
      Work work = std::move(work_.front());
      work_.pop_front();
      lock.unlock();
      work.run();
    }
    lock.lock();
  }
}

void LocalDialogAgent::AskMessageBox(const std::string& text, const std::string& caption,
                                     unsigned style, ButtonAnswer answer) {
  Queue(Work{[this, text, caption, style, answer] {
               answer(front_.MessageBox(owner_, text, caption, style));
             },
             [answer] { answer(std::nullopt); }});
}

void LocalDialogAgent::AskBrowseForFolder(const std::string& title, FolderAnswer answer) {
  Queue(Work{[this, title, answer] { answer(true, front_.BrowseForFolder(owner_, title)); },
             [answer] { answer(false, std::nullopt); }});
}

void LocalDialogAgent::AskOpenDialog(std::uint32_t dialog, int template_id,
                                     std::vector<ui::ViewChange> changes, ActionAnswer answer) {
  Queue(Work{[this, dialog, template_id, changes = std::move(changes), answer]() mutable {
               OpenDialogChannel channel(*this, answer);
               bool known;
               {
                 std::lock_guard lock(mutex_);
                 known = open_.contains(dialog);
                 if (!known) open_[dialog] = &channel;
               }
               if (known) return channel.Finish();
               ui::DialogMirror mirror(template_id, std::move(changes), channel);
               front_.RunModal(owner_, mirror);
               {
                 std::lock_guard lock(mutex_);
                 open_.erase(dialog);
               }
               channel.Finish();
             },
             [answer] { answer(std::nullopt); }});
}

void LocalDialogAgent::AskUpdateDialog(std::uint32_t dialog, std::vector<ui::ViewChange> changes,
                                       ActionAnswer answer) {
  bool handed = false;
  {
    std::lock_guard lock(mutex_);
    auto open = open_.find(dialog);
    if (calls_ > 0 && open != open_.end()) {
      handed = open->second->Hand(std::move(changes), answer, nullptr);
      changed_.notify_all();
    }
  }
  if (!handed) answer(std::nullopt);
}

void LocalDialogAgent::AskCloseDialog(std::uint32_t dialog, std::vector<ui::ViewChange> changes,
                                      DoneAnswer answer) {
  bool handed = false;
  {
    std::lock_guard lock(mutex_);
    auto open = open_.find(dialog);
    if (calls_ > 0 && open != open_.end()) {
      handed = open->second->Hand(std::move(changes), nullptr, answer);
      changed_.notify_all();
    }
  }
  if (!handed) answer();
}

std::optional<int> LocalDialogAgent::MessageBox(const std::string& text, const std::string& caption,
                                                unsigned style) {
  std::promise<std::optional<int>> button;
  AskMessageBox(text, caption, style,
                [&button](std::optional<int> answer) { button.set_value(answer); });
  return button.get_future().get();
}

bool LocalDialogAgent::BrowseForFolder(const std::string& title,
                                       std::optional<std::string>& folder) {
  std::promise<std::pair<bool, std::optional<std::string>>> chosen;
  AskBrowseForFolder(title, [&chosen](bool reached, std::optional<std::string> answer) {
    chosen.set_value({reached, std::move(answer)});
  });
  auto [reached, answer] = chosen.get_future().get();
  folder = std::move(answer);
  return reached;
}

std::optional<ui::DialogAction> LocalDialogAgent::OpenDialog(
    std::uint32_t dialog, int template_id, const std::vector<ui::ViewChange>& changes) {
  std::promise<std::optional<ui::DialogAction>> action;
  AskOpenDialog(dialog, template_id, changes,
                [&action](std::optional<ui::DialogAction> answer) { action.set_value(answer); });
  return action.get_future().get();
}

std::optional<ui::DialogAction> LocalDialogAgent::UpdateDialog(
    std::uint32_t dialog, const std::vector<ui::ViewChange>& changes) {
  std::promise<std::optional<ui::DialogAction>> action;
  AskUpdateDialog(dialog, changes,
                  [&action](std::optional<ui::DialogAction> answer) { action.set_value(answer); });
  return action.get_future().get();
}

void LocalDialogAgent::CloseDialog(std::uint32_t dialog,
                                   const std::vector<ui::ViewChange>& changes) {
  std::promise<void> shown;
  AskCloseDialog(dialog, changes, [&shown] { shown.set_value(); });
  shown.get_future().get();
}

void LocalDialogAgent::ShowWaitCursor() {
  Post([this] { front_.ShowWaitCursor(); });
}

}  // namespace kv::bus
