#include "platform/win32/win32_file_system.h"

#include <io.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/implementation_support.h"
#include "platform/win32/windows_api.h"

namespace kv::platform {
namespace {

constexpr std::uint64_t kFileTimeTicksPerSecond = 10000000;
constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;  // 1970-01-01 in FILETIME
constexpr DWORD kLargestTransfer = 1u << 30;
constexpr int kExistenceCheck = 0;  // _access mode: the name exists

// A kernel handle, closed on destruction. INVALID_HANDLE_VALUE and null both mean "none".
class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  bool Reset() {
    bool closed = true;
    if (valid()) closed = CloseHandle(handle_) != 0;
    handle_ = nullptr;
    return closed;
  }

 private:
  HANDLE handle_;
};

std::int64_t UnixSeconds(const FILETIME& time) {
  std::uint64_t ticks =
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  if (ticks < kFileTimeUnixEpoch) return 0;
  return static_cast<std::int64_t>((ticks - kFileTimeUnixEpoch) / kFileTimeTicksPerSecond);
}

std::uint64_t Combine(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

HANDLE OpenExisting(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

class Win32ReadableFile final : public ReadableFile {
 public:
  explicit Win32ReadableFile(HANDLE handle) : handle_(handle) {}

  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
    DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), kLargestTransfer));
    DWORD count = 0;
    if (!ReadFile(handle_.get(), buffer.data(), wanted, &count, nullptr)) return std::nullopt;
    position_ += count;
    return count;
  }
  bool Seek(std::uint64_t offset) override {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(handle_.get(), distance, nullptr, FILE_BEGIN)) return false;
    position_ = offset;
    return true;
  }
  std::uint64_t Tell() const override { return position_; }
  std::optional<std::uint64_t> Size() const override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_.get(), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
  }

 private:
  Handle handle_;
  std::uint64_t position_ = 0;
};

class Win32WritableFile final : public WritableFile {
 public:
  explicit Win32WritableFile(HANDLE handle) : handle_(handle) {}
  bool Write(std::span<const std::uint8_t> bytes) override {
    if (!handle_.valid()) return false;
    while (!bytes.empty()) {
      DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kLargestTransfer));
      DWORD written = 0;
      if (!WriteFile(handle_.get(), bytes.data(), wanted, &written, nullptr) || written == 0) {
        return false;
      }
      bytes = bytes.subspan(written);
    }
    return true;
  }
  bool Close() override { return handle_.valid() && handle_.Reset(); }

 private:
  Handle handle_;
};

class Win32MappedFile final : public MappedFile {
 public:
  Win32MappedFile() = default;
  Win32MappedFile(const void* view, std::size_t size) : view_(view), size_(size) {}
  ~Win32MappedFile() override {
    if (view_ != nullptr) UnmapViewOfFile(view_);
  }
  Win32MappedFile(const Win32MappedFile&) = delete;
  Win32MappedFile& operator=(const Win32MappedFile&) = delete;
  ByteView bytes() const override {
    return ByteView(static_cast<const std::uint8_t*>(view_), size_);
  }

 private:
  const void* view_ = nullptr;
  std::size_t size_ = 0;
};

FindEntry EntryOf(const WIN32_FIND_DATAA& data) {
  return {data.cFileName, data.dwFileAttributes, Combine(data.nFileSizeHigh, data.nFileSizeLow)};
}

}  // namespace

std::unique_ptr<ReadableFile> Win32FileSystem::OpenForReading(const std::string& path,
                                                              OpenMode mode) {
  HANDLE handle = OpenExisting(path);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  auto file = std::make_unique<Win32ReadableFile>(handle);
  if (mode == OpenMode::kText) return MakeTextModeFile(std::move(file));
  return file;
}

std::unique_ptr<WritableFile> Win32FileSystem::OpenForWriting(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32WritableFile>(handle);
}

std::unique_ptr<MappedFile> Win32FileSystem::MapReadOnly(const std::string& path) {
  Handle file(OpenExisting(path));
  if (!file.valid()) return nullptr;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return nullptr;
  if (size.QuadPart == 0) return std::make_unique<Win32MappedFile>();
  if (static_cast<std::uint64_t>(size.QuadPart) > SIZE_MAX) return nullptr;
  Handle mapping(CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.valid()) return nullptr;
  const void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return nullptr;
  // The view keeps the file and the mapping object alive after their handles are closed.
  return std::make_unique<Win32MappedFile>(view, static_cast<std::size_t>(size.QuadPart));
}

std::unique_ptr<FileFinder> Win32FileSystem::FindFirst(const std::string& pattern) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return nullptr;
  // The system also matches wildcards against short aliases ("*.mbx" finds "a.mbxold", alias
  // "A~1.MBX"), and not every implementation of the call honours "*."; the long names are matched
  // once more so that every platform selects the same entries.
  std::string name_pattern = SplitPattern(pattern).name;
  bool filter = HasWildcards(name_pattern);
  std::vector<FindEntry> entries;
  do {
    std::string_view name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (filter && !MatchesWildcard(name_pattern, name)) continue;
    entries.push_back(EntryOf(data));
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return MakeSortedFinder(std::move(entries));
}

bool Win32FileSystem::Exists(const std::string& path) {
  return _access(path.c_str(), kExistenceCheck) == 0;
}

std::optional<FileStatus> Win32FileSystem::Status(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  FileStatus status;
  status.size = Combine(data.nFileSizeHigh, data.nFileSizeLow);
  status.modified_unix_seconds = UnixSeconds(data.ftLastWriteTime);
  status.attributes = data.dwFileAttributes;
  return status;
}

bool Win32FileSystem::Delete(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

std::string Win32FileSystem::NativePath(const std::string& path) { return path; }

}  // namespace kv::platform
