#pragma once
// A registry export as regedit writes it, read into a RegistryTree: "REGEDIT4" files in the ANSI
// code page and "Windows Registry Editor Version 5.00" files in UTF-16LE (a UTF-8 file with either
// header is read too). The tree is the user's registry: the keys under HKEY_CURRENT_USER, or,
// when the export holds none, the one user hive loaded elsewhere (HKEY_USERS\<name> or
// HKEY_LOCAL_MACHINE\<name>), as an export of another machine's NTUSER.DAT loaded into regedit
// looks.
//
// Lines: "[key]" starts a key, "[-key]" removes one; "name"=... and @=... set values:
// "text" (REG_SZ), dword:XXXXXXXX, hex:bytes (REG_BINARY), hex(N):bytes (type N), - (removes
// the value). Hex data may continue over lines that end in "\". In names and text, \\ and \" stand
// for \ and ". Lines starting with ";" are comments. The text is untrusted: a line that does not
// parse is skipped and named in `problems`; only a text that is no export at all is an error.

#include <memory>
#include <string>
#include <vector>

#include "platform/byte_view.h"
#include "platform/environment.h"
#include "platform/stored_registry.h"

namespace kv::platform {

struct RegistryExport {
  std::unique_ptr<RegistryTree> tree;  // null when `error` is set
  std::string error;                   // why the text is no usable export (UTF-8)
  std::vector<std::string> problems;   // lines skipped: "line 12: ..." (UTF-8)
  std::string root;                    // the key the tree stands for: "HKEY_CURRENT_USER"
};

// Reads an export. `code_page` converts an ANSI file's text; `source_name` names the file in
// reports. The tree keeps no reference to `bytes`.
RegistryExport ParseRegistryExport(ByteView bytes, CodePage& code_page,
                                   const std::string& source_name);

}  // namespace kv::platform
