#pragma once
// A filter object in the server, driven from another process as an ImportFilter: each method is
// one call on the bus. The object is created by CreateInstance and released when this goes.
//
// Calls go to the unique name of the server process that created the object, so that they reach
// that process even while another one takes over the well-known name. They wait as long as the
// server works (a dialog may wait for a person); if the server leaves the bus the call fails at
// once. No method throws: a failed call answers as a failure does (false, 0, a null string) and
// `failure()` keeps the first error.
//
// With an agent (see Options), the object's dialogs come back to this process: each call is run
// through LocalDialogAgent::CallServing, so that the calling thread shows them while it waits,
// and SetParent gives the server the agent's handle in place of the host window it registered
// for. Then the connection's event loop must run in a thread of its own (enterEventLoopAsync).

#include <sdbus-c++/sdbus-c++.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/import_filter.h"
#include "bus/local_agent.h"
#include "platform/diagnostics.h"
#include "platform/environment.h"

namespace kv::bus {

class RemoteImportFilter final : public ImportFilter {
 public:
  struct Options {
    // The object's settings (CreateInstanceWithSettings); none: CreateInstance.
    std::map<std::string, std::string> settings;
    // Serves the object's dialogs and reports while a call waits; null: plain waiting calls.
    LocalDialogAgent* agent = nullptr;
    // Gets the object's reports, texts converted from UTF-8 to `code_page`. Both or neither.
    platform::Diagnostics* diagnostics = nullptr;
    platform::CodePage* code_page = nullptr;
  };

  // Creates an object of `class_name` (a ProgID or a class ID in braces) in the server, which the
  // bus starts when needed. Throws sdbus::Error when the server refuses or cannot be reached.
  // `connection` and what `options` point to must outlive this object.
  RemoteImportFilter(sdbus::IConnection& connection, const std::string& class_name,
                     Options options);
  RemoteImportFilter(sdbus::IConnection& connection, const std::string& class_name)
      : RemoteImportFilter(connection, class_name, Options()) {}
  ~RemoteImportFilter() override;

  const std::string& path() const { return path_; }
  // The unique bus name of the server process.
  const std::string& server() const { return server_; }
  // The first call that failed, with the bus's error; nullopt while every call succeeded.
  const std::optional<std::string>& failure() const { return failure_; }

  // SetParent(window) gives the server `handle` (from RegisterUiAgent) instead.
  void MapWindow(platform::WindowHandle window, std::int32_t handle) { windows_[window] = handle; }

  std::string GetName() override;
  std::int16_t GetType() override;
  bool GoFirst() override;
  bool GoNext() override;
  std::int32_t GetItemStatus() override;
  AutomationString GetSubItem(std::int16_t code) override;
  bool IsSystemFound() override;
  std::int32_t GetItemExStatus() override;
  bool IsEnableSetPath() override;
  void SetPath(std::string& path) override;
  void SetParent(std::int32_t window) override;

 private:
  // Calls `method` with `args`; the reply, or nullopt (noted) on failure.
  template <typename... Args>
  std::optional<sdbus::MethodReply> Call(const char* method, const Args&... args);
  template <typename Result>
  Result Read(std::optional<sdbus::MethodReply> reply, Result failed);
  void Note(const char* method, const sdbus::Error& error);
  void OnDiagnostic(const std::string& kind, const std::string& folder, const std::string& file,
                    std::int64_t offset, const std::string& problem, const std::string& lost);

  Options options_;
  std::string server_;
  std::string path_;
  std::unique_ptr<sdbus::IProxy> object_;
  std::map<platform::WindowHandle, std::int32_t> windows_;
  std::optional<std::string> failure_;
};

}  // namespace kv::bus
