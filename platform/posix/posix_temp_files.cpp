#include "platform/posix/posix_temp_files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "platform/implementation_support.h"
#include "platform/posix/file_descriptor.h"

namespace kv::platform {
namespace {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kNewFileMode = 0600;
constexpr mode_t kGroupAndOthers = 077;

std::string DefaultBase() {
  const char* tmpdir = getenv("TMPDIR");
  if (tmpdir != nullptr && tmpdir[0] != '\0') return tmpdir;
  return "/tmp";
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// A directory nobody else can use to plant or read our files.
bool IsPrivateFolder(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & kGroupAndOthers) == 0;
}

// Creates `path` with mode 0700 or accepts it when it already is a private folder.
bool MakeOrAcceptPrivateFolder(const std::string& path) {
  if (mkdir(path.c_str(), kPrivateFolderMode) == 0) {
    // The umask can only take permissions away; make sure the owner keeps all of them.
    return chmod(path.c_str(), kPrivateFolderMode) == 0 && IsPrivateFolder(path);
  }
  return errno == EEXIST && IsPrivateFolder(path);
}

std::optional<std::string> MakeFreshPrivateFolder(const std::string& stem) {
  std::string pattern = stem + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return std::nullopt;
  return pattern;
}

}  // namespace

PosixTempFiles::PosixTempFiles(std::string base_folder)
    : base_folder_(std::move(base_folder)),
      next_number_(static_cast<std::uint32_t>(std::time(nullptr)) ^
                   (static_cast<std::uint32_t>(getpid()) << 4)) {}

std::string PosixTempFiles::TempPath() {
  if (!temp_path_) {
    std::string base = WithoutTrailingSlashes(base_folder_.empty() ? DefaultBase() : base_folder_);
    std::string stem = base + "/kvfltrs-" + std::to_string(geteuid());
    std::optional<std::string> folder;
    if (MakeOrAcceptPrivateFolder(stem)) {
      folder = stem;
    } else {
      folder = MakeFreshPrivateFolder(stem);
    }
    if (!folder) return "";
    temp_path_ = *folder + "/";
  }
  return *temp_path_;
}

std::optional<std::string> PosixTempFiles::GetTempFileName(const std::string& folder,
                                                           std::string_view prefix,
                                                           std::uint32_t unique) {
  std::string linux_folder = folder;
  std::replace(linux_folder.begin(), linux_folder.end(), '\\', '/');
  if (unique != 0) return JoinPath(linux_folder, TempFileName(prefix, unique & 0xFFFF), '/');
  if (linux_folder.empty()) return std::nullopt;
  std::optional<std::string> path = CreateUniqueTempFile(
      linux_folder, prefix, next_number_, '/', [](const std::string& candidate) {
        const FileDescriptor fd(open(
            candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kNewFileMode));
        if (fd.valid()) return CreateAttempt::kCreated;
        return errno == EEXIST ? CreateAttempt::kNameTaken : CreateAttempt::kFailed;
      });
  ++next_number_;
  return path;
}

}  // namespace kv::platform
