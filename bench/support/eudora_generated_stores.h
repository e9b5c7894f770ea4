#pragma once
// Eudora stores made by the store writer for purposes beyond single tests: the bundled sample
// store (samples/eudora/), the fuzzer's seed corpus, and large stores for benchmarks. All are
// deterministic, so regenerating gives the same bytes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/eudora_store_writer.h"

namespace kv::testing {

// The number an "Embedded Content:" line gives for an image whose HTML reference is
// "cid:<content_id>": the bytes of `content_id` read as one big-endian number, modulo
// 2^31 - 19, plus 1, in eight hexadecimal digits.
std::string EudoraContentIdHash(std::string_view content_id);

// A small, realistic store: received mail in plain text, HTML with an embedded image, converted
// attachments; sent mail with its attachments, a queued message, rich text, a nested folder, a
// folder named in Windows-1252, an empty mailbox, and the attachment and embedded-image folders.
EudoraStore EudoraSampleStore();

// Seed inputs for the fuzzer (tests/fuzz/fuzz_input.h), as file name -> bytes.
std::vector<std::pair<std::string, std::string>> EudoraFuzzSeeds();

struct EudoraStoreTotals {
  std::uint64_t messages = 0;
  std::uint64_t attachments = 0;  // attachment files the messages name, all present
  std::uint64_t file_bytes = 0;   // every file written
};

// Writes a store of nested folders into `dir` whose mailboxes and attachment files add up to at
// least `bytes`: mostly small plain messages, some HTML ones, some with an attachment file of their
// own, a few large ones up to 1 MiB; every summary state. Throws when a file cannot be written.
EudoraStoreTotals WriteEudoraBenchStore(const std::filesystem::path& dir, std::uint64_t bytes);

}  // namespace kv::testing
