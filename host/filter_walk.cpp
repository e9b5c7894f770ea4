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

WalkItem CurrentItem(ImportFilter& filter) {
  WalkItem item;
  item.status = filter.GetItemStatus();
  item.state = filter.GetItemExStatus();
  item.folder = filter.GetSubItem(kSubItemFolderName);
  item.message_file = filter.GetSubItem(kSubItemMessageFile);
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
