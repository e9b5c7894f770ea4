#include "netscape/netscape_filter.h"

#include <algorithm>
#include <new>

#include "common/folder_select_dlg.h"
#include "common/location_dlg.h"
#include "common/message_files.h"
#include "common/sub_item_guard.h"
#include "netscape/netscape_folder_walk.h"
#include "netscape/netscape_profile.h"
#include "res/strings.h"

namespace kv {
namespace {

constexpr const char* kTempPrefix = "RFC";
constexpr const char* kSummaryExtension = ".snm";

}  // namespace

SCNetscapeMsgFilter::SCNetscapeMsgFilter(const platform::Services& services)
    : services_(services),
      m_strRootName(res::LoadString(res::IDS_NETSCAPE_NAME)),
      m_strTempFile(MakeTempFileName(services.temp, kTempPrefix)),
      m_reader(services.files, services.diagnostics) {
  if (m_strTempFile.empty()) {
    Report(platform::DiagnosticKind::kOutputFailure, services.temp.TempPath(), std::nullopt,
           "the temporary message file cannot be created", "every message");
  }
}

SCNetscapeMsgFilter::~SCNetscapeMsgFilter() {
  m_mailbox.reset();
  if (!m_strTempFile.empty()) services_.files.Delete(m_strTempFile);
  m_reader.Close();
}

std::string SCNetscapeMsgFilter::GetName() {
  return std::string(res::LoadString(res::IDS_NETSCAPE_NAME));
}

void SCNetscapeMsgFilter::Report(platform::DiagnosticKind kind, const std::string& file,
                                 std::optional<std::uint64_t> offset, const std::string& problem,
                                 const std::string& lost) {
  const FolderRecord* record = m_folders.At(m_nCurrentIndex);
  services_.diagnostics.Report(
      {kind, record != nullptr ? record->path : std::string(), file, offset, problem, lost});
}

bool SCNetscapeMsgFilter::IsSystemFound() {
  m_strMailDir = NetscapeProfileLocator(services_.registry, services_.files);
  return FindStoreWithUser(services_.ui, parent(), res::IDS_NETSCAPE_BROWSE_TITLE, m_strMailDir,
                           [this](const std::string& path) {
                             m_strMailDir = path;
                             return BuildFolderList() ? StoreLoad::kLoaded : StoreLoad::kNotFound;
                           })
      .has_value();
}

bool SCNetscapeMsgFilter::BuildFolderList() {
  services_.ui.ShowWaitCursor();
  m_reader.Close();
  m_mailbox.reset();
  const bool found = BuildNetscapeFolderList(services_.files, services_.diagnostics, m_strMailDir,
                                             m_strRootName, m_folders);
  m_dialogPaths = m_folders.DialogPaths();
  m_nCurrentIndex = 0;
  return found;
}

bool SCNetscapeMsgFilter::GoFirst() {
  m_bSkipEmpty = true;
  CFolderSelectDlg dialog(services_.ui, parent(), m_dialogPaths);
  dialog.m_strRoot = m_strRootName;
  dialog.m_bSkipEmpty = 1;
  if (dialog.DoModal() != platform::kIdOk) return false;
  m_bSkipEmpty = dialog.m_bSkipEmpty != 0;
  m_nStartIndex = RecordIndexForSelection(dialog.m_nSelected);
  m_nCurrentIndex = 0;
  m_bNeedNextFolder = true;
  // A walk begun before starts over: nothing of its folder carries into this one.
  m_reader.Close();
  m_mailbox.reset();
  return GoNext();
}

bool SCNetscapeMsgFilter::GoNext() {
  // After the last folder the walk stays finished; searching again from -1 would start over.
  if (m_nCurrentIndex < 0) return false;
  services_.ui.ShowWaitCursor();
  bool message = false;
  if (!m_bNeedNextFolder) {
    if (m_reader.NextMessage(false)) {
      message = true;
    } else {
      m_bNeedNextFolder = true;
      m_reader.Close();
    }
  }
  if (m_bNeedNextFolder) {
    const FolderRecord* start = m_folders.At(m_nStartIndex);
    const std::string prefix = start != nullptr ? start->path : std::string();
    for (;;) {
      m_nCurrentIndex = m_folders.FindNextInSubtree(prefix, m_nCurrentIndex);
      m_mailbox.reset();
      if (m_nCurrentIndex < 0) return false;
      const FolderRecord& record = m_folders[static_cast<std::size_t>(m_nCurrentIndex)];
      m_reader.Close();
      m_reader.Open(record.file + kSummaryExtension, record.path);
      if (m_bSkipEmpty && m_reader.MessageCount() == 0) continue;
      m_bNeedNextFolder = false;
      message = m_reader.NextMessage(true);
      break;
    }
  }
  if (message) {
    const FolderRecord& record = m_folders[static_cast<std::size_t>(m_nCurrentIndex)];
    CopyMessageToTemp(record.file, m_reader.CurrentPosition(), m_reader.CurrentLength());
  }
  return true;
}

bool SCNetscapeMsgFilter::CopyMessageToTemp(const std::string& mailbox, std::uint32_t position,
                                            std::uint32_t length) {
  const std::string lost = "the message of " + std::to_string(length) + " bytes";

  if (!m_mailbox || m_strMailboxPath != mailbox) {
    m_mailbox = services_.files.OpenForReading(mailbox);
    m_strMailboxPath = mailbox;
  }
  if (!m_mailbox) {
    if (!m_strTempFile.empty()) services_.files.Delete(m_strTempFile);
    Report(platform::DiagnosticKind::kSkipped, mailbox, position, "mailbox cannot be opened", lost);
    return false;
  }
  // Opening truncates what the last message left there, if the host did not take it.
  std::unique_ptr<platform::WritableFile> out =
      m_strTempFile.empty() ? nullptr : services_.files.OpenForWriting(m_strTempFile);
  if (!out) {
    if (!m_strTempFile.empty()) services_.files.Delete(m_strTempFile);
    Report(platform::DiagnosticKind::kOutputFailure, m_strTempFile, std::nullopt,
           "the temporary message file cannot be created", lost);
    return false;
  }
  if (!m_mailbox->Seek(position)) {
    out.reset();
    services_.files.Delete(m_strTempFile);
    Report(platform::DiagnosticKind::kSkipped, mailbox, position, "cannot move to the message",
           lost);
    return false;
  }
  try {
    const std::size_t buffer_size = std::min<std::size_t>(length, kCopyBufferSize);
    if (m_buffer.size() < buffer_size) m_buffer.resize(buffer_size);
  } catch (const std::bad_alloc&) {
    out.reset();
    services_.files.Delete(m_strTempFile);
    Report(platform::DiagnosticKind::kSkipped, mailbox, position, "out of memory", lost);
    return false;
  }

  const platform::WritableFile::CopyResult copy = out->CopyFrom(
      *m_mailbox, length, std::span(m_buffer.data(), std::min(m_buffer.size(), kCopyBufferSize)));
  const bool closed = out->Close();
  const bool write_failed = copy.write_failed || !closed;
  if (!write_failed && copy.copied == length) return true;

  out.reset();
  services_.files.Delete(m_strTempFile);
  if (write_failed) {
    Report(platform::DiagnosticKind::kOutputFailure, m_strTempFile, std::nullopt,
           "the temporary message file cannot be written", lost);
  } else {
    Report(platform::DiagnosticKind::kSkipped, mailbox, position + copy.copied,
           "the mailbox ends " + std::to_string(copy.copied) + " bytes into the message", lost);
  }
  return false;
}

std::int32_t SCNetscapeMsgFilter::GetItemStatus() {
  // After the last folder there is no item, not an empty folder.
  if (m_nCurrentIndex < 0) return 0;
  return m_reader.MessageCount() == 0 ? kItemIsFolder : 0;
}

std::int32_t SCNetscapeMsgFilter::GetItemExStatus() {
  if (m_reader.IsIncoming()) {
    return m_reader.IsUnread() ? kStateReceived | kStateUnread : kStateReceived;
  }
  return m_reader.IsUnsent() ? kStateNotSent : 0;
}

std::string SCNetscapeMsgFilter::SubItemText(std::int16_t code) {
  switch (code) {
    case kSubItemFolderName: {
      const FolderRecord* record = m_folders.At(m_nCurrentIndex);
      return record != nullptr ? services_.code_page.ToUtf8(record->path) : std::string();
    }
    case kSubItemMessageFile:
      // The file stays the object's, but after the last folder it holds no message of the walk.
      return m_nCurrentIndex < 0 ? std::string() : services_.code_page.ToUtf8(m_strTempFile);
    default:
      return {};
  }
}

AutomationString SCNetscapeMsgFilter::GetSubItem(std::int16_t code) {
  return GuardSubItem(services_.ui, parent(), [this, code] { return SubItemText(code); });
}

}  // namespace kv
