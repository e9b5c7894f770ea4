#pragma once
// The import filter class SCOE5MsgFilter: imports the Outlook Express 5 store of the current
// identity, "Folders.dbx" and one ".dbx" file per folder.
//
// IsSystemFound finds the store root (registry, else the location dialog) and loads the folder
// records; GoFirst prepares the sorted folder list, lets the user choose the start folder in the
// folder dialog, and GoFirst/GoNext then walk that folder and every folder sorted after it whose
// path begins with its path, handing over one temporary message file (code 11) per message with
// its folder's display path (code 5). With "Skip Empty Folders" cleared, each folder also yields a
// folder item (status 0x1) after its last message.
//
// A message's state comes from its record's flags (0x80 read, 0x08 unsent) and from whether its
// header block has a Return-Path header (received). A message record that cannot be extracted ends
// its folder; a temporary file that cannot be written ends the walk. Both are reported through the
// diagnostics service, as is everything else the store holds and the walk leaves out.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/import_filter.h"
#include "eudora/message_header_scan.h"
#include "netscape/folder_list.h"
#include "oe5/dbx_file.h"
#include "platform/services.h"

namespace kv {

class SCOE5MsgFilter final : public ImportFilter {
 public:
  explicit SCOE5MsgFilter(const platform::Services& services);

  std::string GetName() override;
  bool GoFirst() override;
  bool GoNext() override;
  std::int32_t GetItemStatus() override;
  AutomationString GetSubItem(std::int16_t code) override;
  bool IsSystemFound() override;
  std::int32_t GetItemExStatus() override;

 private:
  enum class Extraction { kMessage, kFolderEnd, kOutputFailed };

  bool AdvanceMessage();
  void ReadMessageIndex(int folder);
  // Copies the message's text into a new temporary file, reading its header block on the way.
  Extraction ExtractMessage(int folder, std::size_t index, std::string& path,
                            MessageHeaderScan& header);
  std::string SubItemText(std::int16_t code);

  const platform::Services& services_;
  bool skipEmptyFolders = false;
  std::string storeRoot;
  int startIndex = 0;
  int currentFolder = -1;  // negative while no walk is under way
  std::size_t messageIndex = 0;
  bool needFolder = false;
  std::vector<FolderRecord> loadedFolders;  // as LoadFolders read them
  std::vector<std::uint32_t> messageOffsets;
  FolderList folders;  // prepared by GoFirst
  std::vector<std::string> dialogPaths;
  std::optional<dbx::DbxFile> folderFile;  // the current folder's file while its messages are read
  std::string messageFile;
  bool folderItem = false;
  bool isUnsent = false;
  bool isReceived = false;
  bool isUnread = false;
  bool hasStatusMark = false;
  bool walkEnded = false;  // GoNext returned false: there is no current item
};

}  // namespace kv
