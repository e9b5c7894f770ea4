#pragma once
// Outlook Express 4 stores made by the store writer for purposes beyond single tests: the bundled
// sample store (samples/oe4/), the fuzzer's seed corpus, and large stores for benchmarks. All are
// deterministic, so regenerating gives the same bytes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/oe4_store_writer.h"

namespace kv::testing {

// A small, realistic store: nested folders, a folder with a Windows-1252 name, messages in every
// state, a deleted record, an empty folder, an unused folder record and one message carrying the
// host's status header.
Oe4Store Oe4SampleStore();

// Seed inputs for the fuzzer (tests/fuzz/fuzz_input.h), as file name -> bytes.
std::vector<std::pair<std::string, std::string>> Oe4FuzzSeeds();

// What a generated store holds: the messages an import must yield (deleted records left out) and
// the size of the files written.
struct Oe4StoreTotals {
  std::uint64_t messages = 0;
  std::uint64_t message_bytes = 0;
  std::uint64_t crlf_pairs = 0;  // CR LF line ends in those messages (LF alone in a Maildir)
  std::uint64_t file_bytes = 0;
};

// Writes a store of nested folders into `dir` whose message texts add up to at least
// `message_bytes`: mostly small messages, some large ones up to 1 MiB, CR LF lines, body lines
// starting with "From ", every state and some deleted records. Throws when a file cannot be
// written.
Oe4StoreTotals WriteOe4BenchStore(const std::filesystem::path& dir, std::uint64_t message_bytes);

}  // namespace kv::testing
