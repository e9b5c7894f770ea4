#include "host/message_identity.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xxhash.h>

#include <string>

namespace kv::host {
namespace {

// A message's identity is the library's XXH3-128 of its bytes whichever way it is computed (held
// in memory, hashed with the processor's widest vectors, or read from its file in pieces), so that
// a re-run on another machine or another path finds what an earlier run wrote. The sizes cross the
// hash's internal boundaries (16, 128, 240 bytes, 64-byte stripes, 1 KiB blocks) and the reading
// piece.
TEST(MessageIdentityTest, EveryPathGivesTheLibrarysHash) {
  std::string bytes;
  for (std::size_t i = 0; bytes.size() < 3 * 1024 * 1024; ++i)
    bytes.push_back(char(i * 131 + i / 7));
  const int file = ::memfd_create("message", MFD_CLOEXEC);
  ASSERT_EQ(::write(file, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  for (std::size_t size :
       {0, 1, 16, 17, 128, 129, 240, 241, 1023, 1024, 1025, 4096 + 63, 1 << 20, 3 * 1024 * 1024}) {
    const std::string_view message = std::string_view(bytes).substr(0, size);
    const XXH128_hash_t expected = XXH3_128bits(message.data(), message.size());
    const MessageIdentity held = IdentifyBytes(message);
    EXPECT_EQ(held.high, expected.high64) << size;
    EXPECT_EQ(held.low, expected.low64) << size;
    EXPECT_EQ(IdentifyMessage(file, message.substr(0, size / 3), size), held) << size;
  }
  ::close(file);
}

}  // namespace
}  // namespace kv::host
