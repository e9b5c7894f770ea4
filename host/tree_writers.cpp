#include "host/tree_writers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

#include "host/folder_names.h"
#include "host/maildir_writer.h"
#include "host/mboxrd.h"
#include "host/message_text.h"
#include "host/output_files.h"

namespace kv::host {
namespace {

constexpr std::string_view kMboxSuffix = ".mbox";
constexpr std::string_view kEmlSuffix = ".eml";
constexpr std::size_t kReadPiece = 64 * 1024;
namespace fs = std::filesystem;

WriteError Failure(const std::string& path, int error) { return {path, ErrorText(error)}; }

// The levels of a display path as safe names; a path without levels is one level "_".
std::vector<std::string> SafeLevels(const std::string& display_path, std::string_view suffix) {
  std::vector<std::string> levels;
  for (const std::string& level : FolderLevels(display_path)) {
    levels.push_back(SafeFileName(level, suffix));
  }
  if (levels.empty()) levels.push_back(SafeFileName("", suffix));
  return levels;
}

std::string Parent(const std::string& path) { return path.substr(0, path.rfind('/')); }

// The last two bytes of a file (fewer when it is shorter).
std::string FileTail(const std::string& path) {
  std::string tail;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return tail;
  struct stat status {};
  if (::fstat(fd, &status) == 0 && status.st_size > 0) {
    off_t start = status.st_size >= 2 ? status.st_size - 2 : 0;
    tail.resize(static_cast<std::size_t>(status.st_size - start));
    ssize_t count = ::pread(fd, tail.data(), tail.size(), start);
    tail.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  }
  ::close(fd);
  return tail;
}

// What an existing mbox file needs before a new From_ line: an empty line after its last one.
std::string_view SeparatorAfter(const std::string& tail) {
  if (tail.empty() || tail.ends_with("\n\n")) return "";
  if (tail.ends_with('\n')) return "\n";
  return "\n\n";
}

}  // namespace

// ---- mbox

MboxWriter::MboxWriter(std::string root, bool append, bool to_lf)
    : root_(std::move(root)), append_(append), to_lf_(to_lf) {}

std::string MboxWriter::MboxPath(const std::string& display_path) const {
  std::string path = root_;
  for (const std::string& level : SafeLevels(display_path, kMboxSuffix)) path += "/" + level;
  return path + std::string(kMboxSuffix);
}

WriteOutcome MboxWriter::Start() {
  // Checked before the first message, so that "exists" never comes after half an import.
  if (!append_) {
    std::error_code code;
    for (auto it = fs::recursive_directory_iterator(root_, code);
         !code && it != fs::recursive_directory_iterator(); it.increment(code)) {
      if (it->is_regular_file(code) && it->path().extension() == kMboxSuffix) {
        return WriteError{it->path().string(),
                          "exists from an earlier import; give --append to add to the mbox files "
                          "in " +
                              root_};
      }
    }
  }
  int error = 0;
  if (!MakeFolders(root_, error)) return Failure(root_, error);
  return std::nullopt;
}

WriteOutcome MboxWriter::CloseCurrent() {
  if (!current_.valid()) return std::nullopt;
  if (!current_.Close()) return Failure(current_path_, errno);
  return std::nullopt;
}

WriteOutcome MboxWriter::Open(const std::string& path) {
  if (current_.valid() && path == current_path_) return std::nullopt;
  if (WriteOutcome closed = CloseCurrent()) return closed;
  int error = 0;
  if (!MakeFolders(Parent(path), error)) return Failure(Parent(path), error);
  std::string_view separator;
  FileDescriptor fd;
  if (accepted_.contains(path)) {
    fd = FileDescriptor(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  } else {
    fd = FileDescriptor(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid() && errno == EEXIST) {
      if (!append_) return WriteError{path, "exists; give --append to add to it"};
      separator = SeparatorAfter(FileTail(path));
      fd = FileDescriptor(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    }
  }
  if (!fd.valid()) return Failure(path, errno);
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return Failure(path, errno);
  current_ = std::move(fd);
  current_path_ = path;
  current_size_ = static_cast<std::uint64_t>(status.st_size);
  accepted_.insert(path);
  if (!separator.empty()) {
    if (WriteOutcome written = WriteAt(separator)) return written;
    current_size_ += separator.size();
  }
  return std::nullopt;
}

WriteOutcome MboxWriter::CreateFolder(const std::string& display_path) {
  return Open(MboxPath(display_path));
}

// Writes `bytes` after what the current file holds so far in this message; on failure the file is
// cut back to its last whole message.
WriteOutcome MboxWriter::WriteAt(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t count = ::pwrite(current_.get(), bytes.data(), bytes.size(),
                             static_cast<off_t>(current_size_ + pending_));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      const int error = count < 0 ? errno : ENOSPC;
      // A message cut short would read as a damaged message; the file ends after the last whole
      // one.
      pending_ = 0;
      if (::ftruncate(current_.get(), static_cast<off_t>(current_size_)) != 0) {
        return WriteError{current_path_, ErrorText(error) +
                                             "; the message could not be cut away again, the "
                                             "file ends in a partial message"};
      }
      return WriteError{current_path_,
                        ErrorText(error) + "; the file was cut back to its last whole message"};
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
    pending_ += static_cast<std::uint64_t>(count);
  }
  return std::nullopt;
}

WriteOutcome MboxWriter::WriteMessage(const HandedOverMessage& message) {
  FileDescriptor source(::open(message.path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!source.valid()) return Failure(message.path, errno);
  std::string out = FromLine(message.sender, message.time.value_or(std::time(nullptr)));
  LineEndConverter line_ends(to_lf_);
  StateHeaderWriter state_headers(message.state);
  MboxrdQuoter quoter;
  std::vector<char> buffer(
      static_cast<std::size_t>(std::min<std::uint64_t>(message.length, kReadPiece)));
  std::string converted, rewritten;
  std::uint64_t left = message.length;
  char last = '\n';
  pending_ = 0;
  while (left > 0) {
    std::size_t want = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
    ssize_t count = ::read(source.get(), buffer.data(), want);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    left -= static_cast<std::uint64_t>(count);
    line_ends.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(count)), converted);
    if (left == 0) line_ends.Finish(converted);
    state_headers.Feed(converted, rewritten);
    converted.clear();
    if (!rewritten.empty()) last = rewritten.back();
    quoter.Feed(rewritten, out);
    rewritten.clear();
    if (WriteOutcome written = WriteAt(out)) return written;
    out.clear();
  }
  line_ends.Finish(converted);
  state_headers.Feed(converted, rewritten);
  state_headers.Finish(rewritten);
  if (!rewritten.empty()) last = rewritten.back();
  quoter.Feed(rewritten, out);
  quoter.Finish(out);
  if (last != '\n') out.push_back('\n');
  out.push_back('\n');
  if (WriteOutcome written = WriteAt(out)) return written;
  current_size_ += pending_;
  pending_ = 0;
  return std::nullopt;
}

WriteOutcome MboxWriter::AddMessage(const std::string& display_path,
                                    const HandedOverMessage& message) {
  if (WriteOutcome opened = Open(MboxPath(display_path))) return opened;
  return WriteMessage(message);
}

WriteOutcome MboxWriter::Finish() { return CloseCurrent(); }

// ---- eml

EmlWriter::EmlWriter(std::string root) : root_(std::move(root)) {}

std::string EmlWriter::FolderPath(const std::string& display_path) const {
  std::string path = root_;
  for (const std::string& level : SafeLevels(display_path, kEmlSuffix)) path += "/" + level;
  return path;
}

WriteOutcome EmlWriter::Start() {
  int error = 0;
  if (!MakeFolders(root_, error)) return Failure(root_, error);
  return std::nullopt;
}

WriteOutcome EmlWriter::CreateFolder(const std::string& display_path) {
  std::string folder = FolderPath(display_path);
  if (ready_.contains(folder)) return std::nullopt;
  int error = 0;
  if (!MakeFolders(folder, error)) return Failure(folder, error);
  ready_.insert(folder);
  return std::nullopt;
}

WriteOutcome EmlWriter::AddMessage(const std::string& display_path,
                                   const HandedOverMessage& message) {
  if (WriteOutcome made = CreateFolder(display_path)) return made;
  std::string folder = FolderPath(display_path);
  unsigned& number = next_number_.try_emplace(folder, 1).first->second;
  // A copy is made under a hidden name in the folder and renamed, so that a message never appears
  // cut under its final name.
  const std::string staging =
      folder + "/.kvimport-" + std::to_string(::getpid()) + "-" + std::to_string(++staging_number_);
  int error = 0;
  std::optional<PreparedMessage> prepared =
      PrepareMessage(message, /*to_lf=*/false, staging, error);
  if (!prepared) return Failure(message.owned ? message.path : staging, error);
  PlaceResult placed = PlaceResult::kExists;
  std::string target;
  while (placed == PlaceResult::kExists) {
    char name[32];
    std::snprintf(name, sizeof name, "/%06u.eml", number++);
    target = folder + name;
    placed = MoveToNewName(prepared->path, target, staging + ".copy", error);
  }
  if (prepared->staged) ::unlink(prepared->path.c_str());
  if (placed == PlaceResult::kFailed) return Failure(target, error);
  last_written_ = target;
  return std::nullopt;
}

// ---- the writer for a destination

std::unique_ptr<MessageSink> MakeSink(const Destination& destination, const SinkOptions& options) {
  switch (destination.kind) {
    case DestinationKind::kMaildir:
      return std::make_unique<MaildirWriter>(destination.path, options.inbox, options.to_lf);
    case DestinationKind::kMbox:
      return std::make_unique<MboxWriter>(destination.path, options.append, options.to_lf);
    case DestinationKind::kEml:
      return std::make_unique<EmlWriter>(destination.path);
  }
  return nullptr;
}

}  // namespace kv::host
