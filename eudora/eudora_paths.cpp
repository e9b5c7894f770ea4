#include "eudora/eudora_paths.h"

#include "app/kernel_library.h"
#include "platform/text.h"

namespace kv {
namespace {

constexpr const char* kCommandLineValue = "current";
// Buffer sizes of the value enumeration: a longer name or larger data ends the enumeration.
constexpr std::size_t kValueNameBufferSize = 80;
constexpr std::size_t kValueDataBufferSize = 783;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

SplitPathParts SplitPath(std::string_view path) {
  SplitPathParts parts;
  if (path.size() >= 2 && path[1] == ':') {
    parts.drive = std::string(path.substr(0, 2));
    path.remove_prefix(2);
  }
  std::size_t name_start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsSeparator(path[i])) name_start = i + 1;
  }
  parts.dir = std::string(path.substr(0, name_start));
  std::string_view name = path.substr(name_start);
  const std::size_t dot = name.rfind('.');
  parts.fname = std::string(name.substr(0, dot));
  if (dot != std::string_view::npos) parts.ext = std::string(name.substr(dot));
  return parts;
}

std::string SummaryPathFor(std::string_view mailbox_path) {
  SplitPathParts parts = SplitPath(mailbox_path);
  return parts.drive + parts.dir + parts.fname + ".toc";
}

std::string StoreFolderFromCommandLine(std::string command_line) {
  kvTrimStr(command_line);
  const std::size_t first = command_line.find(' ');
  const std::size_t last = command_line.rfind(' ');
  if (first == std::string::npos || first == last) return {};
  std::string folder = command_line.substr(first, last - first);
  kvTrimStr(folder);
  return folder;
}

std::string ExpandLongPath(platform::FileSystem& files, std::string_view source, std::size_t size) {
  const SplitPathParts parts = SplitPath(source);
  const std::string working = parts.dir + parts.fname + "\\";
  std::string built = parts.drive;
  std::string long_path;
  // A last name with an extension is not looked up: without its extension it could name another
  // folder beside it (EUDORA beside EUDORA.OLD), and the store would silently move there.
  bool good = parts.ext.empty();
  std::size_t piece_start = 0;
  for (std::size_t i = 0; i < working.size() && good; ++i) {
    // "/" separates names as "\\" does, so that every lookup is of a single name.
    if (!IsSeparator(working[i])) continue;
    const std::string piece = working.substr(piece_start, i - piece_start);
    piece_start = i + 1;
    if (!piece.empty()) {
      std::unique_ptr<platform::FileFinder> finder = files.FindFirst(built + "\\" + piece);
      std::optional<platform::FindEntry> entry = finder ? finder->Next() : std::nullopt;
      if (!entry || !entry->IsDirectory()) {
        good = false;
        break;
      }
      long_path += "\\" + entry->name;
    }
    built += "\\" + piece;
  }
  std::string result(source.substr(0, size > 0 ? size - 1 : 0));
  if (good) {
    std::string expanded = parts.drive + long_path;
    if (expanded.size() < size) result = std::move(expanded);
  }
  return result;
}

std::string FindEudoraStoreFolder(platform::Registry& registry, platform::FileSystem& files) {
  std::optional<platform::RegistryKey> key = registry.OpenCurrentUserKey(kEudoraRegistryKey);
  if (!key) return {};
  std::string folder;
  platform::RegistryValue value;
  for (std::uint32_t index = 0;
       registry.EnumValue(*key, index, kValueNameBufferSize, kValueDataBufferSize, value) ==
       platform::RegistryResult::kSuccess;
       ++index) {
    if (platform::ToLowerAscii(value.name) != kCommandLineValue) continue;
    folder = ExpandLongPath(files, StoreFolderFromCommandLine(value.Text()));
    break;
  }
  registry.CloseKey(*key);
  return folder;
}

}  // namespace kv
