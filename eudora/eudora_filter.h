#pragma once
// The import filter class CEudoraMsgFilter: imports a Eudora store (up to version 4.13), a tree of
// folders each with a folder map "descmap.pce", text mailboxes (".mbx") with binary summaries
// (".toc") beside them, and the settings file "eudora.ini".
//
// IsSystemFound takes the store folder from Eudora's command line in the registry, lets the user
// confirm or change it (the location dialog is shown every time), loads the folder maps and checks
// that every listed file exists. GoFirst lets the user choose the folder to start from; each
// GoNext then splits the next message off its mailbox and takes it apart: the host gets header
// values, the body text and the HTML part as files, the attachment paths one by one, and the
// message's state from the summary. What the walk cannot hand over (a mailbox that cannot be read,
// a summary that does not match its mailbox, text cut off) is reported to the diagnostics service.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/import_filter.h"
#include "app/kernel_library.h"
#include "eudora/eudora_folders.h"
#include "eudora/eudora_mailbox.h"
#include "eudora/eudora_message.h"
#include "eudora/eudora_toc.h"
#include "platform/services.h"

namespace kv {

// The fixed names of the side files written into the temporary folder for every message that has
// an HTML part or a body of unrecognised type; each message's file replaces the previous one's.
inline constexpr const char* kHtmlSideFile = "text.htm";
inline constexpr const char* kRichSideFile = "text.msg";

class CEudoraMsgFilter final : public ImportFilter {
 public:
  explicit CEudoraMsgFilter(const platform::Services& services);
  ~CEudoraMsgFilter() override;

  std::string GetName() override;
  bool GoFirst() override;
  bool GoNext() override;
  std::int32_t GetItemStatus() override;
  AutomationString GetSubItem(std::int16_t code) override;
  bool IsSystemFound() override;
  std::int32_t GetItemExStatus() override;
  void SetParent(std::int32_t window) override;

 private:
  // True when the store is complete or the user chose to continue with what is there.
  bool VerifyStorage();
  void ReadIniOptions();
  // Moves to the next item; for a message, sets `message` to its text (MessageFile::kLeadIn
  // followed by the message with CR LF line ends), else leaves it empty.
  bool ExtractNextMessage(std::optional<std::string>& message);
  bool OpenMailbox();
  // Says what the summary did not cover once a mailbox is finished, then forgets the mailbox.
  void FinishMailbox();
  void CloseMailbox();
  bool ReadTocSummary(const std::string& mailboxPath);
  // Takes the message apart and writes its body and side files; false when the body file cannot
  // be written (reported).
  bool ConvertMessage(std::optional<std::string> text);
  bool GetMessageOptions(_MSG_OPTIONS& record);
  std::string WriteTempTextFile(std::string_view text);
  void DeleteTempFile(const std::string& path, bool clearAttributes);
  // Writes a side file with a fixed name; the path even when it could not be written.
  std::string WriteSideFile(const char* name, std::string_view text, bool removeFirst);
  std::string SubItemText(std::int16_t code);
  std::string CurrentFolderName() const;
  void Report(platform::DiagnosticKind kind, const std::string& file,
              std::optional<std::uint64_t> offset, std::string problem, std::string lost);

  const platform::Services& services_;

  std::string storeRoot;
  EudoraFolderLists folders;  // displayPaths, filePaths, folderTypes
  std::string popAccount, returnAddress, realName;
  std::string startPath;
  int currentFolder = 0;
  int messageIndex = -1;
  int skipEmptyFolders = 1;
  bool needFolder = false;
  std::unique_ptr<MailboxSplitter> mailbox;
  bool folderItem = false;
  bool hasStatusMark = false;
  bool walkEnded = false;  // GoNext returned false: there is no current item
  std::string from, sender, to, cc, bcc, returnPath, subject, bodyFile, reserved, date;
  std::size_t attachmentCursor = 0;
  std::vector<std::string> attachments;
  std::string htmlFile, richFile;
  bool isUnsent = false, isReceived = false, isUnread = false, noSummary = false;
  std::int32_t priority = 0;
  std::uint8_t optionsLoaded = 0, qpOption = 0, mimeOption = 0;
  platform::WindowHandle parentWindow = 0;

  // Where the current message lies in its mailbox, and the mailbox's summary while it is read.
  std::uint64_t messageStart = 0;
  std::uint64_t messageLength = 0;
  std::unique_ptr<TocFile> toc;
  bool tocOpened = false;
  bool tocReported = false;

  // The current message and what it gives, kept from message to message so that their memory
  // serves every message.
  MessageFile message_;
  ConvertedMessage converted_;
};

}  // namespace kv
