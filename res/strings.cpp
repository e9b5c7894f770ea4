#include "res/strings.h"

#include <array>

namespace kv::res {
namespace {

constexpr std::array<StringEntry, 19> kStrings{{
    {IDS_OLE_INIT_FAILED,
     "OLE initialization failed.  Make sure that the OLE libraries are the correct version."},
    {IDS_FILE_IO_ERROR, "File I/O Error. Hard disk can be full."},
    {IDS_OUT_OF_MEMORY, "Out of memory"},
    {IDS_EUDORA_BROWSE_TITLE, "Please select Eudora messages location"},
    {IDS_OE_ROOT_LABEL, "Outlook Express"},
    {IDS_MESSAGE_TYPE_UNKNOWN, "Message type was not recognized.\nMessage saved as attachment."},
    {IDS_EUDORA_ROOT, "Eudora"},
    {IDS_EUDORA_CORRUPTED,
     "Talvon has detected that Eudora message storage is corrupted.\nDo you want to continue "
     "anyway?"},
    {IDS_LOCATION_UNKNOWN,
     "Talvon cannot determine the system location. Please select it manually."},
    {IDS_LOCATION_FOUND, "Talvon has determined that your messages are located in "},
    {IDS_EUDORA_NAME, "Qualcomm Eudora Pro or Light (through v4.13)"},
    {IDS_OE4_NAME, "Microsoft Outlook Express 4"},
    {IDS_OE5_NAME, "Microsoft Outlook Express 5"},
    {IDS_NETSCAPE_NAME, "Netscape Messenger 4.7"},
    {IDS_OE4_BROWSE_TITLE, "Please select location for Outlook Express 4"},
    {IDS_OE5_BROWSE_TITLE, "Please select location for Outlook Express 5"},
    {IDS_STORE_NOT_FOUND_BROWSE_AGAIN,
     "Message storage is corrupted or cannot be found.\nWould you like to browse for another "
     "message storage?"},
    {IDS_NETSCAPE_BROWSE_TITLE, "Please select location for Netscape Messenger 4.7"},
    {IDS_APP_TITLE, "Import messages"},
}};

}  // namespace

std::string_view LoadString(unsigned id) {
  for (const StringEntry& entry : kStrings) {
    if (entry.id == id) return entry.text;
  }
  return {};
}

std::span<const StringEntry> StringTable() { return kStrings; }

}  // namespace kv::res
