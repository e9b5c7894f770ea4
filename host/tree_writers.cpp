#include "host/tree_writers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <vector>

#include "host/folder_names.h"
#include "host/maildir_writer.h"
#include "host/mboxrd.h"
#include "host/output_files.h"

namespace kv::host {
namespace {

constexpr std::string_view kMboxSuffix = ".mbox";
constexpr std::string_view kEmlSuffix = ".eml";
constexpr std::size_t kReadPiece = 64 * 1024;
constexpr std::size_t kWriteBuffer = 1 << 20;

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

MboxWriter::MboxWriter(std::string root, bool append) : root_(std::move(root)), append_(append) {}

MboxWriter::~MboxWriter() {
  if (current_ != nullptr) std::fclose(current_);
}

std::string MboxWriter::MboxPath(const std::string& display_path) const {
  std::string path = root_;
  for (const std::string& level : SafeLevels(display_path, kMboxSuffix)) path += "/" + level;
  return path + std::string(kMboxSuffix);
}

WriteOutcome MboxWriter::Start() {
  int error = 0;
  if (!MakeFolders(root_, error)) return Failure(root_, error);
  return std::nullopt;
}

WriteOutcome MboxWriter::CloseCurrent() {
  if (current_ == nullptr) return std::nullopt;
  bool ok = std::fflush(current_) == 0;
  int error = errno;
  ok = std::fclose(current_) == 0 && ok;
  if (!ok && error == 0) error = errno;
  current_ = nullptr;
  if (!ok) return Failure(current_path_, error);
  return std::nullopt;
}

WriteOutcome MboxWriter::Open(const std::string& path) {
  if (current_ != nullptr && path == current_path_) return std::nullopt;
  if (WriteOutcome closed = CloseCurrent()) return closed;
  int error = 0;
  if (!MakeFolders(Parent(path), error)) return Failure(Parent(path), error);
  std::string_view separator;
  int fd = -1;
  if (accepted_.contains(path)) {
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  } else {
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
      if (!append_) return WriteError{path, "exists; give --append to add to it"};
      separator = SeparatorAfter(FileTail(path));
      fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }
  }
  if (fd < 0) return Failure(path, errno);
  current_ = ::fdopen(fd, "ab");
  if (current_ == nullptr) {
    error = errno;
    ::close(fd);
    return Failure(path, error);
  }
  std::setvbuf(current_, nullptr, _IOFBF, kWriteBuffer);
  current_path_ = path;
  accepted_.insert(path);
  if (!separator.empty() &&
      std::fwrite(separator.data(), 1, separator.size(), current_) != separator.size()) {
    return Failure(path, errno);
  }
  return std::nullopt;
}

WriteOutcome MboxWriter::CreateFolder(const std::string& display_path) {
  return Open(MboxPath(display_path));
}

WriteOutcome MboxWriter::WriteMessage(const HandedOverMessage& message) {
  int source = ::open(message.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return Failure(message.path, errno);
  std::string out = FromLine(message.sender, message.time.value_or(std::time(nullptr)));
  MboxrdQuoter quoter;
  std::vector<char> buffer(kReadPiece);
  std::uint64_t left = message.length;
  char last = '\n';
  bool failed = false;
  while (left > 0 && !failed) {
    std::size_t want = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
    ssize_t count = ::read(source, buffer.data(), want);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    left -= static_cast<std::uint64_t>(count);
    last = buffer[static_cast<std::size_t>(count) - 1];
    quoter.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(count)), out);
    if (left == 0) quoter.Finish(out);
    failed = std::fwrite(out.data(), 1, out.size(), current_) != out.size();
    out.clear();
  }
  ::close(source);
  quoter.Finish(out);
  if (last != '\n') out.push_back('\n');
  out.push_back('\n');
  if (failed || std::fwrite(out.data(), 1, out.size(), current_) != out.size()) {
    return Failure(current_path_, errno);
  }
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
  int error = 0;
  while (true) {
    char name[32];
    std::snprintf(name, sizeof name, "/%06u.eml", number++);
    std::string target = folder + name;
    PlaceResult placed = PlaceFile(message.path, target, message.length, message.owned, error);
    if (placed == PlaceResult::kExists) continue;
    if (placed == PlaceResult::kFailed) return Failure(target, error);
    if (message.time) SetFileTimes(target, *message.time);
    return std::nullopt;
  }
}

// ---- the writer for a destination

std::unique_ptr<MessageSink> MakeSink(const Destination& destination, const SinkOptions& options) {
  switch (destination.kind) {
    case DestinationKind::kMaildir:
      return std::make_unique<MaildirWriter>(destination.path, options.inbox);
    case DestinationKind::kMbox:
      return std::make_unique<MboxWriter>(destination.path, options.append);
    case DestinationKind::kEml:
      return std::make_unique<EmlWriter>(destination.path);
  }
  return nullptr;
}

}  // namespace kv::host
