#pragma once
// Drives one filter object as a host does: SetParent, IsSystemFound, GoFirst, then for each item
// the two status words and codes 5 and 11, and GoNext, until GoFirst or GoNext returns false.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/import_filter.h"
#include "host/mime_message.h"
#include "platform/services.h"

namespace kv::host {

// How many attachment paths (code 600) are read for one message at most.
inline constexpr std::size_t kMaxAttachmentPaths = 10000;

// The window handle the host tool gives its filters; dialogs and message boxes are owned by it.
inline constexpr platform::WindowHandle kHostWindow = 1;

struct WalkItem {
  AutomationString folder;        // code 5 (UTF-8)
  std::int32_t status = 0;        // GetItemStatus
  std::int32_t state = 0;         // GetItemExStatus
  AutomationString message_file;  // code 11: a temporary file path, "!!!Empty" or empty
  // A message the filter takes apart instead of handing it over whole: its code 11 names no file
  // and its code 4 names the body file. Holds every header value, file and attachment path given.
  std::optional<MessageParts> parts;
};

enum class WalkOutcome {
  kStoreNotFound,  // IsSystemFound returned false: no store, or the user cancelled
  kFinished,       // GoFirst or GoNext returned false
  kStopped,        // the visitor asked to stop
};

// SetParent and IsSystemFound: false when the filter found no store or the user cancelled.
bool FindStore(ImportFilter& filter);

// After FindStore: calls `visit` for each item in walk order; a visitor returning false stops the
// walk. Never returns kStoreNotFound.
WalkOutcome WalkItems(ImportFilter& filter, const std::function<bool(const WalkItem&)>& visit);

// FindStore, then WalkItems.
WalkOutcome WalkFilter(ImportFilter& filter, const std::function<bool(const WalkItem&)>& visit);

// The local path of the file that code 11 names, or nullopt when it names none: null, empty,
// "!!!Empty", or no readable regular file. A path that does not exist as given is tried through
// the file system's translation (it may be in the store's code page and Windows form).
std::optional<std::string> LocalMessagePath(const AutomationString& message_file,
                                            platform::FileSystem& files,
                                            platform::CodePage& code_page);

}  // namespace kv::host
