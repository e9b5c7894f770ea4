#pragma once
// The program's string table: user-visible texts loaded by ID, as on Windows through LoadString.
// The same table feeds the Windows resource script (res/resource_script.h).

#include <span>
#include <string>
#include <string_view>

namespace kv::res {

enum StringId : unsigned {
  IDS_OLE_INIT_FAILED = 102,
  IDS_FILE_IO_ERROR = 104,
  IDS_OUT_OF_MEMORY = 105,
  IDS_EUDORA_BROWSE_TITLE = 106,
  IDS_OE_ROOT_LABEL = 107,
  IDS_MESSAGE_TYPE_UNKNOWN = 110,
  IDS_EUDORA_ROOT = 112,
  IDS_EUDORA_CORRUPTED = 113,
  IDS_LOCATION_UNKNOWN = 114,
  IDS_LOCATION_FOUND = 115,
  IDS_EUDORA_NAME = 116,
  IDS_OE4_NAME = 117,
  IDS_OE5_NAME = 118,
  IDS_NETSCAPE_NAME = 119,
  IDS_OE4_BROWSE_TITLE = 120,
  IDS_OE5_BROWSE_TITLE = 123,
  IDS_STORE_NOT_FOUND_BROWSE_AGAIN = 126,
  IDS_NETSCAPE_BROWSE_TITLE = 127,
  IDS_APP_TITLE = 57344,
};

// Returns the text of string `id`, or an empty view when the table has no such string.
std::string_view LoadString(unsigned id);

struct StringEntry {
  unsigned id;
  std::string_view text;
};
// Every string of the table, in ascending ID order.
std::span<const StringEntry> StringTable();

}  // namespace kv::res
