#pragma once
// Dates of mail headers: the Internet message format's date-time, its obsolete forms and the forms
// old mail programs wrote.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv::host {

// Seconds since 1970-01-01 00:00 UTC for a Date or Received date text. Accepts an optional
// day-of-week, "d Mon yyyy" (also "d-Mon-yyyy"), two- and three-digit years (obsolete forms),
// "hh:mm" or "hh:mm:ss", zones as +hhmm, +hh:mm, UT, GMT, Z, the North American names, military
// letters (taken as +0000) or none (UTC), and comments in parentheses; also the C library's
// "Wdy Mon dd hh:mm:ss yyyy" form. nullopt for anything else, or fields out of range.
std::optional<std::int64_t> ParseMailDate(std::string_view text);

// The C library's asctime form of a UTC time, without line end: "Sat Dec  5 21:13:05 2026".
std::string AsctimeUtc(std::int64_t unix_seconds);

}  // namespace kv::host
