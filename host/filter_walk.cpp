#include "host/filter_walk.h"

#include <sys/stat.h>
#include <unistd.h>

namespace kv::host {
namespace {

bool IsReadableFile(const std::string& path) {
  struct stat status {};
  return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(path.c_str(), R_OK) == 0;
}

std::string Text(ImportFilter& filter, SubItemCode code) {
  return filter.GetSubItem(code).value_or("");
}

// The pieces of a message taken apart; nullopt when the filter names no body file either.
std::optional<MessageParts> ReadParts(ImportFilter& filter) {
  MessageParts parts;
  parts.body_file = Text(filter, kSubItemBodyFile);
  if (parts.body_file.empty()) return std::nullopt;
  parts.from = Text(filter, kSubItemFrom);
  parts.to = Text(filter, kSubItemTo);
  parts.subject = Text(filter, kSubItemSubject);
  parts.date = Text(filter, kSubItemDate);
  parts.cc = Text(filter, kSubItemCc);
  parts.bcc = Text(filter, kSubItemBcc);
  parts.return_path = Text(filter, kSubItemReturnPath);
  parts.sender = Text(filter, kSubItemSender);
  parts.html_file = Text(filter, kSubItemHtmlFile);
  parts.rich_file = Text(filter, kSubItemUnknownTypeFile);
  // The list of attachments ends with the first empty value.
  while (parts.attachments.size() < kMaxAttachmentPaths) {
    std::string path = Text(filter, kSubItemNextAttachment);
    if (path.empty()) break;
    parts.attachments.push_back(std::move(path));
  }
  return parts;
}

WalkItem CurrentItem(ImportFilter& filter) {
  WalkItem item;
  item.status = filter.GetItemStatus();
  item.state = filter.GetItemExStatus();
  item.folder = filter.GetSubItem(kSubItemFolderName);
  item.message_file = filter.GetSubItem(kSubItemMessageFile);
  if ((item.status & kItemIsFolder) == 0 && item.message_file.value_or("").empty()) {
    item.parts = ReadParts(filter);
  }
  return item;
}

}  // namespace

bool FindStore(ImportFilter& filter) {
  filter.SetParent(static_cast<std::int32_t>(kHostWindow));
  return filter.IsSystemFound();
}

WalkOutcome WalkFilter(ImportFilter& filter, const std::function<bool(const WalkItem&)>& visit) {
  if (!FindStore(filter)) return WalkOutcome::kStoreNotFound;
  return WalkItems(filter, visit);
}

WalkOutcome WalkItems(ImportFilter& filter, const std::function<bool(const WalkItem&)>& visit) {
  for (bool positioned = filter.GoFirst(); positioned; positioned = filter.GoNext()) {
    if (!visit(CurrentItem(filter))) return WalkOutcome::kStopped;
  }
  return WalkOutcome::kFinished;
}

std::optional<std::string> LocalMessagePath(const AutomationString& message_file,
                                            platform::FileSystem& files,
                                            platform::CodePage& code_page) {
  if (!message_file || message_file->empty() || *message_file == kEmptyFolderMarker) {
    return std::nullopt;
  }
  if (IsReadableFile(*message_file)) return *message_file;
  std::string translated = files.NativePath(code_page.FromUtf8(*message_file));
  if (IsReadableFile(translated)) return translated;
  return std::nullopt;
}

}  // namespace kv::host
