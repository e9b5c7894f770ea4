#include "eudora/eudora_filter.h"

#include <cstdio>

#include "common/folder_select_dlg.h"
#include "common/location_dlg.h"
#include "common/message_files.h"
#include "eudora/eudora_message.h"
#include "eudora/eudora_paths.h"
#include "eudora/profile_file.h"
#include "eudora/status_header.h"
#include "res/strings.h"

namespace kv {
namespace {

constexpr const char* kSettingsFileName = "eudora.ini";
constexpr const char* kSettingsSection = "Settings";
constexpr std::size_t kSettingLength = 255;  // the profile strings' buffers hold 256 characters

// The bytes of the host's message options record the filter sets.
constexpr std::size_t kOptionsPriority = 2;  // 16-bit little-endian priority class
constexpr std::size_t kOptionsLoaded = 63;
constexpr std::size_t kOptionsQp = 65;
constexpr std::size_t kOptionsMime = 66;

// Writes `text` as the whole of a new file, in one call; false when it cannot be written.
bool WriteWholeFile(std::unique_ptr<platform::WritableFile> file, std::string_view text) {
  if (!file) return false;
  const bool written =
      text.empty() || file->Write(std::span<const std::uint8_t>(
                          reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  return file->Close() && written;
}

std::string Plural(std::uint64_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

CEudoraMsgFilter::CEudoraMsgFilter(const platform::Services& services) : services_(services) {
  currentFolder = 0;
}

CEudoraMsgFilter::~CEudoraMsgFilter() = default;

std::string CEudoraMsgFilter::GetName() {
  return std::string(res::LoadString(res::IDS_EUDORA_NAME));
}

void CEudoraMsgFilter::SetParent(std::int32_t window) {
  ImportFilter::SetParent(window);
  parentWindow = static_cast<platform::WindowHandle>(window);
}

bool CEudoraMsgFilter::IsSystemFound() {
  storeRoot = FindEudoraStoreFolder(services_.registry, services_.files);
  for (;;) {
    CLocationDlg location(services_.ui, parentWindow);
    location.m_strBrowseTitle = std::string(res::LoadString(res::IDS_EUDORA_BROWSE_TITLE));
    location.m_strPath = storeRoot;
    if (location.DoModal() != platform::kIdOk) return false;
    storeRoot = location.m_strPath;
    services_.ui.ShowWaitCursor();
    if (LoadFolderMap(services_.files, services_.diagnostics,
                      std::string(res::LoadString(res::IDS_EUDORA_ROOT)), storeRoot, folders)) {
      return VerifyStorage();
    }
    const int answer =
        ShowStringMessage(services_.ui, parentWindow, res::IDS_STORE_NOT_FOUND_BROWSE_AGAIN,
                          res::IDS_APP_TITLE, platform::kMbYesNo | platform::kMbIconQuestion);
    if (answer == platform::kIdNo) return false;
  }
}

bool CEudoraMsgFilter::VerifyStorage() {
  bool complete = !folders.empty();
  for (std::size_t i = 0; complete && i < folders.size(); ++i) {
    complete =
        services_.files.Exists(folders.filePaths[i]) &&
        (!folders.IsMailbox(i) || services_.files.Exists(SummaryPathFor(folders.filePaths[i])));
  }
  if (complete) return true;
  const int answer =
      ShowStringMessage(services_.ui, parentWindow, res::IDS_EUDORA_CORRUPTED, res::IDS_APP_TITLE,
                        platform::kMbYesNo | platform::kMbIconExclamation);
  return answer == platform::kIdYes;
}

void CEudoraMsgFilter::ReadIniOptions() {
  const ProfileFile settings =
      ProfileFile::Read(services_.files, storeRoot + "\\" + kSettingsFileName);
  popAccount = settings.GetString(kSettingsSection, "POPAccount", "", kSettingLength);
  returnAddress = settings.GetString(kSettingsSection, "ReturnAddress", "", kSettingLength);
  realName = settings.GetString(kSettingsSection, "RealName", "", kSettingLength);
  settings.GetInt(kSettingsSection, "Wordwrap", 1);
  qpOption = settings.GetInt(kSettingsSection, "UseQuotedPrintable", 1) != 0 ? 0 : 2;
  mimeOption = settings.GetInt(kSettingsSection, "SendMIME", 1) == 0 ? 1 : 0;
  optionsLoaded = 1;
}

bool CEudoraMsgFilter::GoFirst() {
  skipEmptyFolders = 1;
  CFolderSelectDlg dialog(services_.ui, parentWindow, folders.displayPaths);
  dialog.m_strRoot = std::string(res::LoadString(res::IDS_EUDORA_ROOT));
  dialog.m_bSkipEmpty = skipEmptyFolders;
  if (dialog.DoModal() != platform::kIdOk) return false;

  const int selected = dialog.m_nSelected;
  startPath = selected >= 0 && static_cast<std::size_t>(selected) < folders.size()
                  ? folders.filePaths[static_cast<std::size_t>(selected)]
                  : storeRoot;
  skipEmptyFolders = dialog.m_bSkipEmpty;
  ReadIniOptions();
  FinishMailbox();
  currentFolder = -1;
  messageIndex = -1;
  needFolder = true;
  folderItem = false;
  return GoNext();
}

bool CEudoraMsgFilter::GoNext() {
  services_.ui.ShowWaitCursor();
  hasStatusMark = false;
  std::optional<std::string> text;
  walkEnded = true;
  if (!ExtractNextMessage(text)) return false;
  attachmentCursor = 0;
  if (text)
    ScanStatusHeaderText(std::string_view(*text).substr(MessageFile::kLeadIn.size()),
                         hasStatusMark);
  if (!ConvertMessage(std::move(text))) {
    // A full temporary folder would fail every later message alike.
    CloseMailbox();
    needFolder = true;
    currentFolder = -1;
    return false;
  }
  walkEnded = false;
  if (!ReadTocSummary(folders.filePaths[static_cast<std::size_t>(currentFolder)])) {
    noSummary = true;
  }
  return true;
}

std::int32_t CEudoraMsgFilter::GetItemStatus() {
  return (folderItem ? kItemIsFolder : 0) | (hasStatusMark ? kItemHasStatusMark : 0);
}

std::int32_t CEudoraMsgFilter::GetItemExStatus() {
  std::int32_t state = noSummary ? kStateUnknown : 0;
  if (isReceived) return state | kStateReceived | (isUnread ? kStateUnread : 0);
  return state | (isUnsent ? kStateNotSent : 0);
}

bool CEudoraMsgFilter::OpenMailbox() {
  const std::string& path = folders.filePaths[static_cast<std::size_t>(currentFolder)];
  std::unique_ptr<platform::ReadableFile> file = services_.files.OpenForReading(path);
  if (!file) return false;
  mailbox = std::make_unique<MailboxSplitter>(std::move(file));
  return true;
}

void CEudoraMsgFilter::FinishMailbox() {
  if (mailbox && tocOpened && toc && !tocReported) {
    const std::optional<std::uint64_t> records = toc->RecordCount();
    const std::uint64_t messages = static_cast<std::uint64_t>(messageIndex + 1);
    if (records && *records > messages) {
      const std::string& path = folders.filePaths[static_cast<std::size_t>(currentFolder)];
      Report(platform::DiagnosticKind::kSkipped, SummaryPathFor(path), std::nullopt,
             "the summary lists " + Plural(*records, "message") + ", the mailbox holds " +
                 std::to_string(messages),
             "nothing the mailbox holds; the summary's other entries name messages not in it");
    }
  }
  CloseMailbox();
}

void CEudoraMsgFilter::CloseMailbox() {
  mailbox.reset();
  toc.reset();
  tocOpened = false;
  tocReported = false;
}

bool CEudoraMsgFilter::ExtractNextMessage(std::optional<std::string>& message) {
  message.reset();
  for (;;) {
    if (needFolder) {
      FinishMailbox();
      needFolder = false;
      folderItem = false;
      currentFolder = NextFolderIndex(folders, startPath, currentFolder, skipEmptyFolders);
      messageIndex = -1;
      if (currentFolder >= 0) {
        folderItem = folders.IsSubfolder(static_cast<std::size_t>(currentFolder));
        if (folderItem) {
          needFolder = true;
        } else if (!OpenMailbox()) {
          int later = 0;
          for (int i = currentFolder;
               (i = NextFolderIndex(folders, startPath, i, skipEmptyFolders)) >= 0;) {
            ++later;
          }
          Report(platform::DiagnosticKind::kSkipped,
                 folders.filePaths[static_cast<std::size_t>(currentFolder)], std::nullopt,
                 "mailbox cannot be opened; the import ends here",
                 "this mailbox and " + Plural(later, "later folder") + " of the walk");
          currentFolder = -1;
        }
      }
    }
    if (currentFolder == -1) return false;
    if (folderItem) return true;
    if (!mailbox) {
      // No walk has been set up (GoNext before GoFirst): nothing to read.
      needFolder = true;
      return false;
    }

    const std::string& mailboxPath = folders.filePaths[static_cast<std::size_t>(currentFolder)];
    const std::uint64_t searched_from = mailbox->position();
    const std::optional<std::uint64_t> start = mailbox->FindSeparator();
    if (mailbox->failed()) {
      Report(platform::DiagnosticKind::kSkipped, mailboxPath, mailbox->position(),
             "read error; the import ends here", "the rest of this mailbox and of the walk");
      CloseMailbox();
      needFolder = true;
      return false;
    }
    const std::uint64_t passed_over = (start ? *start : mailbox->position()) - searched_from;
    if (messageIndex == -1 && passed_over > 0) {
      Report(platform::DiagnosticKind::kSkipped, mailboxPath, searched_from,
             start ? "text before the first message separator \"From ???@???\""
                   : "no message separator \"From ???@???\" in the mailbox",
             Plural(passed_over, "byte") + " of text");
    }

    bool written = false;
    bool more = false;
    if (!start) {
      folderItem = true;
    } else {
      std::string text = message_.ReleaseBuffer();
      text.assign(MessageFile::kLeadIn);
      StringSink out(text);
      const MailboxSplitter::Stop stop = mailbox->CopyMessage(out);
      if (stop == MailboxSplitter::Stop::kReadError) {
        Report(platform::DiagnosticKind::kSkipped, mailboxPath, mailbox->position(),
               "read error; the import ends here", "the rest of this mailbox and of the walk");
        CloseMailbox();
        needFolder = true;
        return false;
      }
      if (out.failed()) {
        Report(platform::DiagnosticKind::kSkipped, mailboxPath, *start,
               "message " + std::to_string(messageIndex + 2) + " is too large to be held in memory",
               "the header values and the text of message " + std::to_string(messageIndex + 2));
        text.assign(MessageFile::kLeadIn);
      }
      message = std::move(text);
      ++messageIndex;
      messageStart = *start;
      messageLength = mailbox->position() - *start;
      written = true;
      more = stop == MailboxSplitter::Stop::kSeparator;
    }

    if (written && more) return true;
    needFolder = true;
    if (written || skipEmptyFolders == 0) return true;
  }
}

bool CEudoraMsgFilter::ReadTocSummary(const std::string& mailboxPath) {
  if (messageIndex < 0) return true;
  const std::string tocPath = SummaryPathFor(mailboxPath);
  if (!tocOpened) {
    tocOpened = true;
    std::unique_ptr<platform::ReadableFile> file = services_.files.OpenForReading(tocPath);
    if (file) toc = std::make_unique<TocFile>(std::move(file));
  }
  if (!toc) {
    if (!tocReported) {
      Report(platform::DiagnosticKind::kSkipped, tocPath, std::nullopt,
             "summary file missing or unreadable",
             "whether each message of the mailbox was read, replied to or sent, and its priority");
      tocReported = true;
    }
    return false;
  }
  const std::optional<TocRecord> record = toc->Read(static_cast<std::uint64_t>(messageIndex));
  if (!record) {
    if (!tocReported) {
      Report(platform::DiagnosticKind::kSkipped, tocPath,
             kTocHeaderSize + kTocRecordSize * static_cast<std::uint64_t>(messageIndex),
             "the summary ends before the record of message " + std::to_string(messageIndex + 1),
             "the read, replied and sent state and the priority of message " +
                 std::to_string(messageIndex + 1) + " and every later one of the mailbox");
      tocReported = true;
    }
    return false;
  }
  if (!tocReported && (record->offset != messageStart || record->length != messageLength)) {
    Report(platform::DiagnosticKind::kSkipped, tocPath,
           kTocHeaderSize + kTocRecordSize * static_cast<std::uint64_t>(messageIndex),
           "summary record " + std::to_string(messageIndex + 1) + " places its message at offset " +
               std::to_string(record->offset) + " (" + Plural(record->length, "byte") +
               "), the mailbox has it at " + std::to_string(messageStart) + " (" +
               Plural(messageLength, "byte") + ")",
           "the sure state of this message and the later ones: their summary records may "
           "be other messages'");
    tocReported = true;
  }
  isReceived = record->IsReceived();
  isUnread = record->IsUnread();
  if (record->state > 4) isUnsent = record->IsUnsent();
  priority = record->PriorityClass();
  qpOption = record->QpOption();
  mimeOption = record->MimeOption();
  return true;
}

bool CEudoraMsgFilter::ConvertMessage(std::optional<std::string> text) {
  from.clear();
  sender.clear();
  to.clear();
  cc.clear();
  bcc.clear();
  returnPath.clear();
  subject.clear();
  bodyFile.clear();
  reserved.clear();
  date.clear();
  attachmentCursor = 0;
  attachments.clear();
  htmlFile.clear();
  richFile.clear();
  isUnsent = isReceived = isUnread = noSummary = false;
  if (!text) return true;

  const std::string& mailboxPath = folders.filePaths[static_cast<std::size_t>(currentFolder)];
  MessageFile& message = message_;
  message.Adopt(std::move(*text));
  if (std::optional<std::size_t> nul = message.nulOffset()) {
    Report(platform::DiagnosticKind::kSkipped, mailboxPath, messageStart + *nul,
           "a NUL byte in message " + std::to_string(messageIndex + 1) + " ends its text",
           Plural(message.contentSize() - *nul, "byte") + " of the message after it");
  }
  if (message.fieldsPastLimit() > 0) {
    Report(platform::DiagnosticKind::kSkipped, mailboxPath, messageStart,
           "message " + std::to_string(messageIndex + 1) + " has more than 1000 header fields",
           "the values of " + Plural(message.fieldsPastLimit(), "later field"));
  }

  ConvertedMessage& converted = converted_;
  ConvertMessageText(
      message, LastPathComponent(folders.displayPaths[static_cast<std::size_t>(currentFolder)]),
      converted);
  if (converted.droppedTextBytes > 0) {
    Report(platform::DiagnosticKind::kSkipped, mailboxPath, messageStart,
           "message " + std::to_string(messageIndex + 1) +
               " has text after its first "
               "\"Attachment Converted:\" line",
           Plural(converted.droppedTextBytes, "byte") + " of that text");
  }
  attachments.swap(converted.attachments);
  if (converted.html) {
    htmlFile = WriteSideFile(kHtmlSideFile, *converted.html, /*removeFirst=*/true);
    attachments.push_back(htmlFile);
  }
  // The body file is written straight from the message's own bytes unless an HTML part was cut
  // out of them; a rich-text body goes to its side file and the body says its type is unknown.
  std::string_view bodyText = converted.text();
  if (converted.rich) {
    richFile = WriteSideFile(kRichSideFile, bodyText, /*removeFirst=*/false);
    attachments.push_back(richFile);
    bodyText = res::LoadString(res::IDS_MESSAGE_TYPE_UNKNOWN);
  }
  bodyFile = WriteTempTextFile(bodyText);
  if (bodyFile.empty()) {
    Report(platform::DiagnosticKind::kOutputFailure, services_.temp.TempPath(), std::nullopt,
           "temporary message file cannot be written", "the rest of the walk");
    for (std::string* side : {&htmlFile, &richFile}) {
      if (!side->empty()) DeleteTempFile(*side, true);
      side->clear();
    }
    attachments.clear();
    return false;
  }
  from = std::move(converted.from);
  to = std::move(converted.to);
  subject = std::move(converted.subject);
  date = std::move(converted.date);
  returnPath = std::move(converted.returnPath);
  cc = std::move(converted.cc);
  bcc = std::move(converted.bcc);
  sender = std::move(converted.sender);
  isReceived = converted.isReceived;
  return true;
}

std::string CEudoraMsgFilter::WriteSideFile(const char* name, std::string_view text,
                                            bool removeFirst) {
  const std::string path = services_.temp.TempPath() + name;
  if (removeFirst) DeleteTempFile(path, true);
  if (!WriteWholeFile(services_.files.OpenForWriting(path), text)) {
    Report(platform::DiagnosticKind::kOutputFailure, path, std::nullopt,
           "side file cannot be written",
           "part of message " + std::to_string(messageIndex + 1) + " (" + name + ")");
  }
  return path;
}

std::string CEudoraMsgFilter::WriteTempTextFile(std::string_view text) {
  const std::string path = MakeTempFileName(services_.temp, "");
  if (path.empty()) return {};
  if (!WriteWholeFile(services_.files.OpenForWriting(path), text)) {
    services_.files.Delete(path);
    return {};
  }
  return path;
}

void CEudoraMsgFilter::DeleteTempFile(const std::string& path, bool clearAttributes) {
  // The file systems here let the owner remove a read-only file, so clearing its attributes first
  // comes down to checking that it is there.
  if (clearAttributes && !services_.files.Status(path)) return;
  if (!path.empty()) services_.files.Delete(path);
}

bool CEudoraMsgFilter::GetMessageOptions(_MSG_OPTIONS& record) {
  if (CDefaultOptions::get_DefaultMesOptions(&record) != 0) return false;
  record.bytes[kOptionsPriority] = static_cast<std::uint8_t>(priority & 0xFF);
  record.bytes[kOptionsPriority + 1] = static_cast<std::uint8_t>((priority >> 8) & 0xFF);
  record.bytes[kOptionsLoaded] = optionsLoaded;
  record.bytes[kOptionsQp] = qpOption;
  record.bytes[kOptionsMime] = mimeOption;
  return true;
}

std::string CEudoraMsgFilter::CurrentFolderName() const {
  if (currentFolder < 0 || static_cast<std::size_t>(currentFolder) >= folders.size()) return {};
  return FolderNameOf(folders.displayPaths[static_cast<std::size_t>(currentFolder)]);
}

std::string CEudoraMsgFilter::SubItemText(std::int16_t code) {
  // Once GoNext has returned false the last message's values are no item's.
  if (walkEnded) return {};
  switch (code) {
    case kSubItemFrom:
      return from;
    case kSubItemTo:
      return to;
    case kSubItemSubject:
      return subject;
    case kSubItemBodyFile:
      return bodyFile;
    case kSubItemFolderName:
      return CurrentFolderName();
    case kSubItemSender:
      return sender;
    case kSubItemReturnPath:
      return returnPath;
    case kSubItemCc:
      return cc;
    case kSubItemBcc:
      return bcc;
    case kSubItemDate:
      return date;
    case kSubItemHtmlFile:
      return htmlFile;
    case kSubItemUnknownTypeFile:
      return richFile;
    case kSubItemMessageOptions: {
      _MSG_OPTIONS record;
      if (!GetMessageOptions(record)) return {};
      std::string text;
      text.reserve(record.bytes.size() * 4);
      char number[8];
      for (std::uint8_t byte : record.bytes) {
        std::snprintf(number, sizeof number, "%03x ", static_cast<unsigned>(byte));
        text += number;
      }
      return text;
    }
    case kSubItemNextAttachment:
      if (attachmentCursor < attachments.size()) return attachments[attachmentCursor++];
      return {};
    default:
      return {};
  }
}

AutomationString CEudoraMsgFilter::GetSubItem(std::int16_t code) {
  return services_.code_page.ToUtf8(SubItemText(code));
}

void CEudoraMsgFilter::Report(platform::DiagnosticKind kind, const std::string& file,
                              std::optional<std::uint64_t> offset, std::string problem,
                              std::string lost) {
  services_.diagnostics.Report(
      {kind, CurrentFolderName(), file, offset, std::move(problem), std::move(lost)});
}

}  // namespace kv
