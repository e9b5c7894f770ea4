#pragma once
// Routines every filter shares: naming temporary message files, the last component of a display
// path, string-table message boxes and the folder browser.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/services.h"

namespace kv {

// The full path of a new, empty temporary file named from `prefix` (up to three characters) in the
// system temporary folder. Empty when none could be created; callers then fail to open it.
std::string MakeTempFileName(platform::TempFiles& temp, std::string_view prefix,
                             std::uint32_t unique = 0);

// The text after the last "/" of `path`, or `path` itself when it holds none ("a/b/" gives "").
std::string LastPathComponent(std::string_view path);

// Shows string `text_id` with caption string `caption_id` in a message box over `owner`; returns
// the button code.
int ShowStringMessage(platform::UserInterface& ui, platform::WindowHandle owner, unsigned text_id,
                      unsigned caption_id, unsigned style);

// Lets the user pick a folder. True with the folder's full path in `result`; false when the user
// cancelled, with `result` untouched.
bool BrowseForFolder(platform::UserInterface& ui, std::string& result, const std::string& title,
                     platform::WindowHandle owner);

}  // namespace kv
