#pragma once
// Temporary files on Linux. The temporary folder is private to the user, because some filters
// write fixed names into it: <base>/kvfltrs-<uid>, created with mode 0700. An existing folder of
// that name is used only when it is a real directory (not a symbolic link) owned by this user with
// no permissions for group or others; otherwise a fresh folder <base>/kvfltrs-<uid>-XXXXXX is made
// with mkdtemp, and removed with what is in it when the object goes. <base> is $TMPDIR, or /tmp
// when that is unset or empty.
//
// Made with OwnFolder, the object instead makes a fresh private folder
// <parent>/<prefix><pid>-XXXXXX of its own (for example inside an import's target, so that handing
// a file over is a rename) and removes it with everything in it when it goes. Folders of that
// pattern that a killed process left in <parent> are removed first. <parent> is made as needed;
// folders made for it are removed again at the end when nothing else came into them. When no such
// folder can be made, the object works as with the default folder.
//
// Paths given to GetTempFileName are Linux paths ("\" is read as "/"). New names are created with
// O_CREAT | O_EXCL and mode 0600, so a name is never handed out twice.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/temp_files.h"

namespace kv::platform {

class PosixTempFiles final : public TempFiles {
 public:
  // `base_folder` replaces $TMPDIR and /tmp (for tests).
  explicit PosixTempFiles(std::string base_folder = "");
  struct OwnFolder {
    std::string parent;
    std::string prefix;
  };
  explicit PosixTempFiles(OwnFolder own);
  ~PosixTempFiles() override;
  PosixTempFiles(const PosixTempFiles&) = delete;
  PosixTempFiles& operator=(const PosixTempFiles&) = delete;

  // The private folder with a trailing "/", made on the first call; empty when no safe folder
  // could be made.
  std::string TempPath() override;
  std::optional<std::string> GetTempFileName(const std::string& folder, std::string_view prefix,
                                             std::uint32_t unique) override;
  // True once TempPath made a folder for this object alone (no other process writes there).
  bool OwnsFolder() const { return remove_at_end_; }

 private:
  std::string base_folder_;
  std::optional<OwnFolder> own_;
  std::optional<std::string> temp_path_;
  bool remove_at_end_ = false;             // the folder was made for this object alone
  std::vector<std::string> made_parents_;  // made for OwnFolder, innermost first
  std::uint32_t next_number_;
};

}  // namespace kv::platform
