#include "oe5/oe5_filter.h"

#include "common/folder_select_dlg.h"
#include "common/location_dlg.h"
#include "common/sub_item_guard.h"
#include "oe5/oe5_folder_tree.h"
#include "oe5/oe5_store_discovery.h"
#include "res/strings.h"

namespace kv {
namespace {

// Message record fields of a folder file.
constexpr std::uint8_t kFieldFlags = 0x01;       // 16 bits
constexpr std::uint8_t kFieldFirstBlock = 0x04;  // offset of the first body block
constexpr std::uint8_t kFieldSize = 0x11;        // must be present and nonzero
// Message flags.
constexpr std::uint32_t kFlagRead = 0x80;
constexpr std::uint32_t kFlagUnsent = 0x08;

std::string MessagesLost(std::size_t remaining) {
  if (remaining <= 1) return "this message";
  return "this message and the " + std::to_string(remaining - 1) + " after it in the folder";
}

}  // namespace

SCOE5MsgFilter::SCOE5MsgFilter(const platform::Services& services) : services_(services) {}

std::string SCOE5MsgFilter::GetName() { return std::string(res::LoadString(res::IDS_OE5_NAME)); }

bool SCOE5MsgFilter::IsSystemFound() {
  storeRoot = FindStoreRoot(services_.registry, services_.environment);
  return FindStoreWithUser(
             services_.ui, parent(), res::IDS_OE5_BROWSE_TITLE, storeRoot,
             [this](const std::string& path) {
               storeRoot = path;
               services_.ui.ShowWaitCursor();
               loadedFolders = LoadFolders(services_.files, services_.diagnostics, storeRoot);
               return loadedFolders.empty() ? StoreLoad::kNotFound : StoreLoad::kLoaded;
             })
      .has_value();
}

bool SCOE5MsgFilter::GoFirst() {
  services_.ui.ShowWaitCursor();
  folderItem = true;
  isUnsent = false;
  isReceived = true;
  currentFolder = -1;
  needFolder = false;
  folders = PrepareFolders(loadedFolders, storeRoot, services_.diagnostics);
  if (folders.Count() == 0) return false;
  dialogPaths = folders.DialogPaths();

  skipEmptyFolders = true;
  CFolderSelectDlg dialog(services_.ui, parent(), dialogPaths);
  dialog.m_strRoot = folders[0].name;
  dialog.m_bSkipEmpty = skipEmptyFolders ? 1 : 0;
  if (dialog.DoModal() != platform::kIdOk) return false;

  startIndex = RecordIndexForSelection(dialog.m_nSelected);
  currentFolder = 0;
  messageIndex = 0;
  skipEmptyFolders = dialog.m_bSkipEmpty != 0;
  needFolder = true;
  return GoNext();
}

bool SCOE5MsgFilter::GoNext() {
  services_.ui.ShowWaitCursor();
  hasStatusMark = false;
  bool advanced = false;
  try {
    advanced = AdvanceMessage();
  } catch (...) {
  }
  walkEnded = !advanced;
  return advanced;
}

bool SCOE5MsgFilter::AdvanceMessage() {
  for (;;) {
    if (needFolder) {
      needFolder = false;
      folderItem = false;
      const FolderRecord* start = folders.At(startIndex);
      currentFolder = start != nullptr ? folders.FindNextInSubtree(start->path, currentFolder) : -1;
      messageOffsets.clear();
      folderFile.reset();
      messageIndex = 0;
      if (currentFolder >= 0) ReadMessageIndex(currentFolder);
    }
    if (folders.At(currentFolder) == nullptr) return false;

    std::string extracted;
    MessageHeaderScan header;
    switch (ExtractMessage(currentFolder, messageIndex, extracted, header)) {
      case Extraction::kMessage:
        ++messageIndex;
        messageFile = extracted;
        // An inconclusive Return-Path scan (no end of the header block) keeps the last value.
        if (std::optional<bool> received = header.returnPath()) isReceived = *received;
        hasStatusMark = header.statusMark();
        return true;
      case Extraction::kOutputFailed:
        folderFile.reset();
        needFolder = true;
        return false;
      case Extraction::kFolderEnd:
        break;
    }
    // The folder is finished: its folder item, unless empty folders are skipped.
    folderFile.reset();
    needFolder = true;
    folderItem = true;
    if (!skipEmptyFolders) return true;
  }
}

void SCOE5MsgFilter::ReadMessageIndex(int folder) {
  messageOffsets.clear();
  folderFile.reset();
  const FolderRecord& record = folders[static_cast<std::size_t>(folder)];
  if (record.file.empty()) return;
  const std::string messages = std::to_string(record.extra1) + " messages the folder list counts";
  folderFile = dbx::DbxFile::Open(services_.files, record.file, record.path, services_.diagnostics);
  if (!folderFile) {
    if (record.extra1 > 0) {
      services_.diagnostics.Report({platform::DiagnosticKind::kSkipped, record.path, record.file,
                                    std::nullopt, "folder file missing or unreadable", messages});
    }
    return;
  }
  std::optional<std::uint32_t> root = folderFile->ReadWord(dbx::kMessageIndexRootOffset);
  if (!root) {
    if (record.extra1 > 0) {
      folderFile->Report(std::nullopt, "folder file shorter than its header", messages);
    }
    return;
  }
  dbx::CollectedOffsets collected =
      dbx::CollectOffsets(*folderFile, *root, record.extra1, "messages");
  if (collected.beyondCapacity > 0) {
    folderFile->Report(dbx::kMessageIndexRootOffset,
                       "index lists more messages than the folder list's count of " +
                           std::to_string(record.extra1),
                       std::to_string(collected.beyondCapacity) + " messages");
  }
  messageOffsets = std::move(collected.offsets);
}

SCOE5MsgFilter::Extraction SCOE5MsgFilter::ExtractMessage(int folder, std::size_t index,
                                                          std::string& path,
                                                          MessageHeaderScan& header) {
  path.clear();
  const FolderRecord& record = folders[static_cast<std::size_t>(folder)];
  if (record.extra1 == 0 || index >= messageOffsets.size() || !folderFile) {
    return Extraction::kFolderEnd;
  }
  const std::uint32_t offset = messageOffsets[index];
  const std::string lost = MessagesLost(messageOffsets.size() - index);
  std::optional<dbx::DbxRecord> message = dbx::ReadRecord(*folderFile, offset);
  if (!message) {
    folderFile->Report(offset, "message record lies outside the file", lost);
    return Extraction::kFolderEnd;
  }
  if (std::optional<std::uint32_t> flags =
          dbx::ReadField(*folderFile, *message, kFieldFlags, dbx::DescriptorPart::kLow16)) {
    isUnread = (*flags & kFlagRead) == 0;
    isUnsent = (*flags & kFlagUnsent) != 0;
  }
  const std::uint32_t first_block =
      dbx::ReadField(*folderFile, *message, kFieldFirstBlock, dbx::DescriptorPart::kValue)
          .value_or(0);
  const std::uint32_t size =
      dbx::ReadField(*folderFile, *message, kFieldSize, dbx::DescriptorPart::kValue).value_or(0);
  if (first_block == 0 || size == 0) {
    folderFile->Report(offset,
                       first_block == 0 ? "message record names no text (field 0x04)"
                                        : "message record has no size (field 0x11)",
                       lost);
    return Extraction::kFolderEnd;
  }
  if (dbx::CopyBodyToTemp(*folderFile, first_block, services_.files, services_.temp, path,
                          &header) != dbx::CopyResult::kCopied) {
    return Extraction::kOutputFailed;
  }
  return Extraction::kMessage;
}

std::int32_t SCOE5MsgFilter::GetItemStatus() {
  return (folderItem ? kItemIsFolder : 0) | (hasStatusMark ? kItemHasStatusMark : 0);
}

std::int32_t SCOE5MsgFilter::GetItemExStatus() {
  if (isReceived) return isUnread ? kStateReceived | kStateUnread : kStateReceived;
  return isUnsent ? kStateNotSent : 0;
}

std::string SCOE5MsgFilter::SubItemText(std::int16_t code) {
  if (walkEnded) return {};
  switch (code) {
    case kSubItemFolderName: {
      const FolderRecord* record = folders.At(currentFolder);
      return record != nullptr ? services_.code_page.ToUtf8(record->path) : std::string();
    }
    case kSubItemMessageFile:
      return services_.code_page.ToUtf8(messageFile);
    default:
      return {};
  }
}

AutomationString SCOE5MsgFilter::GetSubItem(std::int16_t code) {
  return GuardSubItem(services_.ui, parent(), [this, code] { return SubItemText(code); });
}

}  // namespace kv
