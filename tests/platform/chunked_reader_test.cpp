// The 64 KiB window under the mailbox reader: words and copies must come out the same whatever
// sizes the underlying reads return, and read errors must end scans and copies, not loop.

#include "platform/chunked_reader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/fake/fault_file_system.h"
#include "platform/fake/memory_file_system.h"

namespace kv {
namespace {

constexpr std::uint32_t kMarker = 0x7F007F00;
const std::string kMarkerBytes("\x00\x7F\x00\x7F", 4);

// A reader of `bytes` whose file delivers at most `piece` bytes per read and fails once it has
// delivered `budget` bytes.
class Reader {
 public:
  Reader(const std::string& bytes, std::size_t piece, std::optional<std::uint64_t> budget = {},
         std::size_t window = ChunkedReader::kWindowSize) {
    memory_.AddFile("C:\\file", bytes);
    faulty_.faults().read_piece = piece;
    faulty_.faults().read_budget = budget;
    reader_.emplace(faulty_.OpenForReading("C:\\file"), window);
  }
  ChunkedReader* operator->() { return &*reader_; }

  // What a scan for the marker reports: whether it found it, and the bytes it went over.
  std::pair<bool, std::uint64_t> Scan() {
    const ChunkedReader::WordScan scan = reader_->ScanWordsUntil(kMarker);
    return {scan.found, scan.bytes};
  }
  std::string Copy(std::optional<std::uint64_t> end, bool* ok = nullptr) {
    std::string out;
    const bool copied = reader_->CopyTo(end, [&out](std::span<const std::uint8_t> piece) {
      EXPECT_LE(piece.size(), 4 * ChunkedReader::kWindowSize);
      out.append(piece.begin(), piece.end());
      return true;
    });
    if (ok != nullptr) *ok = copied;
    return out;
  }

 private:
  platform::MemoryFileSystem memory_;
  platform::FaultFileSystem faulty_{memory_};
  std::optional<ChunkedReader> reader_;
};

TEST(ChunkedReader, ScansAndCopiesAlikeWhateverTheReadSizes) {
  std::string bytes =
      std::string(200000, 'a') + kMarkerBytes + std::string(70000, 'b') + kMarkerBytes + "tail!";
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{7}, std::size_t{1} << 20}) {
    SCOPED_TRACE(piece);
    Reader reader(bytes, piece);
    EXPECT_EQ(reader.Scan(), std::pair(true, std::uint64_t{200004}));
    EXPECT_EQ(reader.Scan(), std::pair(true, std::uint64_t{70004}));
    // "tail!" holds one whole word and one byte.
    EXPECT_EQ(reader.Scan(), std::pair(false, std::uint64_t{4}));
    EXPECT_EQ(reader->Tell(), bytes.size() - 1);

    reader->Seek(199990);
    EXPECT_EQ(reader.Copy(200000), std::string(10, 'a'));
    reader->Seek(bytes.size() - 7);
    EXPECT_EQ(reader.Copy(std::nullopt), std::string("\x00\x7F", 2) + "tail!");
  }
}

TEST(ChunkedReader, ReadErrorEndsScansAndFailsCopies) {
  const std::string bytes = std::string(100000, 'a') + kMarkerBytes;
  EXPECT_EQ(Reader(bytes, 4096, 50000).Scan(), std::pair(false, std::uint64_t{50000}));
  bool ok = true;
  EXPECT_EQ(Reader(bytes, 4096, 50000).Copy(std::nullopt, &ok).size(), 50000u);
  EXPECT_FALSE(ok);
}

TEST(ChunkedReader, PartialWordsAndPositionsPastTheEndReadNothing) {
  Reader reader("\x01\x02\x03\x04\x05\x06", 5);
  EXPECT_EQ(reader->ReadWord(), 0x04030201u);  // little-endian
  EXPECT_EQ(reader->ReadWord(), std::nullopt);
  EXPECT_EQ(reader->Tell(), 4u);

  reader->Seek(1000);
  EXPECT_EQ(reader->ReadWord(), std::nullopt);
  EXPECT_FALSE(reader.Scan().first);
  std::uint8_t byte = 0;
  EXPECT_FALSE(reader->ReadExactly(std::span<std::uint8_t>(&byte, 1)));
  bool ok = false;
  EXPECT_EQ(reader.Copy(std::nullopt, &ok), "");
  EXPECT_TRUE(ok);
}

// A scan that hands over what it reads gives each record whole, without its marker, wherever
// the reads and the window cut it, and reads every byte of the file once: the file fails reads
// past its own size.
TEST(ChunkedReader, ScansHandOverEachRecordReadingItOnce) {
  constexpr std::size_t kWindow = 4 * ChunkedReader::kWindowSize;
  // Markers count at offsets that are multiples of 4, so the records are too.
  for (std::size_t record : {std::size_t{100}, kWindow / 2 - 8, kWindow + 5000}) {
    for (std::size_t piece : {std::size_t{7}, kWindow}) {
      SCOPED_TRACE(std::to_string(record) + " " + std::to_string(piece));
      std::string bytes;
      for (char fill = 'a'; fill < 'k'; ++fill) bytes += std::string(record, fill) + kMarkerBytes;
      Reader reader(bytes, piece, bytes.size(), kWindow);
      for (char fill = 'a'; fill < 'k'; ++fill) {
        std::string handed;
        const ChunkedReader::WordScan scan =
            reader->ScanWordsUntil(kMarker, [&handed](std::span<const std::uint8_t> part) {
              handed.append(part.begin(), part.end());
            });
        EXPECT_TRUE(scan.found);
        EXPECT_EQ(scan.bytes, record + 4);
        EXPECT_EQ(handed, std::string(record, fill));
      }
    }
  }
}

}  // namespace
}  // namespace kv
