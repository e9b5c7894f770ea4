#pragma once
// The import filter class SCNetscapeMsgFilter. Its store reader is not built yet: the object
// answers the shared dispatch bodies and finds no store.

#include "app/import_filter.h"
#include "platform/services.h"

namespace kv {

class SCNetscapeMsgFilter final : public ImportFilter {
 public:
  explicit SCNetscapeMsgFilter(const platform::Services& services) : services_(services) {}
  std::string GetName() override;

 private:
  [[maybe_unused]] const platform::Services& services_;
};

}  // namespace kv
