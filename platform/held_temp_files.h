#pragma once
// Temporary files kept in memory. A filter writes each message into a temporary file that the host
// reads once and removes; when both run in one process, the file need never reach the disk. This
// object stands in front of a FileSystem and a TempFiles and holds the files made directly in the
// temporary folder (GetTempFileName's new names and any name a filter writes there) in buffers
// that are reused from file to file. Every other path is passed on unchanged.
//
// A held file behaves as the file on disk would: it is read (binary or text mode, Seek, Size),
// mapped, listed by FindFirst, found by Exists and Status, and removed by Delete. A file that
// grows past `spill_size` bytes is written to its real name through the FileSystem given and is
// an ordinary file from then on, so memory stays flat for a message of any size; a write that
// fails there (a full disk) fails the writable file's Write or Close as it would without this
// object. NativePath of a held file puts it on disk first, so that code outside the platform
// layer can open it by that name.
//
// Names are checked for being new against the files this object holds or put on disk only: the
// temporary folder must be this process's own (as PosixTempFiles makes it for an import).
//
// Not thread-safe. HeldBytes gives the host a held file without a copy.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/implementation_support.h"
#include "platform/temp_files.h"

namespace kv::platform {

class HeldTempFiles final : public FileSystem, public TempFiles {
 public:
  // Past this size a held file goes to disk: a message that large costs more in writing than in
  // the system calls saved, and memory stays within a few of these per file open at once.
  static constexpr std::size_t kDefaultSpillSize = 1024 * 1024;

  // `files` and `temp` must outlive this object; the temporary folder is temp.TempPath() (asked
  // once, here).
  HeldTempFiles(FileSystem& files, TempFiles& temp, std::size_t spill_size = kDefaultSpillSize);
  ~HeldTempFiles() override;
  HeldTempFiles(const HeldTempFiles&) = delete;
  HeldTempFiles& operator=(const HeldTempFiles&) = delete;

  // The bytes of the file `path` names while this object holds it in memory. The view stays valid
  // until the file is opened for writing, written, deleted or put on disk, or this object goes.
  // nullopt for any other path, a held file that went to disk included: that one is read by its
  // name as before.
  std::optional<std::string_view> HeldBytes(const std::string& path) const;
  // True when this object made or keeps the file `path` names: in memory, or on disk since it
  // outgrew memory or was asked for by NativePath. Delete then forgets it, on disk or not.
  bool Knows(const std::string& path) const;

  // TempFiles
  std::string TempPath() override;
  std::optional<std::string> GetTempFileName(const std::string& folder, std::string_view prefix,
                                             std::uint32_t unique) override;

  // FileSystem
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path,
                                               OpenMode mode = OpenMode::kBinary) override;
  std::unique_ptr<WritableFile> OpenForWriting(const std::string& path) override;
  std::unique_ptr<MappedFile> MapReadOnly(const std::string& path) override;
  std::unique_ptr<FileFinder> FindFirst(const std::string& pattern) override;
  bool Exists(const std::string& path) override;
  std::optional<FileStatus> Status(const std::string& path) override;
  bool Delete(const std::string& path) override;
  std::string NativePath(const std::string& path) override;

  // A held file's bytes and what writes them; shared with the open files that read or write it.
  struct Content;

 private:
  struct Entry {
    std::string name;                  // as first spelled
    std::shared_ptr<Content> content;  // null once the file is on disk
    std::int64_t modified = 0;
  };
  using Entries = std::map<std::string, Entry>;

  // The key of `path` when it names an entry directly in the temporary folder (the name in ASCII
  // lower case, as lookups there ignore case); nullopt otherwise.
  std::optional<std::string> KeyOf(const std::string& path) const;
  bool IsFolder(std::string_view path) const;
  Entry* HeldEntry(const std::string& path);
  const Entry* HeldEntry(const std::string& path) const;
  // A new entry for `name` with an empty buffer, reusing a spare one.
  Entry& Hold(const std::string& key, std::string_view name);
  // Keeps a buffer no longer used for the next file, when nothing else uses it.
  void Recycle(std::shared_ptr<Content> content);
  // Writes a held file to its name on disk; false when that fails.
  bool PutOnDisk(const std::string& path, Entry& entry);

  // For the writable files: a write finished, or a file outgrew memory. Spill writes `content` to
  // the real file and gives it for writing on (null when that fails); `content` is then let go.
  friend class HeldWritableFile;
  void Touch(const std::string& path, const std::shared_ptr<Content>& content);
  std::unique_ptr<WritableFile> Spill(const std::string& path, std::shared_ptr<Content>& content);

  FileSystem& files_;
  TempFiles& temp_;
  std::size_t spill_size_;
  std::string folder_;
  WindowsPath folder_parts_;
  Entries entries_;
  std::vector<std::shared_ptr<Content>> spare_;
  std::uint32_t next_number_ = 1;
};

}  // namespace kv::platform
