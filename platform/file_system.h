#pragma once
// File access as the filters need it: Windows-style paths in the store's code page go in; the
// implementation decides what they name. The Linux implementation (posix/) translates them onto a
// copied store (separators, drive map, case-insensitive components, code page to UTF-8), the
// Windows one (win32/) passes them to the Win32 calls, and the in-memory fake (fake/) keeps a tree
// of byte strings for tests. No call throws; failures are nullopt, null or false.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/byte_view.h"

namespace kv::platform {

// Attribute bits as FindFirstFileA and GetFileAttributesA report them.
enum FileAttributes : std::uint32_t {
  kAttributeReadOnly = 0x01,
  kAttributeHidden = 0x02,
  kAttributeSystem = 0x04,
  kAttributeDirectory = 0x10,
  kAttributeArchive = 0x20,
  // Not a file that holds data: a device, a FIFO or a socket. Such entries are never opened.
  kAttributeDevice = 0x40,
  kAttributeNormal = 0x80,
};

struct FileStatus {
  std::uint64_t size = 0;
  std::int64_t modified_unix_seconds = 0;
  std::uint32_t attributes = 0;
  bool IsDirectory() const { return (attributes & kAttributeDirectory) != 0; }
};

// One entry of a directory search: the name as the store spells it (code page, not UTF-8).
struct FindEntry {
  std::string name;
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  bool IsDirectory() const { return (attributes & kAttributeDirectory) != 0; }
};

enum class OpenMode {
  kBinary,
  kText,  // CR LF reads as LF, as the C run-time's text mode does; no positioning
};

// An open file for reading. Owned by the caller; closed when destroyed.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to buffer.size() bytes at the current position. Returns the count read (0 at the end
  // of the file) or nullopt on a read error.
  virtual std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) = 0;
  // Moves the current position (binary mode only). Positions past the end are allowed, as with
  // fseek; the next read then returns 0.
  virtual bool Seek(std::uint64_t offset) = 0;
  virtual std::uint64_t Tell() const = 0;
  virtual std::optional<std::uint64_t> Size() const = 0;
};

// An open file for writing, created empty or truncated. Owned by the caller.
class WritableFile {
 public:
  // What CopyFrom moved: the bytes now in this file, and whether writing (not reading) failed.
  struct CopyResult {
    std::uint64_t copied = 0;
    bool write_failed = false;
  };

  virtual ~WritableFile() = default;
  virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
  // Appends up to `length` bytes read from `source` at its position, advancing it past them. Stops
  // early, without a write failure, when the source ends or cannot be read. `buffer` is scratch
  // space for copying through memory (a larger one means fewer calls); an implementation may copy
  // inside the system instead, leaving it untouched.
  virtual CopyResult CopyFrom(ReadableFile& source, std::uint64_t length,
                              std::span<std::uint8_t> buffer);
  // Flushes and closes; false when data could not be written. Destruction closes too.
  virtual bool Close() = 0;
};

// A read-only mapping of a whole file; the bytes stay valid while the object lives.
class MappedFile {
 public:
  virtual ~MappedFile() = default;
  virtual ByteView bytes() const = 0;
};

// FindFirstFileA/FindNextFileA: the entries that match a pattern, in a fixed order (names compared
// case-insensitively, as NTFS lists them), "." and ".." left out.
class FileFinder {
 public:
  virtual ~FileFinder() = default;
  virtual std::optional<FindEntry> Next() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens an existing file that holds data; null for a folder, a device or a FIFO
  // (kAttributeDevice), a missing file or one that cannot be read. Reading never changes the
  // file, not even its access time where the system allows that.
  virtual std::unique_ptr<ReadableFile> OpenForReading(const std::string& path,
                                                       OpenMode mode = OpenMode::kBinary) = 0;
  // Creates or truncates the file.
  virtual std::unique_ptr<WritableFile> OpenForWriting(const std::string& path) = 0;
  virtual std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) = 0;
  // `pattern` is a folder path followed by a name with Windows wildcards: "*" and "?", matched
  // without regard to case, and "*." meaning names without an extension. Null when nothing matches.
  virtual std::unique_ptr<FileFinder> FindFirst(const std::string& pattern) = 0;
  // _access(path, 0): a file or a folder of that name exists.
  virtual bool Exists(const std::string& path) = 0;
  virtual std::optional<FileStatus> Status(const std::string& path) = 0;
  virtual bool Delete(const std::string& path) = 0;
  // The name the operating system knows the file by (on Linux, the translated UTF-8 path), for
  // handing a file to code outside the platform layer. Empty when the path cannot be resolved.
  virtual std::string NativePath(const std::string& path) = 0;
};

// Matches a file name against a Windows wildcard pattern ("*", "?", "*." for no extension),
// ignoring ASCII case. Shared by every implementation so they agree.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// Compares two names as NTFS orders a directory listing: ASCII letters without regard to case.
bool NameLessIgnoringCase(std::string_view a, std::string_view b);

// Reads one line from a file opened in text mode into `line`: the bytes up to LF, without it, or
// the rest of the file when no LF follows. False when nothing was left to read or on a read error.
bool ReadLine(ReadableFile& file, std::string& line);

}  // namespace kv::platform
