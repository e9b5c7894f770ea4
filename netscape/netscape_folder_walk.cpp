#include "netscape/netscape_folder_walk.h"

#include <algorithm>
#include <deque>

#include "platform/text.h"

namespace kv {
namespace {

constexpr const char* kMailboxPattern = "\\*.";  // names without an extension
constexpr const char* kSummaryPattern = "\\*.snm";
constexpr const char* kSubfolderPattern = "\\*.sbd";
constexpr const char* kSummaryExtension = ".snm";
constexpr const char* kSubfolderExtension = ".sbd";

struct PendingDirectory {
  std::string directory;  // disk path, as built
  std::string path;       // display path of the folder whose subfolders it holds
  int depth = 0;
};

bool IsPlainFile(platform::FileSystem& files, const std::string& path) {
  std::optional<platform::FileStatus> status = files.Status(path);
  return status && !status->IsDirectory();
}

// The name the directory search returns for `path` when it names a directory, else empty.
std::string DirectoryName(platform::FileSystem& files, const std::string& path) {
  std::unique_ptr<platform::FileFinder> finder = files.FindFirst(path);
  if (!finder) return {};
  while (std::optional<platform::FindEntry> entry = finder->Next()) {
    if (entry->IsDirectory()) return entry->name;
  }
  return {};
}

class Walk {
 public:
  Walk(platform::FileSystem& files, platform::Diagnostics& diagnostics, FolderList& list)
      : files_(files), diagnostics_(diagnostics), list_(list) {}

  void Run(const std::string& mailDirectory, const std::string& rootName) {
    queue_.push_back({mailDirectory, rootName, 0});
    while (!queue_.empty()) {
      PendingDirectory pending = std::move(queue_.front());
      queue_.pop_front();
      SearchDirectory(pending);
    }
  }

 private:
  void Report(const std::string& folder, const std::string& file, const std::string& problem,
              const std::string& lost) {
    diagnostics_.Report(
        {platform::DiagnosticKind::kSkipped, folder, file, std::nullopt, problem, lost});
  }

  void SearchDirectory(const PendingDirectory& pending) {
    const std::string& dir = pending.directory;
    // Mailboxes whose subfolder directory has been taken or reported along with them.
    std::vector<std::string> accounted;
    if (std::unique_ptr<platform::FileFinder> finder = files_.FindFirst(dir + kMailboxPattern)) {
      while (std::optional<platform::FindEntry> entry = finder->Next()) {
        if (entry->IsDirectory()) continue;
        const std::string& name = entry->name;
        if (!IsPlainFile(files_, dir + "\\" + name + kSummaryExtension)) {
          if (entry->size > 0) {
            Report(pending.path, dir + "\\" + name,
                   "mailbox has no summary file " + name + kSummaryExtension,
                   "the mailbox's " + std::to_string(entry->size) + " bytes and its subfolders");
            accounted.push_back(name);
          }
          continue;
        }
        accounted.push_back(name);
        if (list_.Count() > kMaxNetscapeFolders) {
          Report(pending.path, dir, "more than " + std::to_string(kMaxNetscapeFolders) + " folders",
                 "the folders beyond that number");
          queue_.clear();
          return;
        }
        FolderRecord record;
        record.name = name;
        record.path = pending.path + "/" + name;
        record.file = dir + "/" + name;
        list_.Append(record);
        const std::string subfolders = DirectoryName(files_, record.file + kSubfolderExtension);
        if (subfolders.empty()) continue;
        if (pending.depth + 1 >= kMaxNetscapeFolderDepth) {
          Report(record.path, dir + "/" + subfolders,
                 "folders nested deeper than " + std::to_string(kMaxNetscapeFolderDepth) +
                     " levels (a loop of links?)",
                 "the subfolders below that depth");
          continue;
        }
        queue_.push_back({dir + "/" + subfolders, record.path, pending.depth + 1});
      }
    }
    ReportDottedFolders(pending);
    ReportOrphanSubfolders(pending, accounted);
  }

  // A subfolder directory is only reached through its mailbox and summary; say so when one whose
  // mailbox is not a folder here still holds something.
  void ReportOrphanSubfolders(const PendingDirectory& pending,
                              const std::vector<std::string>& accounted) {
    const std::string& dir = pending.directory;
    std::unique_ptr<platform::FileFinder> finder = files_.FindFirst(dir + kSubfolderPattern);
    if (!finder) return;
    while (std::optional<platform::FindEntry> entry = finder->Next()) {
      if (!entry->IsDirectory()) continue;
      const std::string mailbox =
          entry->name.substr(0, entry->name.size() - std::string_view(kSubfolderExtension).size());
      if (std::ranges::any_of(accounted, [&mailbox](const std::string& name) {
            return platform::EqualsIgnoringCase(name, mailbox);
          })) {
        continue;
      }
      if (!files_.FindFirst(dir + "\\" + entry->name + "\\*")) continue;
      Report(pending.path + "/" + mailbox, dir + "\\" + entry->name,
             "subfolder directory of " + mailbox + ", which is not a folder (its mailbox or its " +
                 "summary " + mailbox + kSummaryExtension + " is missing)",
             "the folders in it");
    }
  }

  // A summary whose mailbox name holds a dot names a folder this walk does not take; say so when
  // the mailbox holds anything.
  void ReportDottedFolders(const PendingDirectory& pending) {
    const std::string& dir = pending.directory;
    std::unique_ptr<platform::FileFinder> finder = files_.FindFirst(dir + kSummaryPattern);
    if (!finder) return;
    while (std::optional<platform::FindEntry> entry = finder->Next()) {
      if (entry->IsDirectory()) continue;
      const std::string mailbox =
          entry->name.substr(0, entry->name.size() - std::string_view(kSummaryExtension).size());
      if (mailbox.find('.') == std::string::npos) continue;
      std::optional<platform::FileStatus> status = files_.Status(dir + "\\" + mailbox);
      if (!status || status->IsDirectory() || status->size == 0) continue;
      Report(pending.path + "/" + mailbox, dir + "\\" + mailbox,
             "folder name holds a dot; only mailboxes without an extension are folders",
             "the folder's " + std::to_string(status->size) + " bytes");
    }
  }

  platform::FileSystem& files_;
  platform::Diagnostics& diagnostics_;
  FolderList& list_;
  std::deque<PendingDirectory> queue_;
};

}  // namespace

bool BuildNetscapeFolderList(platform::FileSystem& files, platform::Diagnostics& diagnostics,
                             const std::string& mailDirectory, const std::string& rootName,
                             FolderList& list) {
  list.Clear();
  FolderRecord root;
  root.name = rootName;
  root.path = rootName;
  root.file = mailDirectory;
  list.Append(root);
  Walk(files, diagnostics, list).Run(mailDirectory, rootName);
  list.Sort();
  return list.Count() > 1;
}

}  // namespace kv
