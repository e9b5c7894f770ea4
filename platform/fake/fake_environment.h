#pragma once
// Environment and code page stand-ins that do not depend on the machine: for tests, and for the
// host tool when it is told which variables a store's paths expect.

#include <map>
#include <string>

#include "platform/environment.h"

namespace kv::platform {

// ExpandEnvironmentStringsA over a fixed set of variables. Names are matched without regard to
// ASCII case, as Windows does; unknown %NAME% stays as written.
class FakeEnvironment final : public Environment {
 public:
  FakeEnvironment() = default;
  explicit FakeEnvironment(std::map<std::string, std::string> variables);

  void Set(const std::string& name, const std::string& value);
  std::string ExpandEnvironmentStrings(const std::string& text) override;

 private:
  std::map<std::string, std::string> variables_;  // keyed by the name in lower case
};

// Windows-1252 by its own table, the same on every machine. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) read as U+FFFD; characters it lacks, and malformed
// UTF-8, are written as "?".
class Windows1252CodePage final : public CodePage {
 public:
  std::string ToUtf8(const std::string& text) override;
  std::string FromUtf8(const std::string& text) override;
};

}  // namespace kv::platform
