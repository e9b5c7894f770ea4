#include "bus/local_agent.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace kv::bus {

// One dialog shown by the local front. The transport's thread hands it each step of the far
// controller and waits for the person's next action; the front, on the serving thread, waits in
// Exchange for that step while it goes on serving everything else.
class LocalDialogAgent::OpenDialogChannel final : public ui::DialogMirror::Channel {
 public:
  explicit OpenDialogChannel(LocalDialogAgent& agent) : agent_(agent) {}

  // Where the next action goes: a transport thread waits for it. Under the agent's lock.
  void Expect(std::optional<ui::DialogAction>* action, Outcome* outcome) {
    action_ = action;
    action_outcome_ = outcome;
  }
  // The far controller's next step. Under the agent's lock.
  void Hand(const std::vector<ui::ViewChange>& changes, bool closing, Outcome* close_outcome) {
    step_ = changes;
    closing_ = closing;
    close_outcome_ = close_outcome;
  }

  std::optional<std::vector<ui::ViewChange>> Exchange(const ui::DialogAction& action) override {
    {
      std::lock_guard lock(agent_.mutex_);
      if (action_outcome_ == nullptr) return std::nullopt;  // nobody listens for it any more
      *action_ = action;
      action_outcome_->done = true;
      Expect(nullptr, nullptr);
      agent_.changed_.notify_all();
    }
    std::shared_ptr<bool> finished = agent_.finished_;
    agent_.Serve([&] { return step_.has_value() || (finished != nullptr && *finished); });
    std::lock_guard lock(agent_.mutex_);
    if (!step_) return std::nullopt;  // the call returned without finishing the dialog
    std::vector<ui::ViewChange> changes = std::move(*step_);
    step_.reset();
    if (closing_ && close_outcome_ != nullptr) {
      close_outcome_->done = true;
      close_outcome_ = nullptr;
      agent_.changed_.notify_all();
    }
    return changes;
  }

  // The front has closed the dialog: whoever still waits for it is told so. Under the lock.
  void Finish() {
    if (action_outcome_ != nullptr) action_outcome_->refused = true;
    if (close_outcome_ != nullptr) close_outcome_->done = true;
    Expect(nullptr, nullptr);
    close_outcome_ = nullptr;
    agent_.changed_.notify_all();
  }

 private:
  LocalDialogAgent& agent_;
  std::optional<ui::DialogAction>* action_ = nullptr;
  Outcome* action_outcome_ = nullptr;
  std::optional<std::vector<ui::ViewChange>> step_;
  bool closing_ = false;
  Outcome* close_outcome_ = nullptr;
};

LocalDialogAgent::LocalDialogAgent(platform::UserInterface& front, platform::WindowHandle owner)
    : front_(front), owner_(owner) {}

LocalDialogAgent::~LocalDialogAgent() {
  std::lock_guard lock(mutex_);
  RefusePending();
}

void LocalDialogAgent::CallServing(
    const std::function<void(std::function<void()> finished)>& start) {
  auto finished = std::make_shared<bool>(false);
  {
    std::lock_guard lock(mutex_);
    ++calls_;
    finished_ = finished;
  }
  // However the call ends, work that arrives later finds nobody serving.
  struct EndOfCall {
    LocalDialogAgent& agent;
    ~EndOfCall() {
      std::lock_guard lock(agent.mutex_);
      if (--agent.calls_ == 0) {
        agent.finished_.reset();
        agent.RefusePending();
      }
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
  std::lock_guard lock(mutex_);
  if (calls_ == 0) return;
  work_.push_back(std::move(work));
  changed_.notify_all();
}

void LocalDialogAgent::Serve(const std::function<bool()>& until) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return !work_.empty() || until(); });
    // What arrived before the end is still carried out, in order: a report that came ahead of
    // the call's answer belongs before it.
    if (work_.empty()) return;
    std::function<void()> work = std::move(work_.front());
    work_.pop_front();
    lock.unlock();
    work();
    lock.lock();
  }
}

bool LocalDialogAgent::RunServing(const std::function<void()>& work) {
  Outcome outcome;
  std::unique_lock lock(mutex_);
  if (calls_ == 0) return false;
  work_.push_back([this, &work, &outcome] {
    work();
    std::lock_guard done_lock(mutex_);
    outcome.done = true;
    changed_.notify_all();
  });
  waiting_.push_back(&outcome);
  changed_.notify_all();
  changed_.wait(lock, [&] { return outcome.done || outcome.refused; });
  std::erase(waiting_, &outcome);
  return outcome.done;
}

void LocalDialogAgent::RefusePending() {
  work_.clear();
  for (Outcome* outcome : waiting_) outcome->refused = true;
  for (auto& [number, channel] : open_) channel->Finish();
  changed_.notify_all();
}

std::optional<int> LocalDialogAgent::MessageBox(const std::string& text, const std::string& caption,
                                                unsigned style) {
  std::optional<int> button;
  if (!RunServing([&] { button = front_.MessageBox(owner_, text, caption, style); })) {
    return std::nullopt;
  }
  return button;
}

bool LocalDialogAgent::BrowseForFolder(const std::string& title,
                                       std::optional<std::string>& folder) {
  return RunServing([&] { folder = front_.BrowseForFolder(owner_, title); });
}

std::optional<ui::DialogAction> LocalDialogAgent::OpenDialog(
    std::uint32_t dialog, int template_id, const std::vector<ui::ViewChange>& changes) {
  Outcome outcome;
  std::optional<ui::DialogAction> action;
  std::unique_lock lock(mutex_);
  if (calls_ == 0 || open_.contains(dialog)) return std::nullopt;
  work_.push_back([this, dialog, template_id, changes, &outcome, &action] {
    OpenDialogChannel channel(*this);
    {
      std::lock_guard open_lock(mutex_);
      channel.Expect(&action, &outcome);
      open_[dialog] = &channel;
    }
    ui::DialogMirror mirror(template_id, changes, channel);
    front_.RunModal(owner_, mirror);
    std::lock_guard close_lock(mutex_);
    open_.erase(dialog);
    channel.Finish();
  });
  waiting_.push_back(&outcome);
  changed_.notify_all();
  changed_.wait(lock, [&] { return outcome.done || outcome.refused; });
  std::erase(waiting_, &outcome);
  return outcome.done ? action : std::nullopt;
}

bool LocalDialogAgent::Deliver(std::uint32_t dialog, const std::vector<ui::ViewChange>& changes,
                               bool closing, std::optional<ui::DialogAction>* action,
                               Outcome* outcome) {
  std::unique_lock lock(mutex_);
  auto open = open_.find(dialog);
  if (calls_ == 0 || open == open_.end()) return false;
  if (closing) {
    open->second->Hand(changes, true, outcome);
  } else {
    open->second->Expect(action, outcome);
    open->second->Hand(changes, false, nullptr);
  }
  waiting_.push_back(outcome);
  changed_.notify_all();
  changed_.wait(lock, [&] { return outcome->done || outcome->refused; });
  std::erase(waiting_, outcome);
  return outcome->done;
}

std::optional<ui::DialogAction> LocalDialogAgent::UpdateDialog(
    std::uint32_t dialog, const std::vector<ui::ViewChange>& changes) {
  Outcome outcome;
  std::optional<ui::DialogAction> action;
  if (!Deliver(dialog, changes, false, &action, &outcome)) return std::nullopt;
  return action;
}

void LocalDialogAgent::CloseDialog(std::uint32_t dialog,
                                   const std::vector<ui::ViewChange>& changes) {
  Outcome outcome;
  Deliver(dialog, changes, true, nullptr, &outcome);
}

void LocalDialogAgent::ShowWaitCursor() {
  Post([this] { front_.ShowWaitCursor(); });
}

}  // namespace kv::bus
