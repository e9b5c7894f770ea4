#include "platform/posix/posix_file_system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/implementation_support.h"
#include "platform/posix/file_descriptor.h"
#include "platform/text.h"

namespace kv::platform {
namespace {

constexpr std::size_t kReadAhead = 64 * 1024;
// Read at a position that does not continue the last read.
constexpr std::size_t kFirstReadAhead = 4 * 1024;
constexpr std::size_t kWriteBuffer = 64 * 1024;
// Largest piece one copy_file_range call is asked for.
constexpr std::size_t kMaxSystemCopy = 1 << 30;
constexpr mode_t kNewFileMode = 0600;
// How long a folder listing read to resolve a name is trusted, and how many are kept.
constexpr std::chrono::seconds kListingLifetime{1};
constexpr std::size_t kMaxListings = 64;

class DirectoryStream {
 public:
  explicit DirectoryStream(const std::string& path) : dir_(opendir(path.c_str())) {}
  ~DirectoryStream() {
    if (dir_ != nullptr) closedir(dir_);
  }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  bool valid() const { return dir_ != nullptr; }
  // The next entry's name other than "." and ".."; nullopt at the end.
  std::optional<std::string> Next() {
    while (dirent* entry = readdir(dir_)) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      return std::string(entry->d_name);
    }
    return std::nullopt;
  }

 private:
  DIR* dir_;
};

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string ListableFolder(const std::string& folder) { return folder.empty() ? "." : folder; }

// One spelling per folder for the kept listings: no trailing separator (except the root).
std::string FolderKey(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder.empty() ? "." : folder;
}

// The folder (as FolderKey spells it) and the name of a Linux path.
std::pair<std::string, std::string> SplitLinuxPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {FolderKey(path.substr(0, slash + 1)), path.substr(slash + 1)};
}

bool EntryExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (!DecodeUtf8(text, i)) return false;
  }
  return true;
}

// Lower case for ASCII and the Latin letters of U+00C0-U+017F: enough for the names Western
// stores hold.
char32_t FoldCharacter(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0x178) return 0xFF;
  bool even_upper = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
  bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if ((even_upper && c % 2 == 0) || (odd_upper && c % 2 == 1)) return c + 1;
  return c;
}

// The case-folded characters of a name; bytes that are not UTF-8 stand for themselves, offset
// past the Unicode range so they never equal a decoded character.
std::u32string FoldName(std::string_view name) {
  constexpr char32_t kRawByte = 0x110000;
  std::u32string folded;
  for (std::size_t i = 0; i < name.size();) {
    std::size_t start = i;
    std::optional<char32_t> c = DecodeUtf8(name, i);
    folded.push_back(c ? FoldCharacter(*c) : kRawByte + static_cast<std::uint8_t>(name[start]));
  }
  return folded;
}

std::uint32_t AttributesOf(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return kAttributeDirectory;
  std::uint32_t attributes = S_ISREG(info.st_mode) ? kAttributeArchive : kAttributeDevice;
  if ((info.st_mode & S_IWUSR) == 0) attributes |= kAttributeReadOnly;
  return attributes;
}

// Opens an existing regular file for reading. O_NONBLOCK keeps a FIFO from blocking the open;
// anything but a regular file is refused, as CreateFileA refuses folders. O_NOATIME leaves the
// access time alone (people recover mail from disks they may also want to examine); the system
// allows it only for files the user owns, so it is dropped when refused.
FileDescriptor OpenRegularFile(const std::string& path, struct stat& info) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  FileDescriptor fd(open(path.c_str(), kFlags | O_NOATIME));
  if (!fd.valid() && errno == EPERM) fd = FileDescriptor(open(path.c_str(), kFlags));
  if (!fd.valid()) return fd;
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) fd.Reset();
  return fd;
}

class PosixReadableFile final : public ReadableFile {
 public:
  explicit PosixReadableFile(FileDescriptor fd) : fd_(std::move(fd)) {}

  // Fills the whole buffer unless the file ends first, as fread does, so callers never see a
  // short count in the middle of a file.
  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
    std::size_t total = 0;
    while (total < buffer.size()) {
      std::span<std::uint8_t> rest = buffer.subspan(total);
      if (!Buffered()) {
        // A read at least as large as the read-ahead it would cause goes straight into the
        // caller's buffer: a whole buffer's worth, or a jump elsewhere of at least
        // kFirstReadAhead bytes.
        if (rest.size() >= kReadAhead || (!Continues() && rest.size() >= kFirstReadAhead)) {
          std::optional<std::size_t> count = ReadDirect(rest);
          if (!count) return std::nullopt;
          if (*count == 0) break;
          total += *count;
          continue;
        }
        if (!Fill(rest.size())) return std::nullopt;
        if (ahead_size_ == 0) break;
      }
      std::uint64_t skip = position_ - ahead_offset_;
      std::size_t count = std::min<std::uint64_t>(rest.size(), ahead_size_ - skip);
      std::memcpy(rest.data(), ahead_.data() + skip, count);
      position_ += count;
      total += count;
    }
    return total;
  }
  bool Seek(std::uint64_t offset) override {
    position_ = offset;
    return true;
  }
  std::uint64_t Tell() const override { return position_; }
  std::optional<std::uint64_t> Size() const override {
    struct stat info;
    if (fstat(fd_.get(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
  }
  int descriptor() const { return fd_.get(); }

 private:
  bool Continues() const { return ahead_size_ > 0 && position_ == ahead_offset_ + ahead_size_; }
  bool Buffered() const {
    return position_ >= ahead_offset_ && position_ - ahead_offset_ < ahead_size_;
  }
  std::optional<std::size_t> PositionedRead(std::span<std::uint8_t> buffer, std::uint64_t at) {
    if (at > static_cast<std::uint64_t>(INT64_MAX)) return 0;
    for (;;) {
      ssize_t count = pread(fd_.get(), buffer.data(), buffer.size(), static_cast<off_t>(at));
      if (count >= 0) return static_cast<std::size_t>(count);
      if (errno != EINTR) return std::nullopt;
    }
  }
  std::optional<std::size_t> ReadDirect(std::span<std::uint8_t> buffer) {
    std::optional<std::size_t> count = PositionedRead(buffer, position_);
    if (count) position_ += *count;
    return count;
  }
  // Reads ahead from the current position, for a read of `wanted` bytes (less than kReadAhead);
  // at the end of the file nothing is buffered and the caller copies nothing. A read that
  // continues where the buffered bytes end reads a whole buffer ahead; one elsewhere (a jump to a
  // record or an index node) reads only a little more than it needs, so that scattered small
  // reads do not each pull in a whole buffer.
  bool Fill(std::size_t wanted) {
    if (ahead_.empty()) ahead_.resize(kReadAhead);
    const std::size_t size = Continues() ? kReadAhead : std::max(wanted, kFirstReadAhead);
    std::optional<std::size_t> count = PositionedRead(std::span(ahead_.data(), size), position_);
    ahead_size_ = count.value_or(0);
    ahead_offset_ = position_;
    return count.has_value();
  }

  FileDescriptor fd_;
  std::vector<std::uint8_t> ahead_;  // kReadAhead bytes once anything was buffered
  std::size_t ahead_size_ = 0;       // of which these hold the file's bytes from ahead_offset_
  std::uint64_t ahead_offset_ = 0;
  std::uint64_t position_ = 0;
};

class PosixWritableFile final : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}
  ~PosixWritableFile() override { Close(); }

  bool Write(std::span<const std::uint8_t> bytes) override {
    if (!fd_.valid() || failed_) return false;
    // A piece as large as the buffer goes out as it is, without being copied first.
    if (bytes.size() >= kWriteBuffer) return Flush() && WriteAll(bytes);
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    if (buffer_.size() >= kWriteBuffer) return Flush();
    return true;
  }
  // From another file on Linux, the system copies between the two files' caches
  // (copy_file_range), without the bytes passing through this process.
  CopyResult CopyFrom(ReadableFile& source, std::uint64_t length,
                      std::span<std::uint8_t> buffer) override {
    auto* posix = dynamic_cast<PosixReadableFile*>(&source);
    if (posix == nullptr || !fd_.valid() || failed_ || !Flush()) {
      return WritableFile::CopyFrom(source, length, buffer);
    }
    CopyResult result;
    while (result.copied < length && posix->Tell() <= static_cast<std::uint64_t>(INT64_MAX)) {
      auto from = static_cast<off_t>(posix->Tell());
      const auto want =
          static_cast<std::size_t>(std::min<std::uint64_t>(length - result.copied, kMaxSystemCopy));
      const ssize_t count =
          copy_file_range(posix->descriptor(), &from, fd_.get(), nullptr, want, 0);
      if (count == 0) return result;  // the source ends
      if (count < 0) {
        if (errno == EINTR) continue;
        // Not supported between these files, or an error: the rest goes through memory, which
        // also tells a read error from a write error.
        break;
      }
      posix->Seek(static_cast<std::uint64_t>(from));
      result.copied += static_cast<std::uint64_t>(count);
    }
    CopyResult rest = WritableFile::CopyFrom(source, length - result.copied, buffer);
    rest.copied += result.copied;
    return rest;
  }
  bool Close() override {
    if (!fd_.valid()) return false;
    bool flushed = Flush();
    bool closed = fd_.Reset();
    return flushed && closed;
  }

 private:
  bool Flush() {
    WriteAll(buffer_);
    buffer_.clear();
    return !failed_;
  }
  bool WriteAll(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (!failed_ && done < bytes.size()) {
      ssize_t count = write(fd_.get(), bytes.data() + done, bytes.size() - done);
      if (count > 0) {
        done += static_cast<std::size_t>(count);
      } else if (count < 0 && errno == EINTR) {
        continue;
      } else {
        failed_ = true;
      }
    }
    return !failed_;
  }

  FileDescriptor fd_;
  std::vector<std::uint8_t> buffer_;
  bool failed_ = false;
};

class PosixMappedFile final : public MappedFile {
 public:
  PosixMappedFile() = default;
  PosixMappedFile(void* address, std::size_t size) : address_(address), size_(size) {}
  ~PosixMappedFile() override {
    if (address_ != nullptr) munmap(address_, size_);
  }
  PosixMappedFile(const PosixMappedFile&) = delete;
  PosixMappedFile& operator=(const PosixMappedFile&) = delete;
  ByteView bytes() const override {
    return ByteView(static_cast<const std::uint8_t*>(address_), size_);
  }

 private:
  void* address_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace

PosixFileSystem::PosixFileSystem() : PosixFileSystem(Options{}) {}

PosixFileSystem::PosixFileSystem(Options options)
    : options_(std::move(options)), code_page_(options_.code_page) {}

const PosixFileSystem::Listing* PosixFileSystem::ListingOf(const std::string& folder) {
  const std::string key = FolderKey(folder);
  const auto now = std::chrono::steady_clock::now();
  auto kept = listings_.find(key);
  if (kept != listings_.end() && now - kept->second.read < kListingLifetime) return &kept->second;
  DirectoryStream dir(key);
  if (!dir.valid()) {
    if (kept != listings_.end()) listings_.erase(kept);
    return nullptr;
  }
  if (kept == listings_.end() && listings_.size() >= kMaxListings) listings_.clear();
  Listing& listing = listings_[key];
  listing = Listing{now, {}, {}};
  while (std::optional<std::string> name = dir.Next()) {
    auto [entry, added] = listing.folded.emplace(FoldName(*name), *name);
    if (!added && *name < entry->second) entry->second = *name;
    listing.names.push_back(std::move(*name));
  }
  return &listing;
}

void PosixFileSystem::NoteCreated(const std::string& linux_path) {
  auto [folder, name] = SplitLinuxPath(linux_path);
  auto kept = listings_.find(folder);
  if (kept == listings_.end()) return;
  Listing& listing = kept->second;
  if (std::find(listing.names.begin(), listing.names.end(), name) != listing.names.end()) return;
  auto [entry, added] = listing.folded.emplace(FoldName(name), name);
  if (!added && name < entry->second) entry->second = name;
  listing.names.push_back(std::move(name));
}

void PosixFileSystem::NoteDeleted(const std::string& linux_path) {
  auto [folder, name] = SplitLinuxPath(linux_path);
  auto kept = listings_.find(folder);
  if (kept == listings_.end()) return;
  Listing& listing = kept->second;
  std::erase(listing.names, name);
  const std::u32string folded = FoldName(name);
  listing.folded.erase(folded);
  for (const std::string& other : listing.names) {
    if (FoldName(other) != folded) continue;
    auto [entry, added] = listing.folded.emplace(folded, other);
    if (!added && other < entry->second) entry->second = other;
  }
}

std::optional<std::string> PosixFileSystem::ResolveComponent(const std::string& folder,
                                                             const std::string& component,
                                                             bool spelled_missing) {
  if (!spelled_missing && EntryExists(Join(folder, component))) return component;
  std::string utf8 = code_page_.ToUtf8(component);
  if (utf8 != component && EntryExists(Join(folder, utf8))) return utf8;

  const Listing* listing = ListingOf(ListableFolder(folder));
  if (listing == nullptr) return std::nullopt;
  std::optional<std::string> best;
  for (const std::u32string& wanted : {FoldName(utf8), FoldName(component)}) {
    auto match = listing->folded.find(wanted);
    if (match != listing->folded.end() && (!best || match->second < *best)) best = match->second;
  }
  if (best) return best;
  std::vector<std::string> names_in_code_page;
  for (const std::string& name : listing->names) names_in_code_page.push_back(NameInCodePage(name));
  std::optional<std::size_t> alias = MatchShortNameAlias(component, names_in_code_page);
  if (alias) return listing->names[*alias];
  return std::nullopt;
}

std::optional<std::string> PosixFileSystem::Translate(const std::string& path,
                                                      bool allow_missing_last) {
  if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
  WindowsPath parsed = ParseWindowsPath(path);
  std::string linux_path;
  if (parsed.drive != 0) {
    auto it = options_.drive_map.find(parsed.drive);
    if (it == options_.drive_map.end() || it->second.empty()) return std::nullopt;
    linux_path = it->second;
  } else if (parsed.rooted) {
    linux_path = "/";
  }
  // The common case, every component spelled as on disk, takes one lstat instead of one per
  // component.
  std::string as_spelled = linux_path;
  for (const std::string& component : parsed.components) as_spelled = Join(as_spelled, component);
  if (!parsed.components.empty() && EntryExists(as_spelled)) return as_spelled;

  // A missing last name in a folder spelled as on disk (a file about to be made, or one just
  // removed) needs only that folder searched, not every component resolved again.
  std::size_t first_unresolved = 0;
  if (parsed.components.size() > 1) {
    std::string parent = linux_path;
    for (std::size_t i = 0; i + 1 < parsed.components.size(); ++i) {
      parent = Join(parent, parsed.components[i]);
    }
    if (EntryExists(parent)) {
      linux_path = std::move(parent);
      first_unresolved = parsed.components.size() - 1;
    }
  }

  for (std::size_t i = first_unresolved; i < parsed.components.size(); ++i) {
    // The last name as spelled was looked for above when its folder is the one spelled.
    const bool spelled_missing = i > 0 && i == first_unresolved;
    std::optional<std::string> name =
        ResolveComponent(linux_path, parsed.components[i], spelled_missing);
    bool last = i + 1 == parsed.components.size();
    if (!name && last && allow_missing_last) name = code_page_.ToUtf8(parsed.components[i]);
    if (!name) return std::nullopt;
    linux_path = Join(linux_path, *name);
  }
  if (linux_path.empty()) linux_path = ".";
  return linux_path;
}

std::string PosixFileSystem::NameInCodePage(const std::string& name_on_disk) {
  if (!IsValidUtf8(name_on_disk)) return name_on_disk;
  return code_page_.FromUtf8(name_on_disk);
}

std::unique_ptr<ReadableFile> PosixFileSystem::OpenForReading(const std::string& path,
                                                              OpenMode mode) {
  std::optional<std::string> linux_path = Translate(path, false);
  if (!linux_path) return nullptr;
  struct stat info;
  FileDescriptor fd = OpenRegularFile(*linux_path, info);
  if (!fd.valid()) return nullptr;
  auto file = std::make_unique<PosixReadableFile>(std::move(fd));
  if (mode == OpenMode::kText) return MakeTextModeFile(std::move(file));
  return file;
}

std::unique_ptr<WritableFile> PosixFileSystem::OpenForWriting(const std::string& path) {
  std::optional<std::string> linux_path = Translate(path, true);
  if (!linux_path) return nullptr;
  int fd = open(linux_path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode);
  if (fd < 0) return nullptr;
  NoteCreated(*linux_path);
  return std::make_unique<PosixWritableFile>(fd);
}

std::unique_ptr<MappedFile> PosixFileSystem::MapReadOnly(const std::string& path) {
  std::optional<std::string> linux_path = Translate(path, false);
  if (!linux_path) return nullptr;
  struct stat info;
  FileDescriptor fd = OpenRegularFile(*linux_path, info);
  if (!fd.valid()) return nullptr;
  if (info.st_size == 0) return std::make_unique<PosixMappedFile>();
  if (static_cast<std::uint64_t>(info.st_size) > SIZE_MAX) return nullptr;
  auto size = static_cast<std::size_t>(info.st_size);
  void* address = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (address == MAP_FAILED) return nullptr;
  return std::make_unique<PosixMappedFile>(address, size);
}

std::unique_ptr<FileFinder> PosixFileSystem::FindFirst(const std::string& pattern) {
  SplitSearchPattern split = SplitPattern(pattern);
  if (split.name.empty()) return nullptr;
  std::optional<std::string> folder = Translate(split.folder.empty() ? "." : split.folder, false);
  if (!folder) return nullptr;

  std::vector<FindEntry> entries;
  auto add = [&](const std::string& name_on_disk) {
    std::string full = Join(*folder, name_on_disk);
    struct stat info;
    if (stat(full.c_str(), &info) != 0 && lstat(full.c_str(), &info) != 0) return;
    std::uint64_t size = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
    entries.push_back({NameInCodePage(name_on_disk), AttributesOf(info), size});
  };
  if (!HasWildcards(split.name)) {
    if (std::optional<std::string> name = ResolveComponent(*folder, split.name)) add(*name);
  } else {
    DirectoryStream dir(*folder);
    if (!dir.valid()) return nullptr;
    while (std::optional<std::string> name = dir.Next()) {
      if (MatchesWildcard(split.name, NameInCodePage(*name))) add(*name);
    }
  }
  return MakeSortedFinder(std::move(entries));
}

bool PosixFileSystem::Exists(const std::string& path) {
  std::optional<std::string> linux_path = Translate(path, false);
  struct stat info;
  return linux_path && stat(linux_path->c_str(), &info) == 0;
}

std::optional<FileStatus> PosixFileSystem::Status(const std::string& path) {
  std::optional<std::string> linux_path = Translate(path, false);
  struct stat info;
  if (!linux_path || stat(linux_path->c_str(), &info) != 0) return std::nullopt;
  FileStatus status;
  status.size = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
  status.modified_unix_seconds = static_cast<std::int64_t>(info.st_mtime);
  status.attributes = AttributesOf(info);
  return status;
}

bool PosixFileSystem::Delete(const std::string& path) {
  std::optional<std::string> linux_path = Translate(path, false);
  struct stat info;
  if (!linux_path || lstat(linux_path->c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  if (unlink(linux_path->c_str()) != 0) return false;
  NoteDeleted(*linux_path);
  return true;
}

std::string PosixFileSystem::NativePath(const std::string& path) {
  return Translate(path, true).value_or("");
}

}  // namespace kv::platform
