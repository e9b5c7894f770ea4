#pragma once
// The system temporary folder and GetTempFileNameA's unique names. Temporary message files are
// created here and handed to the host, which owns them from then on.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv::platform {

class TempFiles {
 public:
  virtual ~TempFiles() = default;
  // GetTempPathA: the temporary folder, ending in a separator. On Linux a private per-user folder
  // (mode 0700) under $TMPDIR or /tmp, because some filters write fixed names there.
  virtual std::string TempPath() = 0;
  // GetTempFileNameA: `folder` + up to three characters of `prefix` + a hexadecimal number +
  // ".TMP". With `unique` 0 the number is chosen so that the name is new and the file is created
  // empty and exclusively (mode 0600 on Linux); with another number the name is only formed.
  // nullopt when no file could be created.
  virtual std::optional<std::string> GetTempFileName(const std::string& folder,
                                                     std::string_view prefix,
                                                     std::uint32_t unique) = 0;
};

// The file name GetTempFileNameA forms for `number`: prefix (at most 3 characters), the number in
// upper-case hexadecimal without leading zeros, ".TMP". Shared by every implementation.
std::string TempFileName(std::string_view prefix, std::uint32_t number);

}  // namespace kv::platform
