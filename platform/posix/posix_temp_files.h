#pragma once
// Temporary files on Linux. The temporary folder is private to the user, because some filters
// write fixed names into it: <base>/kvfltrs-<uid>, created with mode 0700. An existing folder of
// that name is used only when it is a real directory (not a symbolic link) owned by this user with
// no permissions for group or others; otherwise a fresh folder <base>/kvfltrs-<uid>-XXXXXX is made
// with mkdtemp. <base> is $TMPDIR, or /tmp when that is unset or empty.
//
// Paths given to GetTempFileName are Linux paths ("\" is read as "/"). New names are created with
// O_CREAT | O_EXCL and mode 0600, so a name is never handed out twice.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/temp_files.h"

namespace kv::platform {

class PosixTempFiles final : public TempFiles {
 public:
  // `base_folder` replaces $TMPDIR and /tmp (for tests).
  explicit PosixTempFiles(std::string base_folder = "");

  // The private folder with a trailing "/", made on the first call; empty when no safe folder
  // could be made.
  std::string TempPath() override;
  std::optional<std::string> GetTempFileName(const std::string& folder, std::string_view prefix,
                                             std::uint32_t unique) override;

 private:
  std::string base_folder_;
  std::optional<std::string> temp_path_;
  std::uint32_t next_number_;
};

}  // namespace kv::platform
