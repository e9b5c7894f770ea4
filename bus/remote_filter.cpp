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
                                       const std::string& class_name) {
  std::unique_ptr<sdbus::IProxy> factory =
      sdbus::createProxy(connection, kServiceName, kFactoryPath);
  sdbus::MethodCall call = factory->createMethodCall(kFactoryInterface, "CreateInstance");
  call << class_name;
  sdbus::MethodReply reply = factory->callMethod(call);
  sdbus::ObjectPath path;
  reply >> path;
  server_ = reply.getSender();
  path_ = path;
  object_ = sdbus::createProxy(connection, server_, path_);
}

RemoteImportFilter::~RemoteImportFilter() {
  try {
    object_->callMethod("Release").onInterface(kFilterInterface);
  } catch (const sdbus::Error&) {
    // The server is gone, and the object with it.
  }
}

void RemoteImportFilter::Note(const char* method, const sdbus::Error& error) {
  if (!failure_)
    failure_ = std::string(method) + ": " + error.getName() + ": " + error.getMessage();
}

template <typename Result, typename... Args>
bool RemoteImportFilter::Call(const char* method, Result& result, const Args&... args) {
  try {
    sdbus::MethodCall call = object_->createMethodCall(kFilterInterface, method);
    ((call << args), ...);
    sdbus::MethodReply reply = object_->callMethod(call, kNoTimeout);
    if constexpr (!std::is_same_v<Result, std::nullptr_t>) reply >> result;
    return true;
  } catch (const sdbus::Error& error) {
    Note(method, error);
    return false;
  }
}

std::string RemoteImportFilter::GetName() {
  std::string name;
  Call("GetName", name);
  return name;
}

std::int16_t RemoteImportFilter::GetType() {
  std::int16_t type = 0;
  Call("GetType", type);
  return type;
}

bool RemoteImportFilter::GoFirst() {
  bool positioned = false;
  Call("GoFirst", positioned);
  return positioned;
}

bool RemoteImportFilter::GoNext() {
  bool positioned = false;
  Call("GoNext", positioned);
  return positioned;
}

std::int32_t RemoteImportFilter::GetItemStatus() {
  std::int32_t status = 0;
  Call("GetItemStatus", status);
  return status;
}

AutomationString RemoteImportFilter::GetSubItem(std::int16_t code) {
  std::string value;
  if (!Call("GetSubItem", value, code)) return std::nullopt;
  return value;
}

bool RemoteImportFilter::IsSystemFound() {
  bool found = false;
  Call("IsSystemFound", found);
  return found;
}

std::int32_t RemoteImportFilter::GetItemExStatus() {
  std::int32_t state = 0;
  Call("GetItemExStatus", state);
  return state;
}

bool RemoteImportFilter::IsEnableSetPath() {
  bool enabled = false;
  Call("IsEnableSetPath", enabled);
  return enabled;
}

void RemoteImportFilter::SetPath(std::string& path) {
  std::string back;
  if (Call("SetPath", back, path)) path = back;
}

void RemoteImportFilter::SetParent(std::int32_t window) {
  ImportFilter::SetParent(window);
  std::nullptr_t none = nullptr;
  Call("SetParent", none, window);
}

}  // namespace kv::bus
