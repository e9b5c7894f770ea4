#pragma once
// Finding the Outlook Express 5 store of the current identity in the registry.

#include <string>

#include "platform/services.h"

namespace kv {

inline constexpr const char* kOe5IdentitiesKey = "Identities";
inline constexpr const char* kOe5LastUserValue = "Last User ID";
// The identity's key is "Identities\<id>\Software\Microsoft\Outlook Express\5.0".
inline constexpr const char* kOe5IdentityKeySuffix = "\\Software\\Microsoft\\Outlook Express\\5.0";

// The store root the registry names for the current identity: "Last User ID" under "Identities",
// then the value of that identity's key whose name, lower-cased, is "store root", with environment
// references expanded and one trailing backslash removed. Empty when any step finds nothing (or
// enumeration fails first: a value too large for the enumeration's buffers ends it). Keys are
// closed before returning.
std::string FindStoreRoot(platform::Registry& registry, platform::Environment& environment);

}  // namespace kv
