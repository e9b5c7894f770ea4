#pragma once
// The independent DBX reader from the Debian package "undbx", run as a program: what it extracts
// from a store is what the importer must give, byte for byte. Tests skip when it is not installed.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kv::testing {

// Whether the undbx program can be run.
bool UndbxInstalled();

// Runs undbx on `source` (a folder of ".dbx" files or one file), writing into `output`. False when
// it could not be run or failed.
bool RunUndbx(const std::filesystem::path& source, const std::filesystem::path& output);

// The messages undbx extracts from `source`, by the file's name without ".dbx", each folder's
// messages sorted by their bytes (undbx names its files after headers, not in index order).
// nullopt when undbx is not installed or fails.
std::optional<std::map<std::string, std::vector<std::string>>> UndbxMessages(
    const std::filesystem::path& source);

}  // namespace kv::testing
