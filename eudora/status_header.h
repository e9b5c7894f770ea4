#pragma once
// The scan for the host's own status header, "x-kvnorvale-statusmsg", which the host writes into
// messages it exported. Shared by the Eudora and both Outlook Express filters.

#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace kv {

inline constexpr char kStatusHeaderName[] = "x-kvnorvale-statusmsg";

// Reads the header block of the message file at `path` as text and sets `status_mark` to whether
// the last "x-kvnorvale-statusmsg" field's value (leading blanks removed) begins with "1". Returns
// true when the block ended with an empty line, false when the file ended first or could not be
// read; `status_mark` then keeps what the scan had reached (false for a missing file).
bool ScanStatusHeader(platform::FileSystem& files, const std::string& path, bool& status_mark);

// The same scan over a message's bytes held in memory, read as the file would be in text mode
// (CR LF is a line end, a Ctrl-Z byte ends the text).
bool ScanStatusHeaderText(std::string_view bytes, bool& status_mark);

}  // namespace kv
