#include "bus/bus_server.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <exception>
#include <utility>

#include "bus/bus_names.h"
#include "bus/ui_agent_bus.h"
#include "platform/implementation_support.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace kv::bus {
namespace {

constexpr const char* kDefaultCodePage = "WINDOWS-1252";
constexpr std::int64_t kUnknownOffset = -1;
constexpr const char* kReplacementCharacter = "\xEF\xBF\xBD";

// Runs a filter call; anything but a D-Bus error it throws becomes one, so that the client gets
// an answer and the server carries on.
template <typename Call>
auto Guarded(Call&& call) -> decltype(call()) {
  try {
    return call();
  } catch (const sdbus::Error&) {
    throw;
  } catch (const std::exception& error) {
    throw sdbus::Error(kErrorFailed, error.what());
  }
}

// Sends a filter's reports as the Diagnostic signal of its object, texts in UTF-8.
class SignalDiagnostics final : public platform::Diagnostics {
 public:
  SignalDiagnostics(platform::CodePage& code_page, std::FILE* log)
      : code_page_(code_page), log_(log) {}

  void Attach(sdbus::IObject* object) { object_ = object; }

  void Report(const platform::Diagnostic& diagnostic) override {
    if (object_ == nullptr) return;
    std::string kind =
        diagnostic.kind == platform::DiagnosticKind::kOutputFailure ? "output-failure" : "skipped";
    std::int64_t offset =
        diagnostic.offset ? static_cast<std::int64_t>(*diagnostic.offset) : kUnknownOffset;
    try {
      object_->emitSignal("Diagnostic")
          .onInterface(kFilterInterface)
          .withArguments(kind, Text(diagnostic.folder), Text(diagnostic.file), offset,
                         Text(diagnostic.problem), Text(diagnostic.lost));
    } catch (const sdbus::Error& error) {
      // The report still reaches a person through the log.
      std::fprintf(log_, "kvfltrs: %s (not sent: %s)\n",
                   Text(platform::FormatDiagnostic(diagnostic)).c_str(), error.what());
    }
  }

 private:
  std::string Text(const std::string& text) { return ValidUtf8(code_page_.ToUtf8(text)); }

  platform::CodePage& code_page_;
  std::FILE* log_;
  sdbus::IObject* object_ = nullptr;
};

}  // namespace

std::string ValidUtf8(const std::string& text) {
  std::string valid;
  valid.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t start = i;
    if (platform::DecodeUtf8(text, i)) {
      valid.append(text, start, i - start);
    } else {
      valid += kReplacementCharacter;
    }
  }
  return valid;
}

namespace {

// What a client may set for its object; see CreateInstanceWithSettings in the interface file.
struct ObjectSettings {
  std::string code_page = kDefaultCodePage;
  std::map<char, std::string> drives;
  std::string temp_base;  // empty: $TMPDIR or /tmp
};

ObjectSettings ReadSettings(const std::map<std::string, std::string>& settings) {
  ObjectSettings read;
  auto refuse = [](const std::string& why) { throw sdbus::Error(kErrorInvalidSettings, why); };
  for (const auto& [key, value] : settings) {
    if (key == kSettingCodePage) {
      if (!platform::IconvCodePage(value).valid()) refuse("unknown code page \"" + value + "\"");
      read.code_page = value;
    } else if (key.starts_with(kSettingDrivePrefix) &&
               key.size() == std::string_view(kSettingDrivePrefix).size() + 1) {
      char letter = key.back();
      if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
      if (letter < 'A' || letter > 'Z') refuse("\"" + key + "\" names no drive letter");
      if (!value.starts_with('/'))
        refuse("drive " + std::string(1, letter) + ": is no absolute path");
      read.drives[letter] = value;
    } else if (key == kSettingTempBase) {
      if (!value.starts_with('/')) refuse("the temporary folder's base is no absolute path");
      read.temp_base = value;
    } else {
      refuse("unknown setting \"" + key + "\"");
    }
  }
  return read;
}

}  // namespace

// One filter object with the platform services it was made over, all its own: the store's code
// page, the file system with the client's drive letters, temporary files, the front that reaches
// the client's agent. Members go in reverse order: the bus object first, so that no call reaches
// a filter being destroyed.
struct BusServer::ServedObject {
  ServedObject(const ObjectSettings& settings, ui::RemoteUserInterface::AgentLookup agents,
               std::FILE* log)
      : code_page(settings.code_page),
        files(platform::PosixFileSystem::Options{settings.drives, settings.code_page}),
        temp(settings.temp_base),
        ui(std::move(agents), code_page,
           [log](const std::string& line) {
             std::fprintf(log, "kvfltrs: %s\n", ValidUtf8(line).c_str());
             std::fflush(log);
           }),
        diagnostics(code_page, log),
        services{registry, files, temp, environment, code_page, ui, diagnostics} {}

  std::string path;
  std::string client;  // the unique bus name of the client that created it
  platform::IconvCodePage code_page;
  platform::PosixFileSystem files;
  platform::PosixTempFiles temp;
  platform::PosixEnvironment environment;
  platform::MemoryRegistry registry;
  ui::RemoteUserInterface ui;
  SignalDiagnostics diagnostics;
  platform::Services services;
  std::unique_ptr<ImportFilter> filter;
  std::unique_ptr<sdbus::IObject> object;
};

// A host's user-interface agent, known by its handle.
struct BusServer::Agent {
  std::string client;
  std::unique_ptr<BusDialogAgent> proxy;
};

BusServer::BusServer(ServiceFileRegistration registration, std::FILE* log)
    : registration_(std::move(registration)), log_(log) {}

BusServer::~BusServer() {
  // Objects and agents before the connection they use.
  objects_.clear();
  agents_.clear();
  watched_clients_.clear();
  retired_watches_.clear();
  factory_object_.reset();
  bus_proxy_.reset();
}

bool BusServer::Initialize() {
  try {
    connection_ = sdbus::createSessionBusConnection();
    bus_proxy_ = sdbus::createProxy(*connection_, kBusName, kBusPath);
    return true;
  } catch (const sdbus::Error& error) {
    Log(std::string("cannot connect to the session bus: ") + error.what());
    return false;
  }
}

bool BusServer::RegisterServerClass(const FilterClass& filter_class) {
  // The bus reads the folder again when a client asks for a name it does not know yet.
  return registration_.Add(filter_class);
}

bool BusServer::UnregisterClass(const FilterClass& filter_class) {
  return registration_.Remove(filter_class);
}

bool BusServer::RegisterFactories(std::span<const FilterClassFactory> factories) {
  factories_ = factories;
  try {
    factory_object_ = sdbus::createObject(*connection_, kFactoryPath);
    factory_object_->registerMethod("CreateInstance")
        .onInterface(kFactoryInterface)
        .withInputParamNames("class")
        .withOutputParamNames("object")
        .implementedAs([this](const std::string& name) { return CreateObject(name, {}); });
    factory_object_->registerMethod("CreateInstanceWithSettings")
        .onInterface(kFactoryInterface)
        .withInputParamNames("class", "settings")
        .withOutputParamNames("object")
        .implementedAs(
            [this](const std::string& name, const std::map<std::string, std::string>& settings) {
              return CreateObject(name, settings);
            });
    factory_object_->registerMethod("RegisterUiAgent")
        .onInterface(kFactoryInterface)
        .withInputParamNames("agent")
        .withOutputParamNames("handle")
        .implementedAs([this](const sdbus::ObjectPath& path) { return RegisterAgent(path); });
    factory_object_->registerMethod("UnregisterUiAgent")
        .onInterface(kFactoryInterface)
        .withInputParamNames("handle")
        .implementedAs([this](std::uint32_t handle) { UnregisterAgent(handle); });
    factory_object_->finishRegistration();
    connection_->requestName(kServiceName);
    name_owned_ = true;
    serving_ = true;
    return true;
  } catch (const sdbus::Error& error) {
    Log(std::string("cannot serve ") + kServiceName + ": " + error.what());
    return false;
  }
}

std::string BusServer::Caller() const {
  return factory_object_->getCurrentlyProcessedMessage()->getSender();
}

sdbus::ObjectPath BusServer::CreateObject(const std::string& name,
                                          const std::map<std::string, std::string>& settings) {
  const FilterClassFactory* factory = FindFactory(factories_, name);
  if (factory == nullptr) {
    throw sdbus::Error(kErrorUnknownClass,
                       "no class \"" + ValidUtf8(name) +
                           "\": give a ProgID such as KVFLTRS.OEIMPORTMSG or a class ID in braces");
  }
  ObjectSettings read = ReadSettings(settings);
  auto served = std::make_unique<ServedObject>(
      read, [this](platform::WindowHandle handle) { return FindAgent(handle); }, log_);
  served->path = kFilterPathPrefix + std::to_string(next_object_number_++);
  served->client = Caller();
  served->filter = factory->CreateObject(served->services);
  served->object = sdbus::createObject(*connection_, served->path);
  served->diagnostics.Attach(served->object.get());
  ExportFilterInterface(*served);
  ever_created_ = true;
  sdbus::ObjectPath path(served->path);
  std::string client = served->client;
  objects_[served->path] = std::move(served);
  WatchClient(client);
  return path;
}

std::uint32_t BusServer::RegisterAgent(const sdbus::ObjectPath& path) {
  std::string client = Caller();
  // Handles travel as the 32-bit signed window handle of SetParent: positive, never 0.
  if (next_agent_handle_ > static_cast<std::uint32_t>(INT32_MAX)) next_agent_handle_ = 1;
  while (agents_.contains(next_agent_handle_)) ++next_agent_handle_;
  std::uint32_t handle = next_agent_handle_++;
  agents_[handle] = Agent{
      client, std::make_unique<BusDialogAgent>(*connection_, client, path,
                                               [this](const std::string& line) { Log(line); })};
  WatchClient(client);
  return handle;
}

void BusServer::UnregisterAgent(std::uint32_t handle) {
  auto agent = agents_.find(handle);
  if (agent == agents_.end() || agent->second.client != Caller()) {
    throw sdbus::Error(kErrorUnknownAgent,
                       "no agent " + std::to_string(handle) + " registered by this client");
  }
  agents_.erase(agent);
}

ui::DialogAgent* BusServer::FindAgent(platform::WindowHandle handle) {
  auto agent = agents_.find(handle);
  return agent != agents_.end() ? agent->second.proxy.get() : nullptr;
}

void BusServer::ExportFilterInterface(ServedObject& served) {
  sdbus::IObject& object = *served.object;
  ImportFilter& filter = *served.filter;
  const std::string path = served.path;
  object.registerMethod("GetName")
      .onInterface(kFilterInterface)
      .withOutputParamNames("name")
      .implementedAs([&filter] { return Guarded([&] { return ValidUtf8(filter.GetName()); }); });
  object.registerMethod("GetType")
      .onInterface(kFilterInterface)
      .withOutputParamNames("type")
      .implementedAs([&filter] { return Guarded([&] { return filter.GetType(); }); });
  object.registerMethod("GoFirst")
      .onInterface(kFilterInterface)
      .withOutputParamNames("positioned")
      .implementedAs([&filter] { return Guarded([&] { return filter.GoFirst(); }); });
  object.registerMethod("GoNext")
      .onInterface(kFilterInterface)
      .withOutputParamNames("positioned")
      .implementedAs([&filter] { return Guarded([&] { return filter.GoNext(); }); });
  object.registerMethod("GetItemStatus")
      .onInterface(kFilterInterface)
      .withOutputParamNames("status")
      .implementedAs([&filter] { return Guarded([&] { return filter.GetItemStatus(); }); });
  object.registerMethod("GetSubItem")
      .onInterface(kFilterInterface)
      .withInputParamNames("code")
      .withOutputParamNames("value")
      .implementedAs([&filter](std::int16_t code) {
        // The bus has no null string: a null value arrives as an empty one.
        return Guarded([&] { return ValidUtf8(filter.GetSubItem(code).value_or("")); });
      });
  object.registerMethod("IsSystemFound")
      .onInterface(kFilterInterface)
      .withOutputParamNames("found")
      .implementedAs([&filter] { return Guarded([&] { return filter.IsSystemFound(); }); });
  object.registerMethod("GetItemExStatus")
      .onInterface(kFilterInterface)
      .withOutputParamNames("state")
      .implementedAs([&filter] { return Guarded([&] { return filter.GetItemExStatus(); }); });
  object.registerMethod("IsEnableSetPath")
      .onInterface(kFilterInterface)
      .withOutputParamNames("enabled")
      .implementedAs([&filter] { return Guarded([&] { return filter.IsEnableSetPath(); }); });
  // The path is passed by reference: the string as the filter left it comes back.
  object.registerMethod("SetPath")
      .onInterface(kFilterInterface)
      .withInputParamNames("path")
      .withOutputParamNames("path")
      .implementedAs([&filter](std::string text) {
        return Guarded([&] {
          filter.SetPath(text);
          return ValidUtf8(text);
        });
      });
  object.registerMethod("SetParent")
      .onInterface(kFilterInterface)
      .withInputParamNames("window")
      .implementedAs(
          [&filter](std::int32_t window) { Guarded([&] { filter.SetParent(window); }); });
  object.registerMethod("Release").onInterface(kFilterInterface).implementedAs([this, path] {
    QueueRelease(path);
  });
  object.registerSignal("Diagnostic")
      .onInterface(kFilterInterface)
      .withParameters<std::string, std::string, std::string, std::int64_t, std::string,
                      std::string>("kind", "folder", "file", "offset", "problem", "lost");
  object.finishRegistration();
}

void BusServer::QueueRelease(const std::string& path) {
  if (std::find(release_queue_.begin(), release_queue_.end(), path) == release_queue_.end()) {
    release_queue_.push_back(path);
  }
}

void BusServer::FlushReleases() {
  std::vector<std::string> queue = std::exchange(release_queue_, {});
  for (const std::string& path : queue) objects_.erase(path);
  retired_watches_.clear();
  // A client with no object and no agent left need not be watched any longer.
  for (auto it = watched_clients_.begin(); it != watched_clients_.end();) {
    auto of_client = [&](const auto& entry) { return entry.second.client == it->first; };
    auto object_of_client = [&](const auto& entry) { return entry.second->client == it->first; };
    bool holds = std::any_of(objects_.begin(), objects_.end(), object_of_client) ||
                 std::any_of(agents_.begin(), agents_.end(), of_client);
    it = holds ? std::next(it) : watched_clients_.erase(it);
  }
}

void BusServer::WatchClient(const std::string& client) {
  if (watched_clients_.contains(client)) return;
  std::string rule = std::string("type='signal',sender='") + kBusName + "',path='" + kBusPath +
                     "',interface='" + kBusInterface + "',member='NameOwnerChanged',arg0='" +
                     client + "'";
  watched_clients_[client] = connection_->addMatch(rule, [this](sdbus::Message& message) {
    std::string name, old_owner, new_owner;
    message >> name >> old_owner >> new_owner;
    if (new_owner.empty()) ClientGone(name);
  });
  // A client that left before the watch began is not announced any more: ask.
  bool present = true;
  try {
    bus_proxy_->callMethod("NameHasOwner")
        .onInterface(kBusInterface)
        .withArguments(client)
        .storeResultsTo(present);
  } catch (const sdbus::Error&) {
  }
  if (!present) ClientGone(client);
}

void BusServer::ClientGone(const std::string& client) {
  int released = 0;
  for (const auto& [path, served] : objects_) {
    if (served->client != client) continue;
    QueueRelease(path);
    ++released;
  }
  if (released > 0) {
    Log("client " + client + " left the bus without releasing " + std::to_string(released) +
        (released == 1 ? " object" : " objects") + "; released for it");
  }
  std::erase_if(agents_, [&](const auto& entry) { return entry.second.client == client; });
  auto watch = watched_clients_.find(client);
  if (watch != watched_clients_.end()) {
    // This may run inside the watch's own callback: the match is dropped after the call.
    retired_watches_.push_back(std::move(watch->second));
    watched_clients_.erase(watch);
  }
}

bool BusServer::DispatchPending() {
  try {
    while (connection_->processPendingRequest()) FlushReleases();
    FlushReleases();
    return true;
  } catch (const sdbus::Error& error) {
    Log(std::string("lost the session bus: ") + error.what());
    return false;
  }
}

bool BusServer::ShouldEnd() const { return ever_created_ && ServerLock::Count() == 0; }

bool BusServer::EndServing() {
  try {
    if (name_owned_) connection_->releaseName(kServiceName);
    name_owned_ = false;
  } catch (const sdbus::Error& error) {
    Log(std::string("cannot give up the name: ") + error.what());
  }
  // Every message the bus routed to this process before the name went is here now.
  if (!DispatchPending()) return true;
  if (ServerLock::Count() == 0) return true;
  try {
    connection_->requestName(kServiceName);
    name_owned_ = true;
  } catch (const sdbus::Error&) {
    Log("a new server took the name while this one was ending; the objects made meanwhile stay "
        "reachable at " +
        connection_->getUniqueName());
  }
  return false;
}

int BusServer::Run() {
  if (!serving_) return 1;
  for (;;) {
    if (!DispatchPending()) return 1;
    if (ShouldEnd()) {
      if (EndServing()) return 0;
      continue;
    }
    sdbus::IConnection::PollData poll_data = connection_->getEventLoopPollData();
    pollfd descriptor{poll_data.fd, poll_data.events, 0};
    if (poll(&descriptor, 1, poll_data.getPollTimeout()) < 0 && errno != EINTR) {
      Log("cannot wait for the bus");
      return 1;
    }
  }
}

void BusServer::Log(const std::string& line) {
  std::fprintf(log_, "kvfltrs: %s\n", line.c_str());
  std::fflush(log_);
}

}  // namespace kv::bus
