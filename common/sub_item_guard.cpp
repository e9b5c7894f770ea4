#include "common/sub_item_guard.h"

#include "common/message_files.h"
#include "res/strings.h"

namespace kv {

std::optional<std::string> GuardSubItem(platform::UserInterface& ui, platform::WindowHandle owner,
                                        const std::function<std::string()>& build) {
  auto report = [&](unsigned text_id) {
    ShowStringMessage(ui, owner, text_id, res::IDS_APP_TITLE, platform::kMbOk);
  };
  try {
    return build();
  } catch (const FileError&) {
    report(res::IDS_FILE_IO_ERROR);
  } catch (const std::exception&) {
    // The library's own failures (memory, a string too long) are told as running out of memory.
    report(res::IDS_OUT_OF_MEMORY);
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace kv
