#pragma once
// How a folder's display path ("Inbox/Old", UTF-8) becomes names on disk in each output format.

#include <string>
#include <string_view>
#include <vector>

namespace kv::host {

// Compares without regard to ASCII case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The levels of a display path: split at "/", empty levels left out.
std::vector<std::string> FolderLevels(std::string_view display_path);

// IMAP's modified UTF-7 for a UTF-8 name: printable ASCII stays, "&" becomes "&-", every other
// run of characters is UTF-16 in base64 (with "," for "/") between "&" and "-". Bytes that are not
// valid UTF-8 count as U+FFFD.
std::string ModifiedUtf7(std::string_view utf8);

// The Maildir++ folder directory for a display path, relative to the Maildir root: "" for the
// folder `inbox` (compared ignoring ASCII case), which is the INBOX kept in the root; ".INBOX.x"
// for the levels below it; ".A.B" for any other A/B; "._" for a path without levels (a folder
// without a name), as the other formats name it "_". Each level is encoded with ModifiedUtf7
// after "." (the hierarchy separator) became "_" and a leading "~" became "_". A name longer
// than a file system allows is shortened the same way on every run: once the name passes 200
// bytes, each further level keeps the start of its name and gains "~" and eight hexadecimal digits
// of a hash of the display path down to it (so a folder and those below it agree on the levels
// they share); levels too deep for 255 bytes even so become one such level. `shortened`, when
// given, says whether this happened.
std::string MaildirFolderDirectory(std::string_view display_path, std::string_view inbox,
                                   bool* shortened = nullptr);

// A level as a file or directory name: "/" and control characters become "_", "." and ".." become
// "_" and "__", an empty level "_", and a name ending in `reserved_suffix` (ignoring ASCII case)
// gains a "_" so that it cannot clash with the files the writer names with that suffix. A name
// too long for a file system keeps its first 200 bytes (whole UTF-8 characters) and gains "~" and
// eight hexadecimal digits of a hash of the whole name.
std::string SafeFileName(std::string_view level, std::string_view reserved_suffix);

}  // namespace kv::host
