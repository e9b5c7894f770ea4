// The 64 KiB window under the mailbox reader: words and copies must come out the same whatever
// sizes the underlying reads return, and read errors must end scans and copies, not loop.

#include "platform/chunked_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

namespace kv {
namespace {

// A file in memory that returns at most `piece` bytes per read and fails reads past `fail_at`.
class DribblingFile final : public platform::ReadableFile {
 public:
  DribblingFile(std::string bytes, std::size_t piece, std::optional<std::uint64_t> fail_at,
                std::uint64_t* bytes_read = nullptr)
      : bytes_(std::move(bytes)), piece_(piece), fail_at_(fail_at), bytes_read_(bytes_read) {}

  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
    const std::optional<std::size_t> count = ReadPiece(buffer);
    if (count && bytes_read_ != nullptr) *bytes_read_ += *count;
    return count;
  }
  std::optional<std::size_t> ReadPiece(std::span<std::uint8_t> buffer) {
    if (fail_at_ && position_ >= *fail_at_) return std::nullopt;
    if (position_ >= bytes_.size()) return 0;
    std::size_t count = std::min({buffer.size(), piece_, bytes_.size() - position_});
    if (fail_at_) count = std::min<std::size_t>(count, *fail_at_ - position_);
    std::memcpy(buffer.data(), bytes_.data() + position_, count);
    position_ += count;
    return count;
  }
  bool Seek(std::uint64_t offset) override {
    position_ = offset;
    return true;
  }
  std::uint64_t Tell() const override { return position_; }
  std::optional<std::uint64_t> Size() const override { return bytes_.size(); }

 private:
  std::string bytes_;
  std::size_t piece_;
  std::optional<std::uint64_t> fail_at_;
  std::uint64_t* bytes_read_;
  std::uint64_t position_ = 0;
};

constexpr std::uint32_t kMarker = 0x7F007F00;
const std::string kMarkerBytes("\x00\x7F\x00\x7F", 4);

ChunkedReader Reader(const std::string& bytes, std::size_t piece,
                     std::optional<std::uint64_t> fail_at = std::nullopt) {
  return ChunkedReader(std::make_unique<DribblingFile>(bytes, piece, fail_at));
}

std::string CopyAll(ChunkedReader& reader, std::optional<std::uint64_t> end, bool* ok = nullptr) {
  std::string out;
  const bool copied = reader.CopyTo(end, [&out](std::span<const std::uint8_t> piece) {
    EXPECT_LE(piece.size(), 4 * ChunkedReader::kWindowSize);
    out.append(reinterpret_cast<const char*>(piece.data()), piece.size());
    return true;
  });
  if (ok != nullptr) *ok = copied;
  return out;
}

// What a scan reports: whether it found the word, and the bytes it went over.
std::pair<bool, std::uint64_t> Scan(ChunkedReader& reader) {
  const ChunkedReader::WordScan scan = reader.ScanWordsUntil(kMarker);
  return {scan.found, scan.bytes};
}

TEST(ChunkedReader, ScansAndCopiesAlikeWhateverTheReadSizes) {
  std::string bytes =
      std::string(200000, 'a') + kMarkerBytes + std::string(70000, 'b') + kMarkerBytes + "tail!";
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{7}, std::size_t{1} << 20}) {
    SCOPED_TRACE(piece);
    ChunkedReader reader = Reader(bytes, piece);
    EXPECT_EQ(Scan(reader), std::pair(true, std::uint64_t{200004}));
    EXPECT_EQ(Scan(reader), std::pair(true, std::uint64_t{70004}));
    // "tail!" holds one whole word and one byte.
    EXPECT_EQ(Scan(reader), std::pair(false, std::uint64_t{4}));
    EXPECT_EQ(reader.Tell(), bytes.size() - 1);

    reader.Seek(199990);
    EXPECT_EQ(CopyAll(reader, 200000), std::string(10, 'a'));
    reader.Seek(bytes.size() - 7);
    EXPECT_EQ(CopyAll(reader, std::nullopt), std::string("\x00\x7F", 2) + "tail!");
  }
}

TEST(ChunkedReader, ReadErrorEndsScansAndFailsCopies) {
  const std::string bytes = std::string(100000, 'a') + kMarkerBytes;
  ChunkedReader reader = Reader(bytes, 4096, 50000);
  EXPECT_EQ(Scan(reader), std::pair(false, std::uint64_t{50000}));
  reader.Seek(0);
  bool ok = true;
  EXPECT_EQ(CopyAll(reader, std::nullopt, &ok).size(), 50000u);
  EXPECT_FALSE(ok);
}

TEST(ChunkedReader, PartialWordsAndPositionsPastTheEndReadNothing) {
  ChunkedReader reader = Reader("\x01\x02\x03\x04\x05\x06", 5);
  EXPECT_EQ(reader.ReadWord(), 0x04030201u);  // little-endian
  EXPECT_EQ(reader.ReadWord(), std::nullopt);
  EXPECT_EQ(reader.Tell(), 4u);

  reader.Seek(1000);
  EXPECT_EQ(reader.ReadWord(), std::nullopt);
  EXPECT_FALSE(Scan(reader).first);
  std::uint8_t byte = 0;
  EXPECT_FALSE(reader.ReadExactly(std::span<std::uint8_t>(&byte, 1)));
  bool ok = false;
  EXPECT_EQ(CopyAll(reader, std::nullopt, &ok), "");
  EXPECT_TRUE(ok);
}

// A scan that hands over what it reads gives each record whole, without its marker, wherever
// the reads and the window cut it, and reads every byte of the file once.
TEST(ChunkedReader, ScansHandOverEachRecordReadingItOnce) {
  constexpr std::size_t kWindow = 4 * ChunkedReader::kWindowSize;
  // Markers count at offsets that are multiples of 4, so the records are too.
  for (std::size_t record : {std::size_t{100}, kWindow / 2 - 8, kWindow + 5000}) {
    for (std::size_t piece : {std::size_t{7}, kWindow}) {
      SCOPED_TRACE(std::to_string(record) + " " + std::to_string(piece));
      std::string bytes;
      for (char fill = 'a'; fill < 'k'; ++fill) bytes += std::string(record, fill) + kMarkerBytes;
      std::uint64_t bytes_read = 0;
      ChunkedReader reader(std::make_unique<DribblingFile>(bytes, piece, std::nullopt, &bytes_read),
                           kWindow);
      for (char fill = 'a'; fill < 'k'; ++fill) {
        std::string handed;
        const ChunkedReader::WordScan scan =
            reader.ScanWordsUntil(kMarker, [&handed](std::span<const std::uint8_t> part) {
              handed.append(part.begin(), part.end());
            });
        EXPECT_TRUE(scan.found);
        EXPECT_EQ(scan.bytes, record + 4);
        EXPECT_EQ(handed, std::string(record, fill));
      }
      EXPECT_EQ(bytes_read, bytes.size());
    }
  }
}

}  // namespace
}  // namespace kv
