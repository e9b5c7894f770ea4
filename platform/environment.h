#pragma once
// ExpandEnvironmentStringsA and the code page conversion between the store's single-byte code page
// and UTF-8 (the host's and the Linux file system's encoding).

#include <string>

namespace kv::platform {

class Environment {
 public:
  virtual ~Environment() = default;
  // Replaces each %NAME% whose variable is set by its value; unknown names and a lone "%" stay.
  virtual std::string ExpandEnvironmentStrings(const std::string& text) = 0;
};

class CodePage {
 public:
  virtual ~CodePage() = default;
  // Text in the system code page to UTF-8. Bytes the code page does not define map to U+FFFD.
  virtual std::string ToUtf8(const std::string& text) = 0;
  // UTF-8 to the system code page. Characters the code page lacks become "?".
  virtual std::string FromUtf8(const std::string& text) = 0;
};

}  // namespace kv::platform
