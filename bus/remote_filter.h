#pragma once
// A filter object in the server, driven from another process as an ImportFilter: each method is
// one call on the bus. The object is created by CreateInstance and released when this goes.
//
// Calls go to the unique name of the server process that created the object, so that they reach
// that process even while another one takes over the well-known name. They wait as long as the
// server works (a dialog may wait for a person); if the server leaves the bus the call fails at
// once. No method throws: a failed call answers as a failure does (false, 0, an empty string) and
// `failure()` keeps the first error.

#include <sdbus-c++/sdbus-c++.h>

#include <memory>
#include <optional>
#include <string>

#include "app/import_filter.h"

namespace kv::bus {

class RemoteImportFilter final : public ImportFilter {
 public:
  // Creates an object of `class_name` (a ProgID or a class ID in braces) in the server, which the
  // bus starts when needed. Throws sdbus::Error when the server refuses or cannot be reached.
  // `connection` must outlive this object.
  RemoteImportFilter(sdbus::IConnection& connection, const std::string& class_name);
  ~RemoteImportFilter() override;

  const std::string& path() const { return path_; }
  // The unique bus name of the server process.
  const std::string& server() const { return server_; }
  // The first call that failed, with the bus's error; nullopt while every call succeeded.
  const std::optional<std::string>& failure() const { return failure_; }

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
  // Calls `method` with `args` and reads the one result into `result`; false on failure.
  template <typename Result, typename... Args>
  bool Call(const char* method, Result& result, const Args&... args);
  void Note(const char* method, const sdbus::Error& error);

  std::string server_;
  std::string path_;
  std::unique_ptr<sdbus::IProxy> object_;
  std::optional<std::string> failure_;
};

}  // namespace kv::bus
