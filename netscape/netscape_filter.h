#pragma once
// The import filter class SCNetscapeMsgFilter: imports a Netscape Messenger mail directory, one
// mailbox file per folder with its ".snm" summary and ".sbd" subfolder directories.
//
// IsSystemFound finds the mail directory (the profile's registry keys and prefs.js, else the
// location dialog) and builds the sorted folder list; GoFirst lets the user choose the subtree in
// the folder dialog; GoNext then steps folder by folder through the summaries and copies each
// listed message's bytes, exactly as stored, into the filter's one temporary message file (code
// 11), with its folder's display path (code 5). With "Skip Empty Folders" unchecked, a folder that
// lists no message gives one item with status 0x1.
//
// The temporary message file ("RFC" prefix) is made when the object is created, rewritten for every
// message under the same name (so the host must take it before the next GoNext; moving or removing
// it is fine) and deleted when the object is destroyed. The store is only read.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/import_filter.h"
#include "netscape/folder_list.h"
#include "netscape/summary_reader.h"
#include "platform/services.h"

namespace kv {

class SCNetscapeMsgFilter final : public ImportFilter {
 public:
  // Largest piece copied from a mailbox at once.
  static constexpr std::size_t kCopyBufferSize = 512 * 1024;

  explicit SCNetscapeMsgFilter(const platform::Services& services);
  ~SCNetscapeMsgFilter() override;

  std::string GetName() override;
  bool GoFirst() override;
  bool GoNext() override;
  std::int32_t GetItemStatus() override;
  AutomationString GetSubItem(std::int16_t code) override;
  bool IsSystemFound() override;
  std::int32_t GetItemExStatus() override;

  // The path of the temporary message file (empty when none could be made).
  const std::string& TempFilePath() const { return m_strTempFile; }

 private:
  bool BuildFolderList();
  // Copies `length` bytes at `position` of the mailbox `mailbox` into the temporary message file.
  // False, with no file left at the temporary path, when the copy is not whole.
  bool CopyMessageToTemp(const std::string& mailbox, std::uint32_t position, std::uint32_t length);
  std::string SubItemText(std::int16_t code);
  void Report(platform::DiagnosticKind kind, const std::string& file,
              std::optional<std::uint64_t> offset, const std::string& problem,
              const std::string& lost);

  const platform::Services& services_;
  FolderList m_folders;
  std::vector<std::string> m_dialogPaths;
  std::string m_strMailDir;
  std::string m_strRootName;
  bool m_bSkipEmpty = true;
  int m_nStartIndex = 0;
  int m_nCurrentIndex = 0;
  bool m_bNeedNextFolder = true;
  std::string m_strTempFile;
  SummaryReader m_reader;

  // The mailbox of the folder being read stays open between its messages.
  std::unique_ptr<platform::ReadableFile> m_mailbox;
  std::string m_strMailboxPath;
  std::vector<std::uint8_t> m_buffer;
};

}  // namespace kv
