#include "eudora/eudora_toc.h"

namespace kv {
namespace {

// Fields of a summary record, as offsets from the record's start.
constexpr std::size_t kOffsetField = 0;     // 32-bit: the message's offset in the mailbox
constexpr std::size_t kLengthField = 4;     // 32-bit: the message's length in the mailbox
constexpr std::size_t kStateField = 12;     // 8-bit: the message's state
constexpr std::size_t kEncodingField = 14;  // 8-bit: "=" when quoted-printable was asked for
constexpr std::size_t kMimeField = 15;      // 8-bit: 0 when the message goes out as MIME
constexpr std::size_t kPriorityField = 16;  // 8-bit: the priority, 1 highest to 5 lowest

}  // namespace

std::int32_t TocRecord::PriorityClass() const {
  if (priority == 1 || priority == 2) return 2;
  if (priority == 4 || priority == 5) return 1;
  return 0;
}

std::optional<TocRecord> DecodeTocRecord(ByteView record) {
  if (record.size() < kTocRecordSize) return std::nullopt;
  TocRecord decoded;
  decoded.offset = *record.u32le(kOffsetField);
  decoded.length = *record.u32le(kLengthField);
  decoded.state = *record.u8(kStateField);
  decoded.encoding = *record.u8(kEncodingField);
  decoded.mime = *record.u8(kMimeField);
  decoded.priority = *record.u8(kPriorityField);
  return decoded;
}

std::optional<TocRecord> TocFile::Read(std::uint64_t index) {
  if (!file_ || index > (UINT64_MAX - kTocHeaderSize) / kTocRecordSize - 1) return std::nullopt;
  if (!file_->Seek(kTocHeaderSize + kTocRecordSize * index)) return std::nullopt;
  std::uint8_t bytes[kTocRecordSize];
  std::size_t filled = 0;
  while (filled < kTocRecordSize) {
    std::optional<std::size_t> count =
        file_->Read(std::span<std::uint8_t>(bytes + filled, kTocRecordSize - filled));
    if (!count || *count == 0) return std::nullopt;
    filled += *count;
  }
  return DecodeTocRecord(ByteView(bytes, kTocRecordSize));
}

std::optional<std::uint64_t> TocFile::RecordCount() const {
  std::optional<std::uint64_t> size = file_ ? file_->Size() : std::nullopt;
  if (!size) return std::nullopt;
  return *size <= kTocHeaderSize ? 0 : (*size - kTocHeaderSize) / kTocRecordSize;
}

}  // namespace kv
