#include "host/output_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "host/message_text.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCopyPiece = 1 << 20;
constexpr mode_t kMessageFileMode = 0600;

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

PlaceResult CopyFile(const std::string& from, const std::string& to, std::uint64_t length,
                     int& error) {
  FileDescriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!source.valid()) {
    error = errno;
    return PlaceResult::kFailed;
  }
  FileDescriptor target(
      ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kMessageFileMode));
  if (!target.valid()) {
    error = errno;
    return error == EEXIST ? PlaceResult::kExists : PlaceResult::kFailed;
  }
  std::vector<char> buffer(kCopyPiece);
  std::uint64_t left = length;
  while (left > 0) {
    std::size_t want = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
    ssize_t count = ::read(source.get(), buffer.data(), want);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;  // the file shrank: keep what was there
    if (!WriteAll(target.get(), buffer.data(), static_cast<std::size_t>(count))) {
      error = errno;
      ::unlink(to.c_str());
      return PlaceResult::kFailed;
    }
    left -= static_cast<std::uint64_t>(count);
  }
  if (!target.Close()) {
    error = errno;
    ::unlink(to.c_str());
    return PlaceResult::kFailed;
  }
  return PlaceResult::kPlaced;
}

// Writes the bytes of `source` from `start` up to `length` to `target` from offset 0, each CR LF
// made LF when `to_lf`; the two may be the same file, because the output never runs ahead of the
// input. The bytes `head` holds (the source's first ones) are taken from it rather than read
// again. Returns the bytes written.
std::optional<std::uint64_t> CopyConverted(int source, int target, std::uint64_t start,
                                           std::uint64_t length, bool to_lf, std::string_view head,
                                           int& error) {
  std::vector<char> buffer;
  LineEndConverter converter(to_lf);
  std::string out;
  std::uint64_t read_at = start;
  std::uint64_t written = 0;
  auto flush = [&]() {
    if (out.empty()) return true;
    const char* data = out.data();
    std::size_t left = out.size();
    while (left > 0) {
      ssize_t count = ::pwrite(target, data, left, static_cast<off_t>(written));
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        error = count < 0 ? errno : ENOSPC;
        return false;
      }
      data += count;
      left -= static_cast<std::size_t>(count);
      written += static_cast<std::uint64_t>(count);
    }
    out.clear();
    return true;
  };
  const std::uint64_t head_end = std::min<std::uint64_t>(length, head.size());
  if (read_at < head_end) {
    const std::string_view piece = head.substr(static_cast<std::size_t>(read_at),
                                               static_cast<std::size_t>(head_end - read_at));
    read_at = head_end;
    converter.Feed(piece, out);
    if (!flush()) return std::nullopt;
  }
  while (read_at < length) {
    if (buffer.empty()) {
      buffer.resize(
          static_cast<std::size_t>(std::min<std::uint64_t>(length - read_at, kCopyPiece)));
    }
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(length - read_at, buffer.size()));
    ssize_t count = ::pread(source, buffer.data(), want, static_cast<off_t>(read_at));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      error = errno;
      return std::nullopt;
    }
    if (count == 0) break;  // the file shrank: keep what was there
    read_at += static_cast<std::uint64_t>(count);
    converter.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(count)), out);
    if (!flush()) return std::nullopt;
  }
  converter.Finish(out);
  if (!flush()) return std::nullopt;
  return written;
}

bool SetDescriptorTime(int fd, std::optional<std::int64_t> unix_seconds) {
  if (!unix_seconds) return true;
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(*unix_seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return ::futimens(fd, times) == 0;
}

// A short write is retried; one that writes nothing counts as a full disk.
bool WriteWhole(int fd, std::string_view bytes, int& error) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      error = count < 0 ? errno : ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

}  // namespace

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool FileDescriptor::Close() {
  if (fd_ < 0) return true;
  return ::close(std::exchange(fd_, -1)) == 0;
}

std::optional<PreparedMessage> PrepareMessage(const HandedOverMessage& message, bool to_lf,
                                              const std::string& staging, int& error) {
  // The file as the caller has it open, or opened here.
  FileDescriptor opened;
  OpenMessageFile file;
  if (message.open) {
    file = *message.open;
  } else {
    opened =
        FileDescriptor(::open(message.path.c_str(), message.owned ? O_RDWR | O_CLOEXEC | O_NOFOLLOW
                                                                  : O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!opened.valid() || ::fstat(opened.get(), &status) != 0) {
      error = errno;
      return std::nullopt;
    }
    file.fd = opened.get();
    file.size = static_cast<std::uint64_t>(status.st_size);
  }
  if (message.owned) {
    std::uint64_t length = message.length;
    const std::uint64_t start = std::min(message.start, message.length);
    if (to_lf || start > 0) {
      std::optional<std::uint64_t> converted =
          CopyConverted(file.fd, file.fd, start, message.length, to_lf, file.head, error);
      if (!converted) return std::nullopt;
      length = *converted;
    }
    if (file.size > length && ::ftruncate(file.fd, static_cast<off_t>(length)) != 0) {
      error = errno;
      return std::nullopt;
    }
    SetDescriptorTime(file.fd, message.time);
    if (!opened.Close()) {
      error = errno;
      return std::nullopt;
    }
    return PreparedMessage{message.path, length, false};
  }
  FileDescriptor target(
      ::open(staging.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kMessageFileMode));
  if (!target.valid()) {
    error = errno;
    return std::nullopt;
  }
  std::optional<std::uint64_t> length =
      CopyConverted(file.fd, target.get(), std::min(message.start, message.length), message.length,
                    to_lf, file.head, error);
  if (length) SetDescriptorTime(target.get(), message.time);
  if (!length || !target.Close()) {
    if (length) error = errno;
    ::unlink(staging.c_str());
    return std::nullopt;
  }
  return PreparedMessage{staging, *length, true};
}

std::string_view HeldMessageBytes(const HandedOverMessage& message, std::vector<char>* converted) {
  std::string_view bytes = message.bytes.value_or(std::string_view());
  bytes = bytes.substr(
      0, static_cast<std::size_t>(std::min<std::uint64_t>(message.length, bytes.size())));
  bytes.remove_prefix(
      static_cast<std::size_t>(std::min<std::uint64_t>(message.start, bytes.size())));
  return converted != nullptr ? CrLfToLf(bytes, *converted) : bytes;
}

bool WriteNewFile(const std::string& path, std::string_view bytes, std::optional<std::int64_t> time,
                  int& error, int folder) {
  FileDescriptor target(
      ::openat(folder, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kMessageFileMode));
  if (!target.valid()) {
    error = errno;
    return false;
  }
  if (!WriteWhole(target.get(), bytes, error)) {
    ::unlinkat(folder, path.c_str(), 0);
    return false;
  }
  SetDescriptorTime(target.get(), time);
  if (!target.Close()) {
    error = errno;
    ::unlinkat(folder, path.c_str(), 0);
    return false;
  }
  return true;
}

std::optional<FileDescriptor> WriteUnnamedFile(int folder, std::string_view bytes,
                                               std::optional<std::int64_t> time, int& error) {
  FileDescriptor file(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kMessageFileMode));
  if (!file.valid() || !WriteWhole(file.get(), bytes, error)) {
    if (!file.valid()) error = errno;
    return std::nullopt;
  }
  SetDescriptorTime(file.get(), time);
  return file;
}

bool LinkUnnamedFile(int file, int folder, const char* name, bool& by_descriptor) {
  if (by_descriptor) {
    if (::linkat(file, "", folder, name, AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT) return false;
    // Before Linux 6.10 only a privileged process may link by the descriptor itself; the link of
    // its /proc entry is open to the file's owner on every kernel that makes unnamed files.
    by_descriptor = false;
  }
  char entry[32];
  snprintf(entry, sizeof entry, "/proc/self/fd/%d", file);
  return ::linkat(AT_FDCWD, entry, folder, name, AT_SYMLINK_FOLLOW) == 0;
}

PlaceResult MoveToNewName(const std::string& from, const std::string& to,
                          const std::string& staging, int& error, bool* moved) {
  if (moved != nullptr) *moved = false;
  PlaceResult renamed = RenameNoReplace(from, to, error);
  if (moved != nullptr) *moved = renamed == PlaceResult::kPlaced;
  if (renamed == PlaceResult::kExists || renamed == PlaceResult::kPlaced) return renamed;
  if (error != EXDEV && error != EPERM) return renamed;
  struct stat status {};
  if (::stat(from.c_str(), &status) != 0) {
    error = errno;
    return PlaceResult::kFailed;
  }
  PlaceResult copied = CopyFile(from, staging, static_cast<std::uint64_t>(status.st_size), error);
  if (copied != PlaceResult::kPlaced) {
    return copied == PlaceResult::kExists ? PlaceResult::kFailed : copied;
  }
  SetFileTimes(staging, static_cast<std::int64_t>(status.st_mtime));
  renamed = RenameNoReplace(staging, to, error);
  if (renamed != PlaceResult::kPlaced) ::unlink(staging.c_str());
  return renamed;
}

bool MessageFile::Open(const std::string& path, bool owned, int& error) {
  fd_ = FileDescriptor(
      ::open(path.c_str(), owned ? O_RDWR | O_CLOEXEC | O_NOFOLLOW : O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!fd_.valid() || ::fstat(fd_.get(), &status) != 0) {
    error = errno;
    fd_.Close();
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    error = EINVAL;
    fd_.Close();
    return false;
  }
  size_ = static_cast<std::uint64_t>(status.st_size);
  if (buffer_.empty()) buffer_.resize(kHeadPiece);
  const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size_, kHeadPiece));
  std::size_t filled = 0;
  while (filled < want) {
    ssize_t count =
        ::pread(fd_.get(), buffer_.data() + filled, want - filled, static_cast<off_t>(filled));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      error = errno;
      fd_.Close();
      return false;
    }
    if (count == 0) break;  // the file shrank
    filled += static_cast<std::size_t>(count);
  }
  head_ = std::string_view(buffer_.data(), filled);
  if (filled < want) size_ = filled;
  return true;
}

std::optional<std::uint64_t> MessageFile::LengthWithoutTrailingNuls() {
  if (!fd_.valid()) return std::nullopt;
  if (head_.size() == size_) {
    const std::size_t kept = head_.find_last_not_of('\0');
    return kept == std::string_view::npos ? 0 : kept + 1;
  }
  std::uint64_t length = size_;
  std::array<char, 4096> tail;
  while (length > 0) {
    std::size_t piece = length < tail.size() ? static_cast<std::size_t>(length) : tail.size();
    ssize_t count = ::pread(fd_.get(), tail.data(), piece, static_cast<off_t>(length - piece));
    if (count != static_cast<ssize_t>(piece)) return std::nullopt;
    std::size_t kept = piece;
    while (kept > 0 && tail[kept - 1] == '\0') --kept;
    length -= piece - kept;
    if (kept > 0) break;
  }
  return length;
}

OpenMessageFile MessageFile::file() const { return {fd_.get(), size_, head_}; }

PlaceResult RenameNoReplace(const std::string& from, const std::string& to, int& error,
                            int from_folder, int to_folder) {
  if (::renameat2(from_folder, from.c_str(), to_folder, to.c_str(), RENAME_NOREPLACE) == 0) {
    return PlaceResult::kPlaced;
  }
  error = errno;
  if (error == EEXIST) return PlaceResult::kExists;
  if (error != EINVAL && error != ENOSYS) return PlaceResult::kFailed;
  // File systems without the no-replace rename: a hard link fails on an existing name too.
  if (::linkat(from_folder, from.c_str(), to_folder, to.c_str(), 0) != 0) {
    error = errno;
    return error == EEXIST ? PlaceResult::kExists : PlaceResult::kFailed;
  }
  ::unlinkat(from_folder, from.c_str(), 0);
  return PlaceResult::kPlaced;
}

bool SetFileTimes(const std::string& path, std::int64_t unix_seconds) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(unix_seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool MakeFolders(const std::string& path, int& error) {
  std::error_code code;
  std::filesystem::create_directories(path, code);
  if (code) {
    error = code.value();
    return false;
  }
  if (!std::filesystem::is_directory(path, code)) {
    error = ENOTDIR;
    return false;
  }
  return true;
}

void RemoveHandedOverFile(const std::string& path) {
  if (!path.empty()) ::unlink(path.c_str());
}

namespace {

bool IsInsideFolderResolved(const std::string& path, const std::string& folder) {
  std::error_code code;
  fs::path resolved_path = fs::canonical(path, code);
  if (code) return false;
  fs::path resolved_folder = fs::canonical(folder, code);
  if (code) return false;
  auto [folder_end, path_at] = std::mismatch(resolved_folder.begin(), resolved_folder.end(),
                                             resolved_path.begin(), resolved_path.end());
  return folder_end == resolved_folder.end() && path_at != resolved_path.end();
}

fs::path WithoutTrailingSeparator(const fs::path& path) {
  fs::path normal = path.lexically_normal();
  if (!normal.has_filename() && normal.has_relative_path()) return normal.parent_path();
  return normal;
}

}  // namespace

bool IsInsideFolder(const std::string& path, const std::string& folder) {
  // Handed-over files sit directly in the folder: then one lstat settles it (a regular file, not a
  // link that could point out). Anything else takes the full resolution of every component.
  const fs::path file(path);
  const fs::path name = file.filename();
  if (!name.empty() && name != "." && name != ".." &&
      file.parent_path().lexically_normal() == WithoutTrailingSeparator(folder)) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  }
  return IsInsideFolderResolved(path, folder);
}

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace kv::host
