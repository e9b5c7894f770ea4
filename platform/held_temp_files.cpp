#include "platform/held_temp_files.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/text.h"

namespace kv::platform {

// A buffer with room kept between files: a new message reuses the memory of the last one instead
// of fresh pages from the system. Bytes beyond `size` are not initialised, so that a copy can read
// straight into them.
struct HeldTempFiles::Content {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
  std::size_t capacity = 0;
  // Set while a WritableFile writes the bytes; such a file is not put on disk behind its back.
  bool writing = false;

  std::string_view bytes() const { return {data.get(), size}; }
  // Makes room for `more` bytes after `size`; false when memory runs out.
  bool Reserve(std::size_t more) {
    if (capacity - size >= more) return true;
    constexpr std::size_t kFirstCapacity = 64 * 1024;
    const std::size_t wanted = std::max({size + more, capacity * 2, kFirstCapacity});
    std::unique_ptr<char[]> grown(new (std::nothrow) char[wanted]);
    if (!grown) return false;
    if (size > 0) std::memcpy(grown.get(), data.get(), size);
    data = std::move(grown);
    capacity = wanted;
    return true;
  }
};

namespace {

using Content = HeldTempFiles::Content;

constexpr std::size_t kMaxSpareBuffers = 4;
constexpr std::uint32_t kAttributesOfHeldFile = kAttributeArchive;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The last component of a path.
std::string_view NameOf(std::string_view path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

bool SameComponents(const WindowsPath& a, const WindowsPath& b, std::size_t count) {
  if (a.drive != b.drive || a.rooted != b.rooted) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (!EqualsIgnoringCase(a.components[i], b.components[i])) return false;
  }
  return true;
}

class HeldReadableFile final : public ReadableFile {
 public:
  explicit HeldReadableFile(std::shared_ptr<const Content> content)
      : content_(std::move(content)) {}
  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
    const std::size_t size = content_->size;
    if (position_ >= size) return 0;
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - position_));
    std::memcpy(buffer.data(), content_->data.get() + position_, count);
    position_ += count;
    return count;
  }
  bool Seek(std::uint64_t offset) override {
    position_ = offset;
    return true;
  }
  std::uint64_t Tell() const override { return position_; }
  std::optional<std::uint64_t> Size() const override { return content_->size; }

 private:
  std::shared_ptr<const Content> content_;
  std::uint64_t position_ = 0;
};

class HeldMappedFile final : public MappedFile {
 public:
  explicit HeldMappedFile(std::string_view bytes)
      : bytes_(reinterpret_cast<const std::uint8_t*>(bytes.data()),
               reinterpret_cast<const std::uint8_t*>(bytes.data()) + bytes.size()) {}
  ByteView bytes() const override { return ByteView(bytes_.data(), bytes_.size()); }

 private:
  std::vector<std::uint8_t> bytes_;  // a copy: the held file may still grow or go
};

}  // namespace

// Writes into a held buffer until the file would pass the spill size; from then on into the real
// file of the same name, which first receives what was held.
class HeldWritableFile final : public WritableFile {
 public:
  HeldWritableFile(HeldTempFiles& owner, std::string path, std::shared_ptr<Content> content,
                   std::size_t spill_size)
      : owner_(owner),
        path_(std::move(path)),
        content_(std::move(content)),
        spill_size_(spill_size) {
    content_->writing = true;
  }
  ~HeldWritableFile() override {
    if (content_) content_->writing = false;
  }

  bool Write(std::span<const std::uint8_t> bytes) override {
    if (closed_ || failed_) return false;
    if (!disk_ && !Fits(bytes.size()) && !Spill()) return false;
    if (disk_) return disk_->Write(bytes);
    if (!content_->Reserve(bytes.size())) return Fail();
    if (!bytes.empty())
      std::memcpy(content_->data.get() + content_->size, bytes.data(), bytes.size());
    content_->size += bytes.size();
    return true;
  }

  // Reads from `source` straight into the held buffer: one copy instead of two.
  CopyResult CopyFrom(ReadableFile& source, std::uint64_t length,
                      std::span<std::uint8_t> buffer) override {
    if (closed_ || failed_) return {0, true};
    if (!disk_ && (length > spill_size_ || !Fits(static_cast<std::size_t>(length)))) {
      if (!Spill()) return {0, true};
    }
    if (disk_) return disk_->CopyFrom(source, length, buffer);
    const auto wanted = static_cast<std::size_t>(length);
    if (!content_->Reserve(wanted)) {
      Fail();
      return {0, true};
    }
    CopyResult result;
    while (result.copied < wanted) {
      const std::size_t left = wanted - static_cast<std::size_t>(result.copied);
      std::optional<std::size_t> count = source.Read(
          std::span(reinterpret_cast<std::uint8_t*>(content_->data.get()) + content_->size, left));
      if (!count || *count == 0) break;
      content_->size += *count;
      result.copied += *count;
    }
    return result;
  }

  bool Close() override {
    if (closed_) return false;
    closed_ = true;
    if (content_) content_->writing = false;
    owner_.Touch(path_, content_);
    if (disk_) return disk_->Close() && !failed_;
    return !failed_;
  }

 private:
  bool Fits(std::size_t more) const {
    return more <= spill_size_ && content_->size <= spill_size_ - more;
  }
  bool Fail() {
    failed_ = true;
    return false;
  }
  // Moves what is held to the real file and writes there from now on.
  bool Spill() {
    disk_ = owner_.Spill(path_, content_);
    return disk_ ? true : Fail();
  }

  HeldTempFiles& owner_;
  std::string path_;
  std::shared_ptr<Content> content_;
  std::size_t spill_size_;
  std::unique_ptr<WritableFile> disk_;
  bool closed_ = false;
  bool failed_ = false;
};

}  // namespace kv::platform

namespace kv::platform {

HeldTempFiles::HeldTempFiles(FileSystem& files, TempFiles& temp, std::size_t spill_size)
    : files_(files),
      temp_(temp),
      spill_size_(spill_size),
      folder_(temp.TempPath()),
      folder_parts_(ParseWindowsPath(folder_)) {}

HeldTempFiles::~HeldTempFiles() = default;

bool HeldTempFiles::IsFolder(std::string_view path) const {
  if (folder_.empty()) return false;
  // The common case, a filter asking for a new name: the folder as TempPath spelled it.
  if (path == folder_) return true;
  const WindowsPath parts = ParseWindowsPath(path);
  return parts.components.size() == folder_parts_.components.size() &&
         SameComponents(parts, folder_parts_, parts.components.size());
}

std::optional<std::string> HeldTempFiles::KeyOf(const std::string& path) const {
  if (folder_.empty() || path.empty()) return std::nullopt;
  // The common case: the folder as TempPath spelled it, then a plain name.
  if (path.size() > folder_.size() && path.compare(0, folder_.size(), folder_) == 0) {
    const std::string_view name = std::string_view(path).substr(folder_.size());
    if (name.find_first_of("\\/") == std::string_view::npos && name != "." && name != "..") {
      return ToLowerAscii(name);
    }
  }
  const WindowsPath parts = ParseWindowsPath(path);
  const std::size_t depth = folder_parts_.components.size();
  if (parts.components.size() != depth + 1 || !SameComponents(parts, folder_parts_, depth)) {
    return std::nullopt;
  }
  return ToLowerAscii(parts.components.back());
}

HeldTempFiles::Entry* HeldTempFiles::HeldEntry(const std::string& path) {
  std::optional<std::string> key = KeyOf(path);
  if (!key) return nullptr;
  auto found = entries_.find(*key);
  return found != entries_.end() && found->second.content ? &found->second : nullptr;
}

const HeldTempFiles::Entry* HeldTempFiles::HeldEntry(const std::string& path) const {
  return const_cast<HeldTempFiles*>(this)->HeldEntry(path);
}

HeldTempFiles::Entry& HeldTempFiles::Hold(const std::string& key, std::string_view name) {
  std::shared_ptr<Content> content;
  if (!spare_.empty()) {
    content = std::move(spare_.back());
    spare_.pop_back();
  } else {
    content = std::make_shared<Content>();
  }
  Entry& entry = entries_[key];
  if (entry.content) Recycle(std::move(entry.content));
  entry.name = std::string(name);
  entry.content = std::move(content);
  entry.modified = Now();
  return entry;
}

void HeldTempFiles::Recycle(std::shared_ptr<Content> content) {
  // A buffer an open file still reads or writes stays with that file.
  if (!content || content.use_count() != 1 || spare_.size() >= kMaxSpareBuffers) return;
  content->size = 0;
  content->writing = false;
  spare_.push_back(std::move(content));
}

void HeldTempFiles::Touch(const std::string& path, const std::shared_ptr<Content>& content) {
  Entry* entry = HeldEntry(path);
  if (entry != nullptr && entry->content == content) entry->modified = Now();
}

std::unique_ptr<WritableFile> HeldTempFiles::Spill(const std::string& path,
                                                   std::shared_ptr<Content>& content) {
  std::unique_ptr<WritableFile> disk = files_.OpenForWriting(path);
  if (!disk) return nullptr;
  const std::string_view held = content->bytes();
  if (!disk->Write(std::span(reinterpret_cast<const std::uint8_t*>(held.data()), held.size()))) {
    return nullptr;
  }
  Entry* entry = HeldEntry(path);
  if (entry != nullptr && entry->content == content) {
    entry->content.reset();
    entry->modified = Now();
  }
  content->writing = false;
  Recycle(std::move(content));
  content.reset();
  return disk;
}

bool HeldTempFiles::PutOnDisk(const std::string& path, Entry& entry) {
  std::unique_ptr<WritableFile> disk = files_.OpenForWriting(path);
  if (!disk) return false;
  const std::string_view held = entry.content->bytes();
  const bool written =
      disk->Write(std::span(reinterpret_cast<const std::uint8_t*>(held.data()), held.size()));
  if (!disk->Close() || !written) {
    files_.Delete(path);
    return false;
  }
  Recycle(std::move(entry.content));
  entry.content.reset();
  return true;
}

std::optional<std::string_view> HeldTempFiles::HeldBytes(const std::string& path) const {
  const Entry* entry = HeldEntry(path);
  if (entry == nullptr) return std::nullopt;
  return entry->content->bytes();
}

bool HeldTempFiles::Knows(const std::string& path) const {
  std::optional<std::string> key = KeyOf(path);
  return key && entries_.contains(*key);
}

std::string HeldTempFiles::TempPath() { return temp_.TempPath(); }

std::optional<std::string> HeldTempFiles::GetTempFileName(const std::string& folder,
                                                          std::string_view prefix,
                                                          std::uint32_t unique) {
  if (unique != 0 || !IsFolder(folder)) return temp_.GetTempFileName(folder, prefix, unique);
  const char separator = folder.find('/') != std::string::npos ? '/' : '\\';
  std::optional<std::string> path = CreateUniqueTempFile(
      folder, prefix, next_number_, separator, [this](const std::string& candidate) {
        std::optional<std::string> key = KeyOf(candidate);
        if (!key) return CreateAttempt::kFailed;
        if (entries_.contains(*key)) return CreateAttempt::kNameTaken;
        Hold(*key, NameOf(candidate));
        return CreateAttempt::kCreated;
      });
  ++next_number_;
  return path;
}

std::unique_ptr<ReadableFile> HeldTempFiles::OpenForReading(const std::string& path,
                                                            OpenMode mode) {
  Entry* entry = HeldEntry(path);
  if (entry == nullptr) return files_.OpenForReading(path, mode);
  auto file = std::make_unique<HeldReadableFile>(entry->content);
  if (mode == OpenMode::kText) return MakeTextModeFile(std::move(file));
  return file;
}

std::unique_ptr<WritableFile> HeldTempFiles::OpenForWriting(const std::string& path) {
  std::optional<std::string> key = KeyOf(path);
  if (!key) return files_.OpenForWriting(path);
  auto found = entries_.find(*key);
  if (found != entries_.end() && !found->second.content) {
    // On disk since it grew too large: held again from empty, when the old file can go.
    if (!files_.Delete(path) && files_.Exists(path)) return files_.OpenForWriting(path);
  }
  if (found != entries_.end() && found->second.content && found->second.content.use_count() == 1) {
    // Truncated in place (the usual case: GetTempFileName made the file empty just before).
    found->second.content->size = 0;
    found->second.modified = Now();
    return std::make_unique<HeldWritableFile>(*this, path, found->second.content, spill_size_);
  }
  // The name as spelled the first time stays, as the file system keeps it on truncation.
  const std::string name = found != entries_.end() ? found->second.name : std::string(NameOf(path));
  Entry& entry = Hold(*key, name);
  return std::make_unique<HeldWritableFile>(*this, path, entry.content, spill_size_);
}

std::unique_ptr<MappedFile> HeldTempFiles::MapReadOnly(const std::string& path) {
  Entry* entry = HeldEntry(path);
  if (entry == nullptr) return files_.MapReadOnly(path);
  return std::make_unique<HeldMappedFile>(entry->content->bytes());
}

std::unique_ptr<FileFinder> HeldTempFiles::FindFirst(const std::string& pattern) {
  const SplitSearchPattern split = SplitPattern(pattern);
  if (split.name.empty() || !IsFolder(split.folder)) return files_.FindFirst(pattern);
  std::vector<FindEntry> found;
  if (std::unique_ptr<FileFinder> on_disk = files_.FindFirst(pattern)) {
    while (std::optional<FindEntry> entry = on_disk->Next()) found.push_back(std::move(*entry));
  }
  for (const auto& held : entries_) {
    const Entry& entry = held.second;
    if (!entry.content || !MatchesWildcard(split.name, entry.name)) continue;
    const bool listed = std::any_of(found.begin(), found.end(), [&](const FindEntry& other) {
      return EqualsIgnoringCase(other.name, entry.name);
    });
    if (!listed) found.push_back({entry.name, kAttributesOfHeldFile, entry.content->size});
  }
  return MakeSortedFinder(std::move(found));
}

bool HeldTempFiles::Exists(const std::string& path) {
  return HeldEntry(path) != nullptr || files_.Exists(path);
}

std::optional<FileStatus> HeldTempFiles::Status(const std::string& path) {
  const Entry* entry = HeldEntry(path);
  if (entry == nullptr) return files_.Status(path);
  FileStatus status;
  status.size = entry->content->size;
  status.modified_unix_seconds = entry->modified;
  status.attributes = kAttributesOfHeldFile;
  return status;
}

bool HeldTempFiles::Delete(const std::string& path) {
  std::optional<std::string> key = KeyOf(path);
  if (!key) return files_.Delete(path);
  auto found = entries_.find(*key);
  if (found == entries_.end()) return files_.Delete(path);
  // A file on disk is forgotten even when it is gone already (moved away by its owner).
  const bool deleted = found->second.content ? true : files_.Delete(path);
  Recycle(std::move(found->second.content));
  entries_.erase(found);
  return deleted;
}

std::string HeldTempFiles::NativePath(const std::string& path) {
  Entry* entry = HeldEntry(path);
  // A file still being written goes to disk when it is closed and asked for again.
  if (entry != nullptr && !entry->content->writing && !PutOnDisk(path, *entry)) return "";
  return files_.NativePath(path);
}

}  // namespace kv::platform
