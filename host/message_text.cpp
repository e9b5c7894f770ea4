#include "host/message_text.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "app/import_filter.h"
#include "host/folder_names.h"

namespace kv::host {
namespace {

// The conversion of a whole message looks at this many bytes at once: the CRs among them make one
// 64-bit mask.
constexpr std::size_t kBlock = 64;

#if defined(__SSE2__)
// The CRs among the kBlock bytes at `block`, bit i standing for block[i].
std::uint64_t CrBits(const char* block) {
  const __m128i crs = _mm_set1_epi8('\r');
  std::uint64_t bits = 0;
  for (std::size_t k = 0; k < kBlock / 16; ++k) {
    __m128i bytes;
    std::memcpy(&bytes, block + 16 * k, sizeof bytes);
    const auto found = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, crs)));
    bits |= static_cast<std::uint64_t>(found) << (16 * k);
  }
  return bits;
}
#else
std::uint64_t CrBits(const char* block) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    if (block[i] == '\r') bits |= std::uint64_t{1} << i;
  }
  return bits;
}
#endif

// The conversion of whole blocks, with `bits` finding the CRs of a block. Always inlined, so that
// each caller's instruction set shapes it (the block copies above all).
template <std::uint64_t (*bits)(const char*)>
[[gnu::always_inline]] inline std::size_t CrLfToLfBlocks(const char* const from, std::size_t size,
                                                         char* const to, std::size_t& in) {
  std::size_t length = 0;
  // A block at a time while another whole block follows it. Each piece up to a dropped CR, and the
  // rest of the block after the last one, is copied as a whole block (a few wide moves instead of a
  // copy of its exact length); what lands past the piece's end is overwritten by the next piece.
  // Such a copy reads at most to the end of the following block and writes no further than it
  // reads, as the output never gets ahead of the input.
  while (size - in >= 2 * kBlock) {
    const char* const block = from + in;
    std::uint64_t crs = bits(block);
    std::size_t start = 0;
    while (crs != 0) {
      const auto cr = static_cast<std::size_t>(std::countr_zero(crs));
      crs &= crs - 1;
      if (block[cr + 1] != '\n') continue;  // a lone CR stays
      std::memcpy(to + length, block + start, kBlock);
      length += cr - start;
      start = cr + 1;
    }
    std::memcpy(to + length, block + start, kBlock);
    length += kBlock - start;
    in += kBlock;
  }
  return length;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KV_HAS_AVX2_PATH 1
// The same with 256-bit vectors, for processors that have them (checked before the call): two
// compares per block, and each block copy two moves instead of four.
[[gnu::target("avx2")]] std::uint64_t CrBitsAvx2(const char* block) {
  const __m256i crs = _mm256_set1_epi8('\r');
  __m256i low, high;
  std::memcpy(&low, block, sizeof low);
  std::memcpy(&high, block + 32, sizeof high);
  const auto low_bits =
      static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, crs)));
  const auto high_bits =
      static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, crs)));
  return low_bits | static_cast<std::uint64_t>(high_bits) << 32;
}

[[gnu::target("avx2")]] std::size_t CrLfToLfBlocksAvx2(const char* from, std::size_t size, char* to,
                                                       std::size_t& in) {
  return CrLfToLfBlocks<CrBitsAvx2>(from, size, to, in);
}
#endif

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

void LineEndConverter::Feed(std::string_view piece, std::string& out) {
  if (!to_lf_) {
    out.append(piece);
    return;
  }
  std::size_t pos = 0;
  if (pending_cr_ && !piece.empty()) {
    pending_cr_ = false;
    if (piece.front() != '\n') out.push_back('\r');
  }
  while (pos < piece.size()) {
    const std::size_t cr = piece.find('\r', pos);
    if (cr == std::string_view::npos) {
      out.append(piece.substr(pos));
      return;
    }
    out.append(piece.substr(pos, cr - pos));
    if (cr + 1 == piece.size()) {
      pending_cr_ = true;
      return;
    }
    if (piece[cr + 1] != '\n') out.push_back('\r');
    pos = cr + 1;
  }
}

std::string_view CrLfToLf(std::string_view bytes, std::vector<char>& out) {
  if (out.size() < bytes.size()) out.resize(bytes.size());
  return std::string_view(out.data(), CrLfToLf(bytes, out.data()));
}

bool HasWideVectors() {
#if defined(KV_HAS_AVX2_PATH)
  static const bool has_avx2 = __builtin_cpu_supports("avx2");
  return has_avx2;
#else
  return false;
#endif
}

std::size_t CrLfToLf(std::string_view bytes, char* const to) {
  return CrLfToLf(bytes, to, HasWideVectors());
}

std::size_t CrLfToLf(std::string_view bytes, char* const to, bool wide_vectors) {
  const std::size_t size = bytes.size();
  const char* const from = bytes.data();
  std::size_t in = 0;
#if defined(KV_HAS_AVX2_PATH)
  std::size_t length = wide_vectors && HasWideVectors()
                           ? CrLfToLfBlocksAvx2(from, size, to, in)
                           : CrLfToLfBlocks<CrBits>(from, size, to, in);
#else
  (void)wide_vectors;
  std::size_t length = CrLfToLfBlocks<CrBits>(from, size, to, in);
#endif
  for (; in < size; ++in) {
    if (from[in] != '\r' || in + 1 == size || from[in + 1] != '\n') to[length++] = from[in];
  }
  return length;
}

void LineEndConverter::Finish(std::string& out) {
  if (pending_cr_) out.push_back('\r');
  pending_cr_ = false;
}

std::string MboxStateHeaders(std::int32_t state, std::string_view line_end) {
  std::string headers;
  auto line = [&](std::string_view text) {
    headers += text;
    headers += line_end;
  };
  if ((state & kStateReceived) != 0) {
    line((state & kStateUnread) != 0 ? "Status: O" : "Status: RO");
  } else if ((state & kStateNotSent) != 0) {
    line("Status: RO");
    line("X-Status: T");
  } else {
    line("Status: RO");
  }
  return headers;
}

void StateHeaderWriter::EndLine(std::string& out) {
  const bool blank = line_ == "\n" || line_ == "\r\n";
  if (blank) {
    out += MboxStateHeaders(state_, line_ == "\n" ? "\n" : "\r\n");
    out += line_;
    in_body_ = true;
  } else {
    const bool continuation = line_[0] == ' ' || line_[0] == '\t';
    if (!continuation) {
      dropping_ =
          StartsWithIgnoringCase(line_, "Status:") || StartsWithIgnoringCase(line_, "X-Status:");
    }
    if (!dropping_) out += line_;
  }
  line_.clear();
}

void StateHeaderWriter::Feed(std::string_view piece, std::string& out) {
  std::size_t pos = 0;
  while (pos < piece.size() && !in_body_) {
    const std::size_t end = piece.find('\n', pos);
    if (end == std::string_view::npos) {
      line_.append(piece.substr(pos));
      return;
    }
    line_.append(piece.substr(pos, end + 1 - pos));
    pos = end + 1;
    EndLine(out);
  }
  out.append(piece.substr(pos));
}

void StateHeaderWriter::Finish(std::string& out) {
  if (in_body_) return;
  // All header block: the last line gets its line end, then the state headers follow it.
  if (!line_.empty()) {
    line_.push_back('\n');
    EndLine(out);
  }
  out += MboxStateHeaders(state_, "\n");
  in_body_ = true;
}

}  // namespace kv::host
