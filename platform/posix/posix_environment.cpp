#include "platform/posix/posix_environment.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstring>

#include "platform/implementation_support.h"
#include "platform/text.h"

extern char** environ;

namespace kv::platform {
namespace {

std::optional<std::string> LookUp(const std::string& name) {
  if (const char* value = getenv(name.c_str())) return std::string(value);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals == nullptr || static_cast<std::size_t>(equals - *entry) != name.size()) continue;
    if (EqualsIgnoringCase(std::string_view(*entry, name.size()), name)) {
      return std::string(equals + 1);
    }
  }
  return std::nullopt;
}

}  // namespace

std::string PosixEnvironment::ExpandEnvironmentStrings(const std::string& text) {
  return ExpandPercentVariables(text, LookUp);
}

}  // namespace kv::platform
