// XXH3-128 compiled for processors with 256-bit vector instructions (AVX2): this file alone is
// built with them (host/CMakeLists.txt), and message_identity.cpp calls it only where the
// processor has them. It includes nothing but xxhash.h, whose functions it makes private to this
// file, so that no function compiled here can stand in for one the rest of the program shares.
// The hash is the same as the library's on every processor; only its speed differs.

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace kv::host {

void Xxh3Hash128WithAvx2(const void* data, size_t size, uint64_t& high, uint64_t& low) {
  const XXH128_hash_t hash = XXH3_128bits(data, size);
  high = hash.high64;
  low = hash.low64;
}

}  // namespace kv::host
