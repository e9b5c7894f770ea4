#include "platform/chunked_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_view.h"

namespace kv {

ChunkedReader::ChunkedReader(std::unique_ptr<platform::ReadableFile> file, std::size_t window_size)
    : file_(std::move(file)), window_(std::max(window_size, kWindowSize)) {}

bool ChunkedReader::Seek(std::uint64_t offset) {
  position_ = offset;
  return true;
}

std::span<const std::uint8_t> ChunkedReader::Available() {
  const bool inside = position_ >= window_start_ && position_ - window_start_ < window_size_;
  if (!inside) {
    window_start_ = position_;
    window_size_ = 0;
    if (!file_->Seek(position_)) {
      failed_ = true;
      return {};
    }
    std::optional<std::size_t> count = file_->Read(window_);
    if (!count) {
      failed_ = true;
      return {};
    }
    failed_ = false;
    window_size_ = *count;
  }
  const auto skip = static_cast<std::size_t>(position_ - window_start_);
  return std::span<const std::uint8_t>(window_.data() + skip, window_size_ - skip);
}

std::span<const std::uint8_t> ChunkedReader::Peek(std::size_t wanted) {
  std::span<const std::uint8_t> available = Available();
  if (available.size() >= std::min(wanted, kWindowSize) || failed_) return available;
  // Too little is left in the window: load a new one that starts at the position.
  window_size_ = 0;
  return Available();
}

bool ChunkedReader::ReadExactly(std::span<std::uint8_t> bytes) {
  const std::uint64_t start = position_;
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    std::span<const std::uint8_t> available = Available();
    if (available.empty()) {
      position_ = start;
      return false;
    }
    const std::size_t take = std::min(available.size(), bytes.size() - filled);
    std::copy_n(available.begin(), take, bytes.begin() + filled);
    filled += take;
    position_ += take;
  }
  return true;
}

std::optional<std::uint32_t> ChunkedReader::ReadWord() {
  std::span<const std::uint8_t> available = Available();
  std::uint8_t bytes[4];
  if (available.size() >= 4) {
    std::copy_n(available.begin(), 4, bytes);
    position_ += 4;
  } else if (!ReadExactly(bytes)) {
    return std::nullopt;
  }
  return ByteView(bytes, sizeof bytes).u32le(0);
}

}  // namespace kv
