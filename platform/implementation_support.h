#pragma once
// Building blocks shared by the implementations of the platform services (posix/, win32/, fake/),
// so that they agree on how Windows paths, search patterns, text mode and %VAR% expansion behave.
// Filters do not use this header; they see only the service interfaces.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace kv::platform {

// A Windows-style path taken apart. "\" and "/" both separate; empty and "." components are
// dropped and ".." removes the component before it (never climbing above a root).
struct WindowsPath {
  char drive = 0;       // upper-case drive letter of "X:", 0 when the path has none
  bool rooted = false;  // a separator follows the drive, or starts a path without a drive
  std::vector<std::string> components;
};
WindowsPath ParseWindowsPath(std::string_view path);

// A search pattern split at its last separator: the folder part (without the separator; empty when
// there is none) and the name pattern. "C:\a\*.mbx" gives {"C:\a", "*.mbx"}; "C:\*" gives
// {"C:\", "*"} so that the folder still names the root.
struct SplitSearchPattern {
  std::string folder;
  std::string name;
};
SplitSearchPattern SplitPattern(std::string_view pattern);

// True when `name` contains "*" or "?".
bool HasWildcards(std::string_view name);

// ExpandEnvironmentStringsA's rule over any variable source: each %NAME% whose `lookup` answers is
// replaced by the value; an unknown %NAME% is copied as written, closing "%" included, and
// scanning resumes after it; a "%" without a closing one is copied with the rest of the text.
std::string ExpandPercentVariables(
    std::string_view text,
    const std::function<std::optional<std::string>(const std::string&)>& lookup);

// Turns a file opened in binary mode into the C run-time's text mode: CR LF reads as LF (a lone CR
// stays), and a Ctrl-Z byte ends the file. Tell() and Seek() work on positions of the underlying
// file, as ftell/fseek do in text mode; Size() is the underlying file's size.
std::unique_ptr<ReadableFile> MakeTextModeFile(std::unique_ptr<ReadableFile> binary);

// A FileFinder over entries already collected; sorts them into the directory listing order
// (NameLessIgnoringCase, then bytes, so the order is fixed even for names equal but for case).
// Null when `entries` is empty, as FindFirstFileA fails when nothing matches.
std::unique_ptr<FileFinder> MakeSortedFinder(std::vector<FindEntry> entries);

// Windows gives a name that does not fit the 8.3 form a short alias ("Program Files" is
// "PROGRA~1"), and registry values and configuration files often hold such aliases, while a copied
// store has only the long names. Returns the index of the entry among `names` (in the code page)
// that `alias` stands for, or nullopt when `alias` is no alias or nothing fits. The entries that
// share an alias stem (the first six usable characters, the first three of the extension) are
// numbered ~1, ~2 ... in listing order, since the order they were created in is not known.
std::optional<std::size_t> MatchShortNameAlias(std::string_view alias,
                                               const std::vector<std::string>& names);

enum class CreateAttempt { kCreated, kNameTaken, kFailed };

// GetTempFileNameA's search for a new name: `folder` (a `separator` added when it ends in none) +
// TempFileName(prefix, number), numbers tried from `start` upward within 1..0xFFFF, at most 65535
// tries. `try_create` creates the named file exclusively. nullopt when no file was created.
std::optional<std::string> CreateUniqueTempFile(
    const std::string& folder, std::string_view prefix, std::uint32_t start, char separator,
    const std::function<CreateAttempt(const std::string&)>& try_create);

// `folder` + `name`, with `separator` between them unless `folder` is empty or already ends in
// "\" or "/".
std::string JoinPath(const std::string& folder, std::string_view name, char separator);

}  // namespace kv::platform
