#pragma once
// An in-memory file system for tests: a tree of folders and byte strings under drive letters.
// Paths follow the same rules as the Linux implementation: "\" and "/" both separate, components
// are matched without regard to case (ASCII and the Windows-1252 letters) or as short aliases
// ("PROGRA~1", see MatchShortNameAlias), "." and ".." are
// resolved textually, and a path without a drive letter lies on drive C:. Names are stored in the
// code page as given. Drive C: always exists; other drives appear when something is added there.
//
// Not thread-safe. Open files keep their own reference to a file's bytes, so deleting or
// rewriting a file never invalidates an open reader or a mapping (a mapping holds a copy).

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/temp_files.h"

namespace kv::platform {

class MemoryFileSystem final : public FileSystem {
 public:
  MemoryFileSystem();
  ~MemoryFileSystem() override;
  MemoryFileSystem(const MemoryFileSystem&) = delete;
  MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

  // Adds or replaces a file, creating the folders on the way. False when a component on the way
  // (or the file itself) is an existing entry of the other kind.
  bool AddFile(const std::string& path, std::string_view bytes,
               std::int64_t modified_unix_seconds = 0);
  // Creates the folder and its parents; false when a file stands in the way.
  bool AddDirectory(const std::string& path);
  // The bytes of a file, for checking what was written; nullopt for a folder or nothing.
  std::optional<std::string> Contents(const std::string& path) const;
  // Every file's full path ("C:\TEMP\A.TMP"), in listing order per folder, depth first.
  std::vector<std::string> ListFiles() const;
  // Extra attribute bits reported for an entry (kAttributeReadOnly, kAttributeHidden ...).
  bool SetAttributes(const std::string& path, std::uint32_t attributes);

  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path,
                                               OpenMode mode = OpenMode::kBinary) override;
  std::unique_ptr<WritableFile> OpenForWriting(const std::string& path) override;
  std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) override;
  std::unique_ptr<FileFinder> FindFirst(const std::string& pattern) override;
  bool Exists(const std::string& path) override;
  std::optional<FileStatus> Status(const std::string& path) override;
  bool Delete(const std::string& path) override;
  // The canonical form "X:\Folder\Name" with the stored spelling of every existing component.
  std::string NativePath(const std::string& path) override;

  struct Node;

 private:
  Node* Resolve(const std::string& path) const;
  // The folder that would hold `path` and the last component's name; {nullptr, ""} when the
  // folder does not exist or the path names a root.
  std::pair<Node*, std::string> ResolveParent(const std::string& path) const;

  std::unique_ptr<Node> root_;  // holds one folder per drive, named "C:", "D:" ...
};

// GetTempPathA/GetTempFileNameA over a MemoryFileSystem. Numbers for unique 0 are taken in order
// from 1, skipping names in use, so tests see predictable names ("C:\TEMP\imp1.TMP").
class MemoryTempFiles final : public TempFiles {
 public:
  // Creates `temp_path` (which must end in a separator) in `files`.
  explicit MemoryTempFiles(MemoryFileSystem& files, std::string temp_path = "C:\\TEMP\\");

  std::string TempPath() override { return temp_path_; }
  std::optional<std::string> GetTempFileName(const std::string& folder, std::string_view prefix,
                                             std::uint32_t unique) override;

 private:
  MemoryFileSystem& files_;
  std::string temp_path_;
  std::uint32_t next_number_ = 1;
};

}  // namespace kv::platform
