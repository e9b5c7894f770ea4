#pragma once
// A non-owning, bounds-checked view of foreign bytes. Every reader of a store file decodes through
// it: each accessor checks `offset <= size && len <= size - offset` before touching memory and
// returns std::nullopt instead of reading past the end. Integers are assembled from unsigned bytes
// with shifts, so byte order never depends on the machine.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

namespace kv {

class ByteView {
 public:
  constexpr ByteView() = default;
  constexpr ByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  constexpr explicit ByteView(std::span<const std::uint8_t> bytes)
      : data_(bytes.data()), size_(bytes.size()) {}

  constexpr const std::uint8_t* data() const { return data_; }
  constexpr std::size_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }

  constexpr bool Contains(std::size_t offset, std::size_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // The `length` bytes at `offset`, or nullopt when they do not all lie inside the view.
  std::optional<ByteView> Sub(std::size_t offset, std::size_t length) const {
    if (!Contains(offset, length)) return std::nullopt;
    return ByteView(data_ + offset, length);
  }
  // Everything from `offset` on; nullopt when `offset` lies past the end.
  std::optional<ByteView> From(std::size_t offset) const {
    if (offset > size_) return std::nullopt;
    return ByteView(data_ + offset, size_ - offset);
  }

  std::optional<std::uint8_t> u8(std::size_t offset) const {
    if (!Contains(offset, 1)) return std::nullopt;
    return data_[offset];
  }
  std::optional<std::uint16_t> u16le(std::size_t offset) const {
    if (!Contains(offset, 2)) return std::nullopt;
    return static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
  }
  std::optional<std::uint16_t> u16be(std::size_t offset) const {
    if (!Contains(offset, 2)) return std::nullopt;
    return static_cast<std::uint16_t>((data_[offset] << 8) | data_[offset + 1]);
  }
  std::optional<std::uint32_t> u32le(std::size_t offset) const {
    if (!Contains(offset, 4)) return std::nullopt;
    return static_cast<std::uint32_t>(data_[offset]) |
           (static_cast<std::uint32_t>(data_[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(data_[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(data_[offset + 3]) << 24);
  }
  std::optional<std::uint32_t> u32be(std::size_t offset) const {
    if (!Contains(offset, 4)) return std::nullopt;
    return (static_cast<std::uint32_t>(data_[offset]) << 24) |
           (static_cast<std::uint32_t>(data_[offset + 1]) << 16) |
           (static_cast<std::uint32_t>(data_[offset + 2]) << 8) |
           static_cast<std::uint32_t>(data_[offset + 3]);
  }
  std::optional<std::uint64_t> u64le(std::size_t offset) const {
    auto low = u32le(offset);
    auto high = offset <= SIZE_MAX - 4 ? u32le(offset + 4) : std::nullopt;
    if (!low || !high) return std::nullopt;
    return (static_cast<std::uint64_t>(*high) << 32) | *low;
  }

  // The first offset of `offset`, `offset` + 4, `offset` + 8 ... at which a whole little-endian
  // 32-bit word equals `word`; nullopt when none does. Candidates are found by memchr on the word's
  // highest nonzero byte (a marker byte that text rarely holds), then compared in place; after each
  // candidate a stretch of words is compared in place, so that a run of that byte costs no more
  // than comparing every word.
  std::optional<std::size_t> FindU32le(std::uint32_t word, std::size_t offset = 0) const {
    constexpr std::size_t kStretchWords = 16;
    const std::uint8_t b[4] = {
        static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
        static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
    std::size_t key = 3;
    while (key > 0 && b[key] == 0) --key;
    std::size_t i = offset;
    while (Contains(i, 4)) {
      const void* hit = std::memchr(data_ + i + key, b[key], size_ - i - key);
      if (hit == nullptr) return std::nullopt;
      const std::size_t found =
          static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data_) - key;
      // The words before the first step at or after `found` lack the byte where it would match.
      i = found + (4 - (found - offset) % 4) % 4;
      for (std::size_t n = 0; n < kStretchWords && Contains(i, 4); ++n, i += 4) {
        if (data_[i + key] == b[key] && data_[i] == b[0] && data_[i + 1] == b[1] &&
            data_[i + 2] == b[2] && data_[i + 3] == b[3]) {
          return i;
        }
      }
    }
    return std::nullopt;
  }

  // The zero-terminated text in the field of `field_size` bytes at `offset`: the bytes up to the
  // first NUL, or the whole field when it holds none. nullopt when the field is not inside.
  std::optional<std::string> CString(std::size_t offset, std::size_t field_size) const {
    auto field = Sub(offset, field_size);
    if (!field) return std::nullopt;
    std::size_t length = 0;
    while (length < field_size && field->data_[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(field->data_), length);
  }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace kv
