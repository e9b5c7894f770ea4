#pragma once
// ExpandEnvironmentStringsA over the process environment. Windows variable names ignore case, so
// a name not set as written is looked up again without regard to ASCII case.

#include <string>

#include "platform/environment.h"

namespace kv::platform {

class PosixEnvironment final : public Environment {
 public:
  std::string ExpandEnvironmentStrings(const std::string& text) override;
};

}  // namespace kv::platform
