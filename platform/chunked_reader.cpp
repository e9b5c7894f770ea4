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
    // Reading on from the window's end with bytes to keep: they move to the window's start and
    // the new bytes follow them.
    std::size_t kept = 0;
    const std::uint64_t window_end = window_start_ + window_size_;
    if (keep_from_ && position_ == window_end && *keep_from_ >= window_start_ &&
        *keep_from_ < window_end && window_end - *keep_from_ <= window_.size() / 2) {
      kept = static_cast<std::size_t>(window_end - *keep_from_);
      std::memmove(window_.data(), window_.data() + (*keep_from_ - window_start_), kept);
    }
    window_start_ = position_ - kept;
    window_size_ = kept;
    if (!file_->Seek(position_)) {
      failed_ = true;
      return {};
    }
    std::optional<std::size_t> count = file_->Read(std::span<std::uint8_t>(window_).subspan(kept));
    if (!count) {
      failed_ = true;
      return {};
    }
    failed_ = false;
    window_size_ = kept + *count;
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

ChunkedReader::WordScan ChunkedReader::ScanWordsUntil(std::uint32_t word) {
  WordScan scan;
  for (;;) {
    std::span<const std::uint8_t> available = Available();
    if (available.size() < 4) {
      // A word straddling the window's end, or the end of the file.
      std::optional<std::uint32_t> next = ReadWord();
      if (!next) return scan;
      scan.bytes += 4;
      if (*next == word) {
        scan.found = true;
        return scan;
      }
      continue;
    }
    // The common case: whole words inside the window, searched in place.
    const ByteView window(available);
    if (std::optional<std::size_t> at = window.FindU32le(word)) {
      position_ += *at + 4;
      scan.bytes += *at + 4;
      scan.found = true;
      return scan;
    }
    const std::size_t whole = available.size() / 4 * 4;
    position_ += whole;
    scan.bytes += whole;
  }
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
