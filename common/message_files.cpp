#include "common/message_files.h"

#include "res/strings.h"

namespace kv {

std::string MakeTempFileName(platform::TempFiles& temp, std::string_view prefix,
                             std::uint32_t unique) {
  return temp.GetTempFileName(temp.TempPath(), prefix, unique).value_or(std::string());
}

std::string LastPathComponent(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string(path);
  return std::string(path.substr(slash + 1));
}

int ShowStringMessage(platform::UserInterface& ui, platform::WindowHandle owner, unsigned text_id,
                      unsigned caption_id, unsigned style) {
  return ui.MessageBox(owner, std::string(res::LoadString(text_id)),
                       std::string(res::LoadString(caption_id)), style);
}

bool BrowseForFolder(platform::UserInterface& ui, std::string& result, const std::string& title,
                     platform::WindowHandle owner) {
  std::optional<std::string> chosen = ui.BrowseForFolder(owner, title);
  if (!chosen) return false;
  result = *chosen;
  return true;
}

}  // namespace kv
