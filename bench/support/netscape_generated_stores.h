#pragma once
// Netscape mail directories made by the store writer for purposes beyond single tests: the bundled
// sample (samples/netscape/), the summary fuzzer's seed corpus, and large stores for benchmarks.
// All are deterministic, so regenerating gives the same bytes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/netscape_store_writer.h"

namespace kv::testing {

// A small, realistic mail directory: Inbox with a subfolder two levels deep, Sent, Drafts, an empty
// Trash, a folder with a Windows-1252 name, read, unread, sent and unsent messages.
NsMailDirectory NsSampleStore();

// Seed summaries for the summary fuzzer, as name -> bytes.
std::vector<std::pair<std::string, std::string>> NsFuzzSeeds();

// What a generated store holds: the messages an import must yield and their bytes as stored; of
// those bytes, how many are CR of CR LF line ends and how many the separator lines take.
struct NsStoreTotals {
  std::uint64_t messages = 0;
  std::uint64_t message_bytes = 0;
  std::uint64_t carriage_returns = 0;
  std::uint64_t separator_bytes = 0;
  std::uint64_t file_bytes = 0;
};

// Writes a mail directory of nested folders into `dir` whose messages add up to at least
// `message_bytes`: mostly small messages, some large ones up to 1 MiB, CR LF lines, body lines
// starting with "From ", every state. Message indexes have several levels. Throws when a file
// cannot be written.
NsStoreTotals WriteNsBenchStore(const std::filesystem::path& dir, std::uint64_t message_bytes);

}  // namespace kv::testing
