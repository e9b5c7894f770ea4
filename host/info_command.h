#pragma once
// What `kvimport info` prints of a store: its folders as a tree, each with its messages, their
// bytes and states, then the totals.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kv::host {

// What one folder holds.
struct FolderSummary {
  std::uint64_t messages = 0;
  std::uint64_t bytes = 0;
  std::uint64_t unread = 0;      // received and not read
  std::uint64_t unsent = 0;      // drafts and queued messages
  std::uint64_t sent = 0;        // neither received nor unsent
  std::uint64_t unreadable = 0;  // items that named no readable message
};

// The folders of a store in walk order, with what each holds.
class StoreSummary {
 public:
  // A folder item (`is_message` false), or a message of `bytes` bytes (nullopt: unreadable).
  void Add(const std::string& folder, bool is_message, std::int32_t state,
           std::optional<std::uint64_t> bytes);
  // The tree: one line per folder, indented two spaces a level, ancestors the walk did not name
  // shown by name alone; then a total line.
  std::string Text() const;

 private:
  std::vector<std::string> order_;
  std::map<std::string, FolderSummary> folders_;
};

}  // namespace kv::host
