#include "host/filter_conventions.h"

#include <algorithm>

namespace kv::host {
namespace {

// What a mailbox separator line starts with; a header line never does (a header name ends in ":").
constexpr std::string_view kSeparatorStart = "From ";
// A separator line longer than this is not taken for one.
constexpr std::size_t kMaxSeparatorLine = 1024;

}  // namespace

FilterConventions ConventionsFor(std::string_view filter) {
  if (filter == "netscape") return {.folders_below_root = true, .separator_line = true};
  if (filter == "oe5") return {.folders_below_root = true};
  if (filter == "oe4") return {.trailing_nul_padding = true};
  if (filter == "eudora") return {.inbox = "In"};
  return {};
}

OutputFolders::OutputFolders(bool below_root, std::optional<std::string> root)
    : below_root_(below_root), root_(std::move(root)) {
  if (root_ && root_->empty()) root_.reset();
}

std::string OutputFolders::Map(const std::string& folder) {
  if (!below_root_) return folder;
  if (!root_) root_ = folder.substr(0, folder.find('/'));
  if (folder.size() > root_->size() + 1 && folder.starts_with(*root_) &&
      folder[root_->size()] == '/') {
    return folder.substr(root_->size() + 1);
  }
  return folder;
}

std::uint64_t SeparatorLineLength(std::string_view head, std::uint64_t length) {
  const std::string_view text = head.substr(0, std::min(head.size(), kMaxSeparatorLine));
  if (!text.starts_with(kSeparatorStart)) return 0;
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos || end + 1 > length) return 0;
  return end + 1;
}

}  // namespace kv::host
