#pragma once
// Finding the mail directory of the current Netscape Messenger user profile from the client's own
// registry keys and preference file. Nothing is shown and nothing is written; each registry key is
// closed right after its value is read.

#include <string>

#include "platform/file_system.h"
#include "platform/registry.h"

namespace kv {

inline constexpr const char* kNetscapeBiffKey = "Software\\Netscape\\Netscape Navigator\\biff";
inline constexpr const char* kNetscapeUsersKey =
    "Software\\Netscape\\Netscape Navigator\\biff\\users";
inline constexpr const char* kNetscapeMainKey = "Software\\Netscape\\Netscape Navigator\\Main";

// The value `name` of the open `key` as text, cut at its first NUL; empty when it is missing. The
// value's registry type is not checked.
std::string ReadRegString(platform::Registry& registry, platform::RegistryKey key,
                          const std::string& name);

// The mail directory, or empty when no candidate is accepted. Candidates, in order: the folder of
// the default server's "popstatePath"; the "mail.directory" preference of the profile's prefs.js
// (lower-cased, escapes left as written); the profile's "Mail" folder under the installation's
// "Users" folder. Without the "biff" key, or without the "Main" key once the first candidate
// failed, nothing else is tried.
std::string NetscapeProfileLocator(platform::Registry& registry, platform::FileSystem& files);

}  // namespace kv
