#include "host/info_command.h"

#include <algorithm>
#include <cstdio>

#include "app/import_filter.h"
#include "host/folder_names.h"

namespace kv::host {
namespace {

constexpr double kKilobyte = 1024.0;
// The column where the numbers start, so that they line up under each other.
constexpr std::size_t kNameColumn = 36;

std::string Counted(std::uint64_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Size(std::uint64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / kKilobyte);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / kKilobyte / kKilobyte);
  }
  return text;
}

std::string Numbers(const FolderSummary& folder) {
  std::string text = Counted(folder.messages, "message") + ", " + Size(folder.bytes);
  if (folder.unread > 0) text += ", " + std::to_string(folder.unread) + " unread";
  if (folder.unsent > 0) text += ", " + std::to_string(folder.unsent) + " unsent";
  if (folder.sent > 0) text += ", " + std::to_string(folder.sent) + " sent";
  if (folder.unreadable > 0) text += ", " + std::to_string(folder.unreadable) + " unreadable";
  return text;
}

}  // namespace

void StoreSummary::Add(const std::string& folder, bool is_message, std::int32_t state,
                       std::optional<std::uint64_t> bytes) {
  auto [entry, added] = folders_.try_emplace(folder);
  if (added) order_.push_back(folder);
  if (!is_message) return;
  FolderSummary& summary = entry->second;
  if (!bytes) {
    ++summary.unreadable;
    return;
  }
  ++summary.messages;
  summary.bytes += *bytes;
  if ((state & kStateReceived) != 0) {
    if ((state & kStateUnread) != 0) ++summary.unread;
  } else if ((state & kStateNotSent) != 0) {
    ++summary.unsent;
  } else {
    ++summary.sent;
  }
}

std::string StoreSummary::Text() const {
  std::string text;
  FolderSummary total;
  std::vector<std::string> shown;  // the levels of the folder shown last
  for (const std::string& folder : order_) {
    std::vector<std::string> levels = FolderLevels(folder);
    if (levels.empty()) levels.push_back("(no name)");
    std::size_t common = 0;
    while (common < shown.size() && common + 1 < levels.size() && shown[common] == levels[common]) {
      ++common;
    }
    // Ancestors the walk did not name (their folders hold nothing, or were not asked for).
    for (std::size_t depth = common; depth + 1 < levels.size(); ++depth) {
      text += std::string(2 * depth, ' ') + levels[depth] + "/\n";
    }
    const std::size_t depth = levels.size() - 1;
    std::string line = std::string(2 * depth, ' ') + levels.back();
    // Columns count characters, not bytes: a UTF-8 continuation byte takes no column.
    const std::size_t width =
        static_cast<std::size_t>(std::count_if(line.begin(), line.end(), [](char c) {
          return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        }));
    line += width < kNameColumn ? std::string(kNameColumn - width, ' ') : "  ";
    const FolderSummary& summary = folders_.at(folder);
    text += line + Numbers(summary) + "\n";
    shown = levels;
    total.messages += summary.messages;
    total.bytes += summary.bytes;
    total.unread += summary.unread;
    total.unsent += summary.unsent;
    total.sent += summary.sent;
    total.unreadable += summary.unreadable;
  }
  text += "total: " + Counted(order_.size(), "folder") + ", " + Numbers(total) + "\n";
  return text;
}

}  // namespace kv::host
