#include "platform/fake/fault_file_system.h"

#include <algorithm>

namespace kv::platform {
namespace {

bool Contains(const std::vector<std::string>& fragments, const std::string& path) {
  return std::any_of(fragments.begin(), fragments.end(), [&path](const std::string& fragment) {
    return path.find(fragment) != std::string::npos;
  });
}

// Counts itself in the shared counter for as long as it lives; the counter outlives the file
// system if a file does.
class OpenCounter {
 public:
  explicit OpenCounter(std::shared_ptr<int> count) : count_(std::move(count)) { ++*count_; }
  ~OpenCounter() { --*count_; }
  OpenCounter(const OpenCounter&) = delete;
  OpenCounter& operator=(const OpenCounter&) = delete;

 private:
  std::shared_ptr<int> count_;
};

class FaultReadableFile final : public ReadableFile {
 public:
  FaultReadableFile(std::unique_ptr<ReadableFile> file, std::optional<std::uint64_t> budget,
                    std::optional<std::size_t> piece, std::shared_ptr<int> count)
      : file_(std::move(file)), budget_(budget), piece_(piece), counter_(std::move(count)) {}

  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
    if (piece_) buffer = buffer.first(std::min(buffer.size(), *piece_));
    if (budget_) {
      if (delivered_ >= *budget_) return std::nullopt;
      buffer = buffer.first(std::min<std::uint64_t>(buffer.size(), *budget_ - delivered_));
    }
    std::optional<std::size_t> count = file_->Read(buffer);
    if (count) delivered_ += *count;
    return count;
  }
  bool Seek(std::uint64_t offset) override { return file_->Seek(offset); }
  std::uint64_t Tell() const override { return file_->Tell(); }
  std::optional<std::uint64_t> Size() const override { return file_->Size(); }

 private:
  std::unique_ptr<ReadableFile> file_;
  std::optional<std::uint64_t> budget_;
  std::optional<std::size_t> piece_;
  std::uint64_t delivered_ = 0;
  OpenCounter counter_;
};

class FaultWritableFile final : public WritableFile {
 public:
  FaultWritableFile(std::unique_ptr<WritableFile> file, std::optional<std::uint64_t> budget,
                    bool fail_close, std::shared_ptr<int> count)
      : file_(std::move(file)),
        budget_(budget),
        fail_close_(fail_close),
        counter_(std::move(count)) {}

  bool Write(std::span<const std::uint8_t> bytes) override {
    if (budget_ && (written_ > *budget_ || bytes.size() > *budget_ - written_)) return false;
    written_ += bytes.size();
    return file_->Write(bytes);
  }
  bool Close() override { return file_->Close() && !fail_close_; }

 private:
  std::unique_ptr<WritableFile> file_;
  std::optional<std::uint64_t> budget_;
  bool fail_close_;
  std::uint64_t written_ = 0;
  OpenCounter counter_;
};

class FaultMappedFile final : public MappedFile {
 public:
  FaultMappedFile(std::unique_ptr<MappedFile> file, std::shared_ptr<int> count)
      : file_(std::move(file)), counter_(std::move(count)) {}
  ByteView bytes() const override { return file_->bytes(); }

 private:
  std::unique_ptr<MappedFile> file_;
  OpenCounter counter_;
};

}  // namespace

std::unique_ptr<ReadableFile> FaultFileSystem::OpenForReading(const std::string& path,
                                                              OpenMode mode) {
  if (Contains(faults_.open_for_reading, path)) return nullptr;
  std::unique_ptr<ReadableFile> file = target_.OpenForReading(path, mode);
  if (!file) return nullptr;
  return std::make_unique<FaultReadableFile>(std::move(file), faults_.read_budget,
                                             faults_.read_piece, open_count_);
}

std::unique_ptr<WritableFile> FaultFileSystem::OpenForWriting(const std::string& path) {
  if (Contains(faults_.open_for_writing, path)) return nullptr;
  std::unique_ptr<WritableFile> file = target_.OpenForWriting(path);
  if (!file) return nullptr;
  return std::make_unique<FaultWritableFile>(std::move(file), faults_.write_budget,
                                             faults_.fail_close, open_count_);
}

std::unique_ptr<MappedFile> FaultFileSystem::MapReadOnly(const std::string& path) {
  if (Contains(faults_.map, path)) return nullptr;
  std::unique_ptr<MappedFile> file = target_.MapReadOnly(path);
  if (!file) return nullptr;
  return std::make_unique<FaultMappedFile>(std::move(file), open_count_);
}

std::unique_ptr<FileFinder> FaultFileSystem::FindFirst(const std::string& pattern) {
  if (Contains(faults_.find, pattern)) return nullptr;
  return target_.FindFirst(pattern);
}

bool FaultFileSystem::Exists(const std::string& path) {
  return !Contains(faults_.exists, path) && target_.Exists(path);
}

std::optional<FileStatus> FaultFileSystem::Status(const std::string& path) {
  if (Contains(faults_.status, path)) return std::nullopt;
  return target_.Status(path);
}

bool FaultFileSystem::Delete(const std::string& path) {
  return !Contains(faults_.remove, path) && target_.Delete(path);
}

std::string FaultFileSystem::NativePath(const std::string& path) {
  return target_.NativePath(path);
}

}  // namespace kv::platform
