#pragma once
// Sequential reading of a store file through one window (64 KiB unless asked for more), so that
// word-by-word scans and small positioned reads cost a system call per window, not per word.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/byte_view.h"
#include "platform/file_system.h"

namespace kv {

class ChunkedReader {
 public:
  static constexpr std::size_t kWindowSize = 64 * 1024;

  // Takes ownership of `file`; reading starts at offset 0, through a window of `window_size`
  // bytes (at least kWindowSize).
  explicit ChunkedReader(std::unique_ptr<platform::ReadableFile> file,
                         std::size_t window_size = kWindowSize);

  std::uint64_t Tell() const { return position_; }
  // Moves the position; past the end is allowed (later reads find nothing). False on a failed move.
  bool Seek(std::uint64_t offset);

  // The little-endian 32-bit word at the position, advancing past it; nullopt when no whole word is
  // left or the file cannot be read (the position then stays).
  std::optional<std::uint32_t> ReadWord();

  // Reads whole words from the position until one equals `word` (which is read too) or no whole
  // word is left. `bytes` counts the bytes of the words read.
  struct WordScan {
    std::uint64_t bytes = 0;
    bool found = false;
  };
  WordScan ScanWordsUntil(std::uint32_t word) {
    return ScanWordsUntil(word, [](std::span<const std::uint8_t>) {});
  }
  // The same scan, handing the bytes of the words read, `word` itself excepted, to `sink` in
  // pieces as they are read, so that a caller can copy a record while it looks for its end.
  template <typename Sink>
  WordScan ScanWordsUntil(std::uint32_t word, Sink&& sink) {
    WordScan scan;
    for (;;) {
      std::span<const std::uint8_t> available = Available();
      if (available.size() < 4) {
        // A word straddling the window's end, or the end of the file.
        std::uint8_t bytes[4];
        if (!ReadExactly(bytes)) return scan;
        scan.bytes += 4;
        if (*ByteView(bytes, sizeof bytes).u32le(0) == word) {
          scan.found = true;
          return scan;
        }
        sink(std::span<const std::uint8_t>(bytes));
        continue;
      }
      // The common case: whole words inside the window, searched in place.
      const std::optional<std::size_t> at = ByteView(available).FindU32le(word);
      const std::size_t taken = at ? *at : available.size() / 4 * 4;
      sink(available.first(taken));
      position_ += taken;
      scan.bytes += taken;
      if (at) {
        position_ += 4;
        scan.bytes += 4;
        scan.found = true;
        return scan;
      }
    }
  }

  // Fills `bytes` from the position, advancing past them; false when the file ends first or cannot
  // be read.
  bool ReadExactly(std::span<std::uint8_t> bytes);

  // The bytes from the position to the end of the window, without advancing: at least
  // min(`wanted`, kWindowSize) bytes unless the file ends first. Empty at the end of the file or
  // after a read error (failed() tells which).
  std::span<const std::uint8_t> Peek(std::size_t wanted = 1);
  // Moves the position forward by `count` bytes.
  void Advance(std::size_t count) { position_ += count; }
  // The last attempt to load the window failed with a read error.
  bool failed() const { return failed_; }

  // Hands the bytes from the position up to `end` (or up to the end of the file when `end` is
  // nullopt) to `sink` in pieces of at most the window's size, advancing past them. Stops early
  // when `sink` returns false or the file cannot be read; returns whether every byte was handed
  // over.
  template <typename Sink>
  bool CopyTo(std::optional<std::uint64_t> end, Sink&& sink) {
    for (;;) {
      if (end && position_ >= *end) return true;
      std::span<const std::uint8_t> available = Available();
      if (available.empty()) return !end && !failed_;
      if (end && available.size() > *end - position_) {
        available = available.first(static_cast<std::size_t>(*end - position_));
      }
      if (!sink(available)) return false;
      position_ += available.size();
    }
  }

 private:
  // The bytes of the window from the position on, loading the window when the position has left
  // it; empty at the end of the file or after a read error.
  std::span<const std::uint8_t> Available();

  std::unique_ptr<platform::ReadableFile> file_;
  std::vector<std::uint8_t> window_;
  std::uint64_t window_start_ = 0;
  std::size_t window_size_ = 0;
  std::uint64_t position_ = 0;
  bool failed_ = false;
};

}  // namespace kv
