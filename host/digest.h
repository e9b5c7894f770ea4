#pragma once
// SHA-256 of a file's bytes, for the listing of what a filter handed over.

#include <cstdint>
#include <optional>
#include <string>

namespace kv::host {

struct FileDigest {
  std::uint64_t size = 0;
  std::string sha256_hex;  // 64 lower-case hexadecimal digits
};

// Reads the file at the local path `path`; nullopt when it cannot be opened or read.
std::optional<FileDigest> DigestFile(const std::string& path);

}  // namespace kv::host
