#include "eudora/eudora_folders.h"

#include <memory>
#include <utility>

#include "app/kernel_library.h"
#include "eudora/text_lines.h"
#include "platform/text.h"
#include "res/strings.h"

namespace kv {
namespace {

// A folder map line is a short list of names; anything longer is damage and is cut.
constexpr std::size_t kMaxMapLineLength = 4096;
// How many mailbox files a report about a subfolder without a map counts at most.
constexpr std::size_t kMaxCountedMailboxes = 10000;

bool IsBlankLine(const std::string& line) {
  for (char c : line) {
    if (c != ' ' && c != '\t' && c != '\r') return false;
  }
  return true;
}

std::string RootPrefix() { return std::string(res::LoadString(res::IDS_EUDORA_ROOT)) + "/"; }

// The folder name reports use: the display path as the host sees it, or empty for the root.
std::string ReportFolder(const std::string& displayPath) {
  return displayPath == res::LoadString(res::IDS_EUDORA_ROOT) ? std::string()
                                                              : FolderNameOf(displayPath);
}

std::size_t CountMailboxFiles(platform::FileSystem& files, const std::string& directory) {
  std::unique_ptr<platform::FileFinder> finder = files.FindFirst(directory + "\\*.mbx");
  std::size_t count = 0;
  while (finder && count < kMaxCountedMailboxes && finder->Next()) ++count;
  return count;
}

struct MapLoader {
  platform::FileSystem& files;
  platform::Diagnostics& diagnostics;
  EudoraFolderLists& lists;
  bool depth_reported = false;
  bool size_reported = false;

  void Report(const std::string& folder, const std::string& file, std::string problem,
              std::string lost) {
    diagnostics.Report({platform::DiagnosticKind::kSkipped, ReportFolder(folder), file,
                        std::nullopt, std::move(problem), std::move(lost)});
  }

  void ReportLimit(const std::string& folder, const std::string& map_path, bool too_deep) {
    bool& reported = too_deep ? depth_reported : size_reported;
    if (reported) return;
    reported = true;
    if (too_deep) {
      Report(folder, map_path, "folders nested more than 64 deep (a folder that contains itself?)",
             "the folders below this depth");
    } else {
      Report(folder, map_path, "more than 100000 folders and mailboxes",
             "the rest of this folder map and every later one");
    }
  }

  void ReportUnreadableMap(const std::string& folder, const std::string& directory,
                           const std::string& map_path) {
    if (files.Exists(map_path)) {
      Report(folder, map_path, "folder map cannot be opened", "the folders and mailboxes it lists");
      return;
    }
    const std::size_t mailboxes = CountMailboxFiles(files, directory);
    if (mailboxes > 0) {
      Report(folder, map_path, "folder map missing",
             std::to_string(mailboxes) + " mailbox file" + (mailboxes == 1 ? "" : "s") +
                 " in this folder");
    }
  }

  bool Load(const std::string& displayPrefix, const std::string& directory, int depth) {
    const std::string map_path = directory + "\\" + kFolderMapName;
    if (depth > kMaxFolderDepth || lists.size() >= kMaxFolderEntries) {
      ReportLimit(displayPrefix, map_path, depth > kMaxFolderDepth);
      return false;
    }
    std::unique_ptr<platform::ReadableFile> file =
        files.OpenForReading(map_path, platform::OpenMode::kText);
    if (!file) {
      // The root map's absence is the caller's to handle; below it, a folder without a map lists
      // nothing, which matters when mailboxes lie there unread.
      if (depth > 0) ReportUnreadableMap(displayPrefix, directory, map_path);
      return false;
    }

    std::vector<std::pair<std::string, std::string>> subfolders;
    TextLineReader reader(*file);
    std::string line, name, fileName, typeCode;
    bool read_to_end = true;
    for (std::size_t number = 1;; ++number) {
      const TextLineReader::Result result = reader.Next(line, kMaxMapLineLength);
      if (result == TextLineReader::Result::kEnd) break;
      if (result == TextLineReader::Result::kError) {
        Report(displayPrefix, map_path, "read error after line " + std::to_string(number - 1),
               "the rest of the folder map");
        read_to_end = false;
        break;
      }
      if (!ParseFolderMapLine(line, name, fileName, typeCode)) {
        if (!IsBlankLine(line)) {
          Report(displayPrefix, map_path,
                 "line " + std::to_string(number) + " is not \"name,file,type,flag\": " + line,
                 "the mailbox or folder the line names");
        }
        continue;
      }
      if (lists.size() >= kMaxFolderEntries) {
        ReportLimit(displayPrefix, map_path, false);
        break;
      }
      const std::string displayPath = displayPrefix + "/" + name;
      const std::string filePath = directory + "\\" + fileName;
      lists.displayPaths.push_back(displayPath);
      lists.filePaths.push_back(filePath);
      lists.folderTypes.push_back(typeCode);
      if (typeCode[0] == 'F') subfolders.emplace_back(displayPath, filePath);
    }
    file.reset();

    for (const auto& [displayPath, filePath] : subfolders) Load(displayPath, filePath, depth + 1);
    return read_to_end;
  }
};

}  // namespace

bool EudoraFolderLists::IsMailbox(std::size_t index) const {
  const std::string& type = folderTypes.at(index);
  return !type.empty() && (type[0] == 'S' || type[0] == 'M');
}

bool EudoraFolderLists::IsSubfolder(std::size_t index) const {
  const std::string& type = folderTypes.at(index);
  return !type.empty() && type[0] == 'F';
}

bool ParseFolderMapLine(const std::string& line, std::string& name, std::string& fileName,
                        std::string& typeCode) {
  name.clear();
  fileName.clear();
  typeCode.clear();
  const std::size_t first = line.find(',');
  if (first == std::string::npos) return false;
  const std::size_t second = line.find(',', first + 1);
  if (second == std::string::npos) return false;
  const std::size_t third = line.find(',', second + 1);
  if (third == std::string::npos) return false;
  if (first == 0 || second == first + 1 || third == second + 1) return false;
  name = line.substr(0, first);
  fileName = line.substr(first + 1, second - first - 1);
  typeCode = line.substr(second + 1, third - second - 1) + line.substr(third + 1);
  return true;
}

bool LoadFolderMap(platform::FileSystem& files, platform::Diagnostics& diagnostics,
                   const std::string& displayPrefix, const std::string& directory,
                   EudoraFolderLists& lists) {
  MapLoader loader{files, diagnostics, lists};
  return loader.Load(displayPrefix, directory, 0);
}

int NextFolderIndex(const EudoraFolderLists& lists, const std::string& startPath, int index,
                    int skipEmptyFolders) {
  if (startPath.empty()) return -1;
  const std::size_t first = index < 0 ? 0 : static_cast<std::size_t>(index) + 1;
  for (std::size_t i = first; i < lists.size(); ++i) {
    if (!lists.filePaths[i].starts_with(startPath)) continue;
    if (skipEmptyFolders == 1 && lists.IsSubfolder(i)) continue;
    return static_cast<int>(i);
  }
  return -1;
}

std::string StripPrefix(const std::string& text, const std::string& prefix) {
  return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

std::string FolderNameOf(const std::string& displayPath) {
  std::string name = StripPrefix(displayPath, RootPrefix());
  kvTrimStr(name);
  return name.empty() ? std::string("NoName") : name;
}

}  // namespace kv
