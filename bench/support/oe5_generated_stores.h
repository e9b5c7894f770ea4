#pragma once
// Outlook Express 5 stores made by the DBX writer for purposes beyond single tests: the bundled
// sample store (samples/oe5/), the fuzzer's seed corpus, and large stores for benchmarks. All are
// deterministic, so regenerating gives the same bytes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/dbx_writer.h"

namespace kv::testing {

// A small, realistic store: the local folders with nested folders, a folder with a Windows-1252
// name, messages in every state (one long enough for several blocks, one carrying the host's
// status header), an empty folder, a folder whose file is missing, a news account's folder outside
// the local folders, and an index of more than one level.
DbxStore Oe5SampleStore();

// Seed inputs for the fuzzer (tests/fuzz/fuzz_input.h), as name -> bytes.
std::vector<std::pair<std::string, std::string>> Oe5FuzzSeeds();

// What a generated store holds.
struct Oe5StoreTotals {
  std::uint64_t messages = 0;
  std::uint64_t folders = 0;  // folder files
  std::uint64_t message_bytes = 0;
  std::uint64_t carriage_returns = 0;  // in the messages: kvimport writes LF line ends
  std::uint64_t file_bytes = 0;
};

// Writes a store of nested folders into `dir` whose message texts add up to at least
// `message_bytes`: mostly messages of a few kilobytes, some up to 1 MiB, CR LF lines, every state.
// Its index trees are chains of left children of up to 100 entries a node, which the independent
// reader reads the same way (it takes a node's entry count as a signed byte). Throws when a file
// cannot be written.
Oe5StoreTotals WriteOe5BenchStore(const std::filesystem::path& dir, std::uint64_t message_bytes);

}  // namespace kv::testing
