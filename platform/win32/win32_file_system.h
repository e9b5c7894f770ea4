#pragma once
// The file system on Windows: paths go to the ...A calls unchanged, so the system resolves them
// as it always does (drive letters, either separator, case, short names). Directory searches are
// collected and sorted into the same fixed order as on Linux; text mode uses the shared CR LF
// reader over ReadFile.

#include "platform/file_system.h"

namespace kv::platform {

class Win32FileSystem final : public FileSystem {
 public:
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path,
                                               OpenMode mode = OpenMode::kBinary) override;
  std::unique_ptr<WritableFile> OpenForWriting(const std::string& path) override;
  std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) override;
  std::unique_ptr<FileFinder> FindFirst(const std::string& pattern) override;
  bool Exists(const std::string& path) override;
  std::optional<FileStatus> Status(const std::string& path) override;
  bool Delete(const std::string& path) override;
  // The path as given: Windows needs no translation.
  std::string NativePath(const std::string& path) override;
};

}  // namespace kv::platform
