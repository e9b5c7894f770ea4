#pragma once
// The import filter class CEudoraMsgFilter. Its store reader is not built yet: the object answers
// the shared dispatch bodies and finds no store.

#include "app/import_filter.h"
#include "platform/services.h"

namespace kv {

class CEudoraMsgFilter final : public ImportFilter {
 public:
  explicit CEudoraMsgFilter(const platform::Services& services) : services_(services) {}
  std::string GetName() override;

 private:
  [[maybe_unused]] const platform::Services& services_;
};

}  // namespace kv
