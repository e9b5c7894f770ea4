#include "bus/ui_agent_bus.h"

#include <limits>

#include "bus/bus_names.h"

namespace kv::bus {
namespace {

// A person may take as long as they like over a dialog; a host that leaves the bus ends the call.
constexpr std::uint64_t kNoTimeout = std::numeric_limits<std::uint64_t>::max();

}  // namespace

std::vector<WireChange> ToWire(const std::vector<ui::ViewChange>& changes) {
  std::vector<WireChange> wire;
  wire.reserve(changes.size());
  for (const ui::ViewChange& change : changes) {
    wire.emplace_back(std::string(ui::ChangeKindName(change.kind)), change.control,
                      static_cast<std::uint64_t>(change.item),
                      static_cast<std::uint64_t>(change.parent), change.text, change.value,
                      change.image, change.selected_image, change.mask);
  }
  return wire;
}

std::optional<std::vector<ui::ViewChange>> ChangesFromWire(const std::vector<WireChange>& wire) {
  std::vector<ui::ViewChange> changes;
  changes.reserve(wire.size());
  for (const WireChange& entry : wire) {
    std::optional<ui::ViewChange::Kind> kind = ui::ChangeKindFromName(entry.get<0>());
    if (!kind) return std::nullopt;
    ui::ViewChange change;
    change.kind = *kind;
    change.control = entry.get<1>();
    change.item = static_cast<platform::TreeItem>(entry.get<2>());
    change.parent = static_cast<platform::TreeItem>(entry.get<3>());
    change.text = entry.get<4>();
    change.value = entry.get<5>();
    change.image = entry.get<6>();
    change.selected_image = entry.get<7>();
    change.mask = entry.get<8>();
    changes.push_back(std::move(change));
  }
  return changes;
}

WireAction ToWire(const ui::DialogAction& action) {
  std::vector<WireCheck> checks;
  for (const auto& [control, checked] : action.checks) checks.emplace_back(control, checked);
  return {std::string(ui::ActionKindName(action.kind)), action.control,
          static_cast<std::uint64_t>(action.item), checks};
}

std::optional<ui::DialogAction> ActionFromWire(const WireAction& wire) {
  std::optional<ui::DialogAction::Kind> kind = ui::ActionKindFromName(std::get<0>(wire));
  if (!kind) return std::nullopt;
  ui::DialogAction action;
  action.kind = *kind;
  action.control = std::get<1>(wire);
  action.item = static_cast<platform::TreeItem>(std::get<2>(wire));
  for (const WireCheck& check : std::get<3>(wire)) {
    action.checks.emplace_back(check.get<0>(), check.get<1>());
  }
  return action;
}

BusDialogAgent::BusDialogAgent(sdbus::IConnection& connection, const std::string& client,
                               const std::string& path, std::function<void(const std::string&)> log)
    : proxy_(sdbus::createProxy(connection, client, path)), log_(std::move(log)) {}

void BusDialogAgent::Failed(const char* method, const sdbus::Error& error) {
  log_(std::string("user-interface agent ") + proxy_->getObjectPath() + ": " + method + ": " +
       error.getName() + ": " + error.getMessage());
}

std::optional<int> BusDialogAgent::MessageBox(const std::string& text, const std::string& caption,
                                              unsigned style) {
  try {
    std::int32_t button = 0;
    proxy_->callMethod("MessageBox")
        .onInterface(kUiAgentInterface)
        .withTimeout(kNoTimeout)
        .withArguments(text, caption, static_cast<std::uint32_t>(style))
        .storeResultsTo(button);
    return button;
  } catch (const sdbus::Error& error) {
    Failed("MessageBox", error);
    return std::nullopt;
  }
}

bool BusDialogAgent::BrowseForFolder(const std::string& title, std::optional<std::string>& folder) {
  try {
    bool chosen = false;
    std::string path;
    proxy_->callMethod("BrowseForFolder")
        .onInterface(kUiAgentInterface)
        .withTimeout(kNoTimeout)
        .withArguments(title)
        .storeResultsTo(chosen, path);
    folder = chosen ? std::optional<std::string>(path) : std::nullopt;
    return true;
  } catch (const sdbus::Error& error) {
    Failed("BrowseForFolder", error);
    return false;
  }
}

std::optional<ui::DialogAction> BusDialogAgent::OpenDialog(
    std::uint32_t dialog, int template_id, const std::vector<ui::ViewChange>& changes) {
  try {
    WireAction action;
    proxy_->callMethod("OpenDialog")
        .onInterface(kUiAgentInterface)
        .withTimeout(kNoTimeout)
        .withArguments(dialog, static_cast<std::int32_t>(template_id), ToWire(changes))
        .storeResultsTo(std::get<0>(action), std::get<1>(action), std::get<2>(action),
                        std::get<3>(action));
    return ActionFromWire(action);
  } catch (const sdbus::Error& error) {
    Failed("OpenDialog", error);
    return std::nullopt;
  }
}

std::optional<ui::DialogAction> BusDialogAgent::UpdateDialog(
    std::uint32_t dialog, const std::vector<ui::ViewChange>& changes) {
  try {
    WireAction action;
    proxy_->callMethod("UpdateDialog")
        .onInterface(kUiAgentInterface)
        .withTimeout(kNoTimeout)
        .withArguments(dialog, ToWire(changes))
        .storeResultsTo(std::get<0>(action), std::get<1>(action), std::get<2>(action),
                        std::get<3>(action));
    return ActionFromWire(action);
  } catch (const sdbus::Error& error) {
    Failed("UpdateDialog", error);
    return std::nullopt;
  }
}

void BusDialogAgent::CloseDialog(std::uint32_t dialog, const std::vector<ui::ViewChange>& changes) {
  try {
    proxy_->callMethod("CloseDialog")
        .onInterface(kUiAgentInterface)
        .withTimeout(kNoTimeout)
        .withArguments(dialog, ToWire(changes));
  } catch (const sdbus::Error& error) {
    Failed("CloseDialog", error);
  }
}

void BusDialogAgent::ShowWaitCursor() {
  try {
    proxy_->callMethod("ShowWaitCursor").onInterface(kUiAgentInterface).dontExpectReply();
  } catch (const sdbus::Error& error) {
    Failed("ShowWaitCursor", error);
  }
}

UiAgentObject::UiAgentObject(sdbus::IConnection& connection, LocalDialogAgent& agent,
                             std::string path)
    : connection_(connection), agent_(agent), path_(std::move(path)) {
  object_ = sdbus::createObject(connection_, path_);
  auto not_listening = [] {
    return sdbus::Error(kErrorNotListening, "the host is not waiting for a call of its own");
  };
  object_->registerMethod("MessageBox")
      .onInterface(kUiAgentInterface)
      .withInputParamNames("text", "caption", "style")
      .withOutputParamNames("button")
      .implementedAs([this, not_listening](const std::string& text, const std::string& caption,
                                           std::uint32_t style) {
        CheckCaller();
        std::optional<int> button = agent_.MessageBox(text, caption, style);
        if (!button) throw not_listening();
        return static_cast<std::int32_t>(*button);
      });
  object_->registerMethod("BrowseForFolder")
      .onInterface(kUiAgentInterface)
      .withInputParamNames("title")
      .withOutputParamNames("chosen", "folder")
      .implementedAs([this, not_listening](const std::string& title) {
        CheckCaller();
        std::optional<std::string> folder;
        if (!agent_.BrowseForFolder(title, folder)) throw not_listening();
        return std::make_tuple(folder.has_value(), folder.value_or(""));
      });
  auto action_or_error = [not_listening](const std::optional<ui::DialogAction>& action) {
    if (!action) throw not_listening();
    return ToWire(*action);
  };
  object_->registerMethod("OpenDialog")
      .onInterface(kUiAgentInterface)
      .withInputParamNames("dialog", "template", "changes")
      .withOutputParamNames("kind", "control", "item", "checks")
      .implementedAs([this, action_or_error](std::uint32_t dialog, std::int32_t template_id,
                                             const std::vector<WireChange>& wire) {
        CheckCaller();
        std::optional<std::vector<ui::ViewChange>> changes = ChangesFromWire(wire);
        if (!changes) throw sdbus::Error(kErrorFailed, "a change of an unknown kind");
        return action_or_error(agent_.OpenDialog(dialog, template_id, *changes));
      });
  object_->registerMethod("UpdateDialog")
      .onInterface(kUiAgentInterface)
      .withInputParamNames("dialog", "changes")
      .withOutputParamNames("kind", "control", "item", "checks")
      .implementedAs(
          [this, action_or_error](std::uint32_t dialog, const std::vector<WireChange>& wire) {
            CheckCaller();
            std::optional<std::vector<ui::ViewChange>> changes = ChangesFromWire(wire);
            if (!changes) throw sdbus::Error(kErrorFailed, "a change of an unknown kind");
            return action_or_error(agent_.UpdateDialog(dialog, *changes));
          });
  object_->registerMethod("CloseDialog")
      .onInterface(kUiAgentInterface)
      .withInputParamNames("dialog", "changes")
      .implementedAs([this](std::uint32_t dialog, const std::vector<WireChange>& wire) {
        CheckCaller();
        std::optional<std::vector<ui::ViewChange>> changes = ChangesFromWire(wire);
        if (!changes) throw sdbus::Error(kErrorFailed, "a change of an unknown kind");
        agent_.CloseDialog(dialog, *changes);
      });
  object_->registerMethod("ShowWaitCursor")
      .onInterface(kUiAgentInterface)
      .withNoReply()
      .implementedAs([this] {
        CheckCaller();
        agent_.ShowWaitCursor();
      });
  object_->finishRegistration();
}

UiAgentObject::~UiAgentObject() { object_.reset(); }

void UiAgentObject::CheckCaller() {
  std::string caller = object_->getCurrentlyProcessedMessage()->getSender();
  std::lock_guard lock(mutex_);
  if (!servers_.contains(caller)) {
    throw sdbus::Error("org.freedesktop.DBus.Error.AccessDenied",
                       "only the server this agent was registered with may call it");
  }
}

std::int32_t UiAgentObject::RegisterWith(const std::string& server) {
  {
    std::lock_guard lock(mutex_);
    servers_.insert(server);
  }
  std::unique_ptr<sdbus::IProxy> factory = sdbus::createProxy(connection_, server, kFactoryPath);
  std::uint32_t handle = 0;
  factory->callMethod("RegisterUiAgent")
      .onInterface(kFactoryInterface)
      .withArguments(sdbus::ObjectPath(path_))
      .storeResultsTo(handle);
  return static_cast<std::int32_t>(handle);
}

}  // namespace kv::bus
