#include "host/message_identity.h"

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "host/message_text.h"
#include "host/output_files.h"

namespace kv::host {

// In message_identity_avx2.cpp; only for processors with AVX2.
void Xxh3Hash128WithAvx2(const void* data, std::size_t size, std::uint64_t& high,
                         std::uint64_t& low);

namespace {

constexpr std::size_t kReadPiece = 256 * 1024;
constexpr std::size_t kHexDigits = 32;

MessageIdentity FromHash(const XXH128_hash_t& hash) { return {hash.high64, hash.low64}; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string MessageIdentity::Hex() const {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(kHexDigits, '0');
  for (std::size_t i = 0; i < 16; ++i) {
    text[15 - i] = kHex[(high >> (4 * i)) & 0xF];
    text[31 - i] = kHex[(low >> (4 * i)) & 0xF];
  }
  return text;
}

std::optional<MessageIdentity> IdentifyMessage(const std::string& path, std::uint64_t length) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return std::nullopt;
  return IdentifyMessage(file.get(), {}, length);
}

std::optional<MessageIdentity> IdentifyMessage(int fd, std::string_view head,
                                               std::uint64_t length) {
  if (head.size() >= length) return IdentifyBytes(head.substr(0, static_cast<std::size_t>(length)));
  std::unique_ptr<XXH3_state_t, XXH_errorcode (*)(XXH3_state_t*)> state(XXH3_createState(),
                                                                        &XXH3_freeState);
  if (!state || XXH3_128bits_reset(state.get()) != XXH_OK) return std::nullopt;
  XXH3_128bits_update(state.get(), head.data(), head.size());
  std::vector<char> buffer;
  std::uint64_t done = head.size();
  while (done < length) {
    if (buffer.empty()) {
      buffer.resize(static_cast<std::size_t>(std::min<std::uint64_t>(length - done, kReadPiece)));
    }
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
    ssize_t count = ::pread(fd, buffer.data(), want, static_cast<off_t>(done));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return std::nullopt;
    XXH3_128bits_update(state.get(), buffer.data(), static_cast<std::size_t>(count));
    done += static_cast<std::uint64_t>(count);
  }
  return FromHash(XXH3_128bits_digest(state.get()));
}

MessageIdentity IdentifyBytes(std::string_view bytes) {
  // Whole messages are hashed with 256-bit vectors where the processor has them: about twice as
  // fast as the library, which is built for every x86-64 processor.
  if (HasWideVectors()) {
    MessageIdentity identity;
    Xxh3Hash128WithAvx2(bytes.data(), bytes.size(), identity.high, identity.low);
    return identity;
  }
  return FromHash(XXH3_128bits(bytes.data(), bytes.size()));
}

std::optional<MessageIdentity> ParseIdentity(std::string_view hex) {
  if (hex.size() != kHexDigits) return std::nullopt;
  MessageIdentity identity;
  for (std::size_t i = 0; i < kHexDigits; ++i) {
    int value = HexValue(hex[i]);
    if (value < 0) return std::nullopt;
    std::uint64_t& half = i < 16 ? identity.high : identity.low;
    half = (half << 4) | static_cast<std::uint64_t>(value);
  }
  return identity;
}

bool MessagesPresent::Take(const MessageIdentity& identity) {
  auto found = counts_.find(identity);
  if (found == counts_.end() || found->second == 0) return false;
  --found->second;
  return true;
}

}  // namespace kv::host
