#pragma once
// A FileSystem that forwards every call to another one and fails the calls a test picks: opening
// paths that contain a given text, reading or writing past a byte budget, closing. Used to check
// that readers turn I/O errors into a clean outcome (a skipped folder, a report, a false result)
// rather than a crash or a loop. It also counts the files that are
// open through it, so a test can see that everything opened was closed.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kv::platform {

class FaultFileSystem final : public FileSystem {
 public:
  struct Faults {
    // A call on a path containing any of these texts (compared as bytes) fails.
    std::vector<std::string> open_for_reading;
    std::vector<std::string> open_for_writing;
    std::vector<std::string> map;
    std::vector<std::string> find;
    std::vector<std::string> exists;  // answers false
    std::vector<std::string> status;
    std::vector<std::string> remove;
    // Each file opened for reading returns a read error once it has delivered this many bytes.
    std::optional<std::uint64_t> read_budget;
    // Each read of a file opened for reading delivers at most this many bytes.
    std::optional<std::size_t> read_piece;
    // Each file opened for writing fails the write that would take it past this many bytes.
    std::optional<std::uint64_t> write_budget;
    // Close() of a writable file reports failure (the data is still passed on).
    bool fail_close = false;
  };

  explicit FaultFileSystem(FileSystem& target) : target_(target) {}

  Faults& faults() { return faults_; }
  // Readable files, writable files and mappings opened through this object and not yet destroyed.
  int OpenCount() const { return *open_count_; }

  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path,
                                               OpenMode mode = OpenMode::kBinary) override;
  std::unique_ptr<WritableFile> OpenForWriting(const std::string& path) override;
  std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) override;
  std::unique_ptr<FileFinder> FindFirst(const std::string& pattern) override;
  bool Exists(const std::string& path) override;
  std::optional<FileStatus> Status(const std::string& path) override;
  bool Delete(const std::string& path) override;
  std::string NativePath(const std::string& path) override;

 private:
  FileSystem& target_;
  Faults faults_;
  std::shared_ptr<int> open_count_ = std::make_shared<int>(0);
};

}  // namespace kv::platform
