#pragma once
// The identity of a message in a target folder, so that a second import into the same target adds
// only what is missing: the XXH3-128 hash of the message's bytes as the filter handed them over
// (without the padding the writers drop). It is cheap (it runs at memory speed, far below the cost
// of writing the message) and, at 128 bits, two different messages of one folder never share it in
// practice. Identical messages in one folder are told apart by count: the n-th copy in the walk is
// there when the folder holds at least n copies.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kv::host {

struct MessageIdentity {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  auto operator<=>(const MessageIdentity&) const = default;
  // 32 lower-case hexadecimal digits.
  std::string Hex() const;
};

// Hashes the first `length` bytes of the file at `path`; nullopt when it cannot be read.
std::optional<MessageIdentity> IdentifyMessage(const std::string& path, std::uint64_t length);
// The same for a file open as `fd` whose first bytes `head` holds: only what lies beyond them is
// read.
std::optional<MessageIdentity> IdentifyMessage(int fd, std::string_view head, std::uint64_t length);
// Hashes bytes held in memory.
MessageIdentity IdentifyBytes(std::string_view bytes);

// 32 hexadecimal digits (either case) back to an identity; nullopt for anything else.
std::optional<MessageIdentity> ParseIdentity(std::string_view hex);

// The messages one target folder held before this run, as a multiset of identities.
class MessagesPresent {
 public:
  void Add(const MessageIdentity& identity) { ++counts_[identity]; }
  // True when a copy of the message that no earlier call accounted for is there; that copy is
  // then accounted for.
  bool Take(const MessageIdentity& identity);

 private:
  std::map<MessageIdentity, std::uint64_t> counts_;
};

}  // namespace kv::host
