#include "bus/remote_filter.h"

#include <cstdint>
#include <limits>

#include "bus/bus_names.h"

namespace kv::bus {
namespace {

// No timeout: a call may show a dialog and wait for a person; a server that goes away ends the
// call with an error from the bus.
constexpr std::uint64_t kNoTimeout = std::numeric_limits<std::uint64_t>::max();

}  // namespace

RemoteImportFilter::RemoteImportFilter(sdbus::IConnection& connection,
                                       const std::string& class_name, Options options)
    : options_(std::move(options)) {
  std::unique_ptr<sdbus::IProxy> factory =
      sdbus::createProxy(connection, kServiceName, kFactoryPath);
  sdbus::MethodCall call = factory->createMethodCall(
      kFactoryInterface,
      options_.settings.empty() ? "CreateInstance" : "CreateInstanceWithSettings");
  call << class_name;
  if (!options_.settings.empty()) call << options_.settings;
  sdbus::MethodReply reply = factory->callMethod(call);
  sdbus::ObjectPath path;
  reply >> path;
  server_ = reply.getSender();
  path_ = path;
  object_ = sdbus::createProxy(connection, server_, path_);
  if (options_.diagnostics != nullptr && options_.code_page != nullptr) {
    object_->uponSignal("Diagnostic")
        .onInterface(kFilterInterface)
        .call([this](const std::string& kind, const std::string& folder, const std::string& file,
                     std::int64_t offset, const std::string& problem, const std::string& lost) {
          OnDiagnostic(kind, folder, file, offset, problem, lost);
        });
    object_->finishRegistration();
  }
}

RemoteImportFilter::~RemoteImportFilter() {
  try {
    object_->callMethod("Release").onInterface(kFilterInterface);
  } catch (const sdbus::Error&) {
    // The server is gone, and the object with it.
  }
}

void RemoteImportFilter::OnDiagnostic(const std::string& kind, const std::string& folder,
                                      const std::string& file, std::int64_t offset,
                                      const std::string& problem, const std::string& lost) {
  platform::CodePage& code_page = *options_.code_page;
  platform::Diagnostic diagnostic;
  diagnostic.kind = kind == "output-failure" ? platform::DiagnosticKind::kOutputFailure
                                             : platform::DiagnosticKind::kSkipped;
  diagnostic.folder = code_page.FromUtf8(folder);
  diagnostic.file = code_page.FromUtf8(file);
  if (offset >= 0) diagnostic.offset = static_cast<std::uint64_t>(offset);
  diagnostic.problem = code_page.FromUtf8(problem);
  diagnostic.lost = code_page.FromUtf8(lost);
  // Reports reach the host in order with the calls, on the thread that makes them.
  platform::Diagnostics* diagnostics = options_.diagnostics;
  if (options_.agent != nullptr) {
    options_.agent->Post([diagnostics, diagnostic] { diagnostics->Report(diagnostic); });
  } else {
    diagnostics->Report(diagnostic);
  }
}

void RemoteImportFilter::Note(const char* method, const sdbus::Error& error) {
  if (!failure_)
    failure_ = std::string(method) + ": " + error.getName() + ": " + error.getMessage();
}

template <typename... Args>
std::optional<sdbus::MethodReply> RemoteImportFilter::Call(const char* method,
                                                           const Args&... args) {
  try {
    sdbus::MethodCall call = object_->createMethodCall(kFilterInterface, method);
    ((call << args), ...);
    if (options_.agent == nullptr) return object_->callMethod(call, kNoTimeout);
    std::optional<sdbus::MethodReply> reply;
    std::optional<sdbus::Error> error;
    options_.agent->CallServing([&](std::function<void()> finished) {
      object_->callMethod(
          call,
          [&reply, &error, finished](sdbus::MethodReply& answer, const sdbus::Error* failed) {
            if (failed != nullptr) {
              error = *failed;
            } else {
              reply = std::move(answer);
            }
            finished();
          },
          kNoTimeout);
    });
    if (error) throw *error;
    return reply;
  } catch (const sdbus::Error& error) {
    Note(method, error);
    return std::nullopt;
  }
}

template <typename Result>
Result RemoteImportFilter::Read(std::optional<sdbus::MethodReply> reply, Result failed) {
  if (!reply) return failed;
  Result result{};
  try {
    *reply >> result;
  } catch (const sdbus::Error& error) {
    Note(reply->getMemberName().c_str(), error);
    return failed;
  }
  return result;
}

std::string RemoteImportFilter::GetName() { return Read(Call("GetName"), std::string()); }

std::int16_t RemoteImportFilter::GetType() { return Read(Call("GetType"), std::int16_t{0}); }

bool RemoteImportFilter::GoFirst() { return Read(Call("GoFirst"), false); }

bool RemoteImportFilter::GoNext() { return Read(Call("GoNext"), false); }

std::int32_t RemoteImportFilter::GetItemStatus() {
  return Read(Call("GetItemStatus"), std::int32_t{0});
}

AutomationString RemoteImportFilter::GetSubItem(std::int16_t code) {
  std::optional<sdbus::MethodReply> reply = Call("GetSubItem", code);
  if (!reply) return std::nullopt;
  return Read(std::move(reply), std::string());
}

bool RemoteImportFilter::IsSystemFound() { return Read(Call("IsSystemFound"), false); }

std::int32_t RemoteImportFilter::GetItemExStatus() {
  return Read(Call("GetItemExStatus"), std::int32_t{0});
}

bool RemoteImportFilter::IsEnableSetPath() { return Read(Call("IsEnableSetPath"), false); }

void RemoteImportFilter::SetPath(std::string& path) {
  std::optional<sdbus::MethodReply> reply = Call("SetPath", path);
  if (reply) path = Read(std::move(reply), path);
}

void RemoteImportFilter::SetParent(std::int32_t window) {
  ImportFilter::SetParent(window);
  auto mapped = windows_.find(static_cast<platform::WindowHandle>(window));
  Call("SetParent", mapped != windows_.end() ? mapped->second : window);
}

}  // namespace kv::bus
