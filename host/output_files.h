#pragma once
// File operations of the writers: placing a handed-over file without ever replacing an existing
// one, trimming, times and folders. Paths are local (UTF-8) paths. Failures come back as values
// with the errno that caused them.

#include <fcntl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/message_sink.h"

namespace kv::host {

enum class PlaceResult {
  kPlaced,  // `to` now holds the first `length` bytes of `from`
  kExists,  // `to` already existed and was left alone
  kFailed,  // see the errno given back
};

// An open file descriptor, closed when the object goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; false when the close reported an error (written data may not have reached the
  // file system).
  bool Close();

 private:
  int fd_;
};

// A message ready to be moved into a folder: `path` holds exactly its bytes as the folder wants
// them and carries its time.
struct PreparedMessage {
  std::string path;
  std::uint64_t length = 0;
  bool staged = false;  // `path` is a copy made at the staging name, not the handed-over file
};

// Makes a handed-over message ready for its folder: its bytes from `start` up to `length`, with
// each CR LF made
// LF when `to_lf`, and the message's time as file time. An owned file is changed in place (it
// never grows); any other is copied to the new name `staging`. Works through `message.open` when
// set. nullopt with errno in `error` when the file cannot be read or written.
std::optional<PreparedMessage> PrepareMessage(const HandedOverMessage& message, bool to_lf,
                                              const std::string& staging, int& error);

// The bytes a message held in memory goes into its folder with: from `start` up to `length`, with
// each CR LF made LF in `converted` when that is given; otherwise a view of `message.bytes`.
std::string_view HeldMessageBytes(const HandedOverMessage& message, std::vector<char>* converted);

// Writes `bytes` into the new file `path` (relative to the open folder `folder` when given),
// created exclusively with mode 0600, with `time` as its file time. The file is removed again when
// it cannot be written whole. False with errno in `error` (EEXIST when `path` exists).
bool WriteNewFile(const std::string& path, std::string_view bytes, std::optional<std::int64_t> time,
                  int& error, int folder = AT_FDCWD);

// Writes `bytes` into a new file of the open folder `folder` that has no name yet (mode 0600, with
// `time` as its file time), so that it can be linked under a name once whole: it never shows cut,
// and nothing is left behind when the process dies first. nullopt with errno in `error` when the
// file cannot be made or written; EOPNOTSUPP, EISDIR or EINVAL there say that the file system or
// the kernel cannot make such files.
std::optional<FileDescriptor> WriteUnnamedFile(int folder, std::string_view bytes,
                                               std::optional<std::int64_t> time, int& error);

// Links the unnamed file `file` as `name` in the open folder `folder`; false with errno set when it
// cannot (EEXIST: the name is taken; ENOENT or EPERM: this kernel, /proc or file system cannot).
// `by_descriptor` starts true and turns false once the kernel refuses the link by the descriptor
// alone: later calls go straight to its /proc entry.
bool LinkUnnamedFile(int file, int folder, const char* name, bool& by_descriptor);

// Moves `from` to the new name `to` without ever replacing an existing `to`: a rename, or between
// file systems a copy to the new name `staging` (on `to`'s file system) that is then renamed, so
// that `to` only ever appears whole. `from` is left for the caller to remove when it was copied.
// `renamed`, when given, tells whether `from` itself now is `to` (nothing of it is left).
PlaceResult MoveToNewName(const std::string& from, const std::string& to,
                          const std::string& staging, int& error, bool* renamed = nullptr);

// A handed-over message file opened once for everything the host does with it: the length
// without the trailing NUL bytes some stores pad a message with, the header block, and the
// writer's work. Its first piece is read at once (most messages fit whole); the buffer is kept
// for the next message, so one object serves a whole import.
class MessageFile {
 public:
  // The first bytes read at once: enough for any header block the host reads, and most messages
  // whole, which are then read once for their identity, their headers and their conversion (a
  // larger piece costs more in fresh memory than it saves in reads).
  static constexpr std::size_t kHeadPiece = 256 * 1024;

  // Opens `path` (for reading and writing when `owned`, and then never through a symbolic link),
  // closing the file opened before, and reads its first piece. False with errno in `error` when it
  // cannot be opened or read, or is not a regular file.
  bool Open(const std::string& path, bool owned, int& error);
  // The file's length without its trailing NUL bytes; nullopt when the file cannot be read.
  std::optional<std::uint64_t> LengthWithoutTrailingNuls();
  // The open file for a HandedOverMessage; valid until the next Open or Close.
  OpenMessageFile file() const;
  // Closes now; false when the close reported an error.
  bool Close() { return fd_.Close(); }

 private:
  FileDescriptor fd_;
  std::uint64_t size_ = 0;
  std::vector<char> buffer_;  // kHeadPiece bytes once the first file is read, kept
  std::string_view head_;     // the bytes of the open file in buffer_
};

// Renames within one file system without replacing an existing target. Each name is relative to
// its open folder when one is given.
PlaceResult RenameNoReplace(const std::string& from, const std::string& to, int& error,
                            int from_folder = AT_FDCWD, int to_folder = AT_FDCWD);

// Sets the access and modification times of `path`.
bool SetFileTimes(const std::string& path, std::int64_t unix_seconds);

// Creates `path` and its missing parents as folders. False with errno in `error` when something
// on the way is not a folder or cannot be created.
bool MakeFolders(const std::string& path, int& error);

// Removes a handed-over temporary file; a file that is already gone is fine.
void RemoveHandedOverFile(const std::string& path);

// True when `path` lies inside `folder` once both are resolved (symbolic links, "..").
bool IsInsideFolder(const std::string& path, const std::string& folder);

// "strerror(error)" for messages.
std::string ErrorText(int error);

}  // namespace kv::host
