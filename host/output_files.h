#pragma once
// File operations of the writers: placing a handed-over file without ever replacing an existing
// one, trimming, times and folders. Paths are local (UTF-8) paths. Failures come back as values
// with the errno that caused them.

#include <cstdint>
#include <optional>
#include <string>

namespace kv::host {

// The file's length without its trailing NUL bytes (the padding some stores add after a
// message); nullopt when the file cannot be read.
std::optional<std::uint64_t> LengthWithoutTrailingNuls(const std::string& path);

enum class PlaceResult {
  kPlaced,  // `to` now holds the first `length` bytes of `from`
  kExists,  // `to` already existed and was left alone
  kFailed,  // see the errno given back
};

// Puts the first `length` bytes of `from` at the new name `to`: with `may_move`, by renaming when
// both lie on one file system; otherwise by copying into a file created exclusively with mode
// 0600. Never replaces an existing `to`. `from` is left in place when it was copied or nothing was
// done; the caller removes it if it owns it.
PlaceResult PlaceFile(const std::string& from, const std::string& to, std::uint64_t length,
                      bool may_move, int& error);

// Renames within one file system without replacing an existing target.
PlaceResult RenameNoReplace(const std::string& from, const std::string& to, int& error);

// Sets the access and modification times of `path`.
bool SetFileTimes(const std::string& path, std::int64_t unix_seconds);

// Creates `path` and its missing parents as folders. False with errno in `error` when something
// on the way is not a folder or cannot be created.
bool MakeFolders(const std::string& path, int& error);

// Removes a handed-over temporary file; a file that is already gone is fine.
void RemoveHandedOverFile(const std::string& path);

// True when `path` lies inside `folder` once both are resolved (symbolic links, "..").
bool IsInsideFolder(const std::string& path, const std::string& folder);

// "strerror(error)" for messages.
std::string ErrorText(int error);

}  // namespace kv::host
