#include "platform/posix/posix_temp_files.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>

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

// The process id in "<prefix><pid>-XXXXXX", or 0 when `name` has not that form.
pid_t OwnerOf(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return 0;
  name.remove_prefix(prefix.size());
  pid_t pid = 0;
  std::size_t digits = 0;
  for (; digits < name.size() && digits < 9 && name[digits] >= '0' && name[digits] <= '9';
       ++digits) {
    pid = pid * 10 + (name[digits] - '0');
  }
  if (digits == 0 || digits >= name.size() || name[digits] != '-') return 0;
  return pid;
}

// Removes the private folders of `prefix` in `parent` whose process is gone.
void RemoveLeftovers(const std::string& parent, std::string_view prefix) {
  std::error_code code;
  for (auto it = std::filesystem::directory_iterator(parent, code);
       !code && it != std::filesystem::directory_iterator(); it.increment(code)) {
    const std::string path = it->path().string();
    pid_t pid = OwnerOf(it->path().filename().string(), prefix);
    if (pid <= 0 || pid == getpid() || !IsPrivateFolder(path)) continue;
    if (kill(pid, 0) != 0 && errno == ESRCH) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  }
}

}  // namespace

PosixTempFiles::PosixTempFiles(std::string base_folder)
    : base_folder_(std::move(base_folder)),
      next_number_(static_cast<std::uint32_t>(std::time(nullptr)) ^
                   (static_cast<std::uint32_t>(getpid()) << 4)) {}

PosixTempFiles::PosixTempFiles(OwnFolder own) : PosixTempFiles() { own_ = std::move(own); }

PosixTempFiles::~PosixTempFiles() {
  std::error_code ignored;
  if (remove_at_end_ && temp_path_) {
    std::filesystem::remove_all(WithoutTrailingSlashes(*temp_path_), ignored);
  }
  // The folders made to hold ours go again only when they hold nothing but each other.
  for (std::size_t i = 0; i < made_parents_.size(); ++i) {
    std::size_t entries = 0;
    for (auto it = std::filesystem::directory_iterator(made_parents_[i], ignored);
         !ignored && it != std::filesystem::directory_iterator(); it.increment(ignored)) {
      ++entries;
    }
    if (ignored || entries != (i == 0 ? 0u : 1u)) return;
  }
  for (const std::string& folder : made_parents_) rmdir(folder.c_str());
}

std::string PosixTempFiles::TempPath() {
  if (!temp_path_ && own_) {
    const std::string parent = WithoutTrailingSlashes(own_->parent);
    std::error_code code;
    for (std::filesystem::path missing = parent;
         !missing.empty() && !std::filesystem::exists(missing, code) && !code;
         missing = missing.parent_path()) {
      made_parents_.push_back(missing.string());
    }
    std::filesystem::create_directories(parent, code);
    RemoveLeftovers(parent, own_->prefix);
    std::optional<std::string> folder =
        MakeFreshPrivateFolder(parent + "/" + own_->prefix + std::to_string(getpid()));
    if (folder) {
      remove_at_end_ = true;
      temp_path_ = *folder + "/";
    }
    own_.reset();
  }
  if (!temp_path_) {
    std::string base = WithoutTrailingSlashes(base_folder_.empty() ? DefaultBase() : base_folder_);
    std::string stem = base + "/kvfltrs-" + std::to_string(geteuid());
    std::optional<std::string> folder;
    if (MakeOrAcceptPrivateFolder(stem)) {
      folder = stem;
    } else {
      folder = MakeFreshPrivateFolder(stem);
      remove_at_end_ = folder.has_value();
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
