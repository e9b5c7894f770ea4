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
  // Every method answers later, from the host's thread: the bus's thread never waits for it.
  using ActionResult =
      sdbus::Result<std::string, std::int32_t, std::uint64_t, std::vector<WireCheck>>;
  auto not_listening = [] {
    return sdbus::Error(kErrorNotListening, "the host is not waiting for a call of its own");
  };
  auto answer_action = [not_listening](std::shared_ptr<ActionResult> reply) {
    return [reply, not_listening](std::optional<ui::DialogAction> action) {
      if (!action) return reply->returnError(not_listening());
      auto [kind, control, item, checks] = ToWire(*action);
      reply->returnResults(kind, control, item, checks);
    };
  };
  object_ = sdbus::createObject(connection_, path_);
  object_->registerMethod("MessageBox")
      .onInterface(kUiAgentInterface)
      .withInputParamNames("text", "caption", "style")
      .withOutputParamNames("button")
      .implementedAs([this, not_listening](sdbus::Result<std::int32_t>&& result, std::string text,
                                           std::string caption, std::uint32_t style) {
        auto reply = std::make_shared<sdbus::Result<std::int32_t>>(std::move(result));
        if (!CallerAllowed()) return reply->returnError(AccessDenied());
        agent_.AskMessageBox(text, caption, style,
                             [reply, not_listening](std::optional<int> button) {
                               if (!button) return reply->returnError(not_listening());
                               reply->returnResults(static_cast<std::int32_t>(*button));
                             });
      });
  object_->registerMethod("BrowseForFolder")
      .onInterface(kUiAgentInterface)
      .withInputParamNames("title")
      .withOutputParamNames("chosen", "folder")
      .implementedAs(
          [this, not_listening](sdbus::Result<bool, std::string>&& result, std::string title) {
            auto reply = std::make_shared<sdbus::Result<bool, std::string>>(std::move(result));
            if (!CallerAllowed()) return reply->returnError(AccessDenied());
            agent_.AskBrowseForFolder(
                title, [reply, not_listening](bool reached, std::optional<std::string> folder) {
                  if (!reached) return reply->returnError(not_listening());
                  reply->returnResults(folder.has_value(), folder.value_or(""));
                });
          });
  object_->registerMethod("OpenDialog")
      .onInterface(kUiAgentInterface)
      .withInputParamNames("dialog", "template", "changes")
      .withOutputParamNames("kind", "control", "item", "checks")
      .implementedAs([this, answer_action](ActionResult&& result, std::uint32_t dialog,
                                           std::int32_t template_id, std::vector<WireChange> wire) {
        auto reply = std::make_shared<ActionResult>(std::move(result));
        if (!CallerAllowed()) return reply->returnError(AccessDenied());
        std::optional<std::vector<ui::ViewChange>> changes = ChangesFromWire(wire);
        if (!changes) return reply->returnError(UnknownChange());
        agent_.AskOpenDialog(dialog, template_id, std::move(*changes), answer_action(reply));
      });
  object_->registerMethod("UpdateDialog")
      .onInterface(kUiAgentInterface)
      .withInputParamNames("dialog", "changes")
      .withOutputParamNames("kind", "control", "item", "checks")
      .implementedAs([this, answer_action](ActionResult&& result, std::uint32_t dialog,
                                           std::vector<WireChange> wire) {
        auto reply = std::make_shared<ActionResult>(std::move(result));
        if (!CallerAllowed()) return reply->returnError(AccessDenied());
        std::optional<std::vector<ui::ViewChange>> changes = ChangesFromWire(wire);
        if (!changes) return reply->returnError(UnknownChange());
        agent_.AskUpdateDialog(dialog, std::move(*changes), answer_action(reply));
      });
  object_->registerMethod("CloseDialog")
      .onInterface(kUiAgentInterface)
      .withInputParamNames("dialog", "changes")
      .implementedAs(
          [this](sdbus::Result<>&& result, std::uint32_t dialog, std::vector<WireChange> wire) {
            auto reply = std::make_shared<sdbus::Result<>>(std::move(result));
            if (!CallerAllowed()) return reply->returnError(AccessDenied());
            std::optional<std::vector<ui::ViewChange>> changes = ChangesFromWire(wire);
            if (!changes) return reply->returnError(UnknownChange());
            agent_.AskCloseDialog(dialog, std::move(*changes), [reply] { reply->returnResults(); });
          });
  object_->registerMethod("ShowWaitCursor")
      .onInterface(kUiAgentInterface)
      .withNoReply()
      .implementedAs([this] {
        if (CallerAllowed()) agent_.ShowWaitCursor();
      });
  object_->finishRegistration();
}

UiAgentObject::~UiAgentObject() { object_.reset(); }

bool UiAgentObject::CallerAllowed() {
  std::string caller = object_->getCurrentlyProcessedMessage()->getSender();
  std::lock_guard lock(mutex_);
  return servers_.contains(caller);
}

sdbus::Error UiAgentObject::AccessDenied() {
  return sdbus::Error("org.freedesktop.DBus.Error.AccessDenied",
                      "only the server this agent was registered with may call it");
}

sdbus::Error UiAgentObject::UnknownChange() {
  return sdbus::Error(kErrorFailed, "a dialog change of a kind this host does not know");
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
