#include "host/tree_writers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
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
// The mbox writer's record of what it wrote, in the root. One line per event, fields separated by
// tabs: "B", the message's identity (or "-"), the offset where it begins, the mbox file relative
// to the root; or "C", "-", the size the file had when it was closed, the file.
constexpr std::string_view kMboxStateName = ".kvimport-state";
constexpr char kBegunRecord = 'B';
constexpr char kClosedRecord = 'C';
constexpr std::string_view kNoIdentity = "-";
// What an mbox message starts with; a killed run's unfinished message is only cut away from there.
constexpr std::string_view kFromLineStart = "From ";
// The hidden names the .eml writer stages its copies under: ".kvimport-<pid>-<number>".
constexpr std::string_view kEmlStagingPrefix = ".kvimport-";
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

// Whether a level of the display path is too long for a file name and was shortened.
bool AnyLevelShortened(const std::string& display_path, std::string_view suffix) {
  for (const std::string& level : FolderLevels(display_path)) {
    if (SafeFileName(level, suffix).size() < level.size()) return true;
  }
  return false;
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

// The whole file, or "" when it is missing or unreadable.
std::string ReadWholeFile(const std::string& path) {
  std::string text;
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return text;
  char buffer[kReadPiece];
  for (ssize_t count; (count = ::read(file.get(), buffer, sizeof buffer)) != 0;) {
    if (count < 0) {
      if (errno == EINTR) continue;
      break;
    }
    text.append(buffer, static_cast<std::size_t>(count));
  }
  return text;
}

struct StateRecord {
  char kind = 0;
  std::optional<MessageIdentity> identity;
  std::uint64_t offset = 0;
  std::string_view file;
};

// One line of the state file; nullopt for a line that is not whole (a killed run's last).
std::optional<StateRecord> ParseStateRecord(std::string_view line) {
  std::string_view fields[4];
  for (int i = 0; i < 3; ++i) {
    std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  fields[3] = line;
  StateRecord record;
  if (fields[0].size() != 1 || (fields[0][0] != kBegunRecord && fields[0][0] != kClosedRecord)) {
    return std::nullopt;
  }
  record.kind = fields[0][0];
  if (fields[1] != kNoIdentity) {
    record.identity = ParseIdentity(fields[1]);
    if (!record.identity) return std::nullopt;
  }
  if (fields[2].empty() || fields[2].size() > 19) return std::nullopt;
  for (char c : fields[2]) {
    if (c < '0' || c > '9') return std::nullopt;
    record.offset = record.offset * 10 + static_cast<std::uint64_t>(c - '0');
  }
  record.file = fields[3];
  return record;
}

// A staging file of an .eml writer whose process is gone.
bool IsLeftoverStagingFile(std::string_view name) {
  if (!name.starts_with(kEmlStagingPrefix)) return false;
  name.remove_prefix(kEmlStagingPrefix.size());
  pid_t pid = 0;
  std::size_t digits = 0;
  for (; digits < name.size() && digits < 10 && name[digits] >= '0' && name[digits] <= '9';
       ++digits) {
    pid = pid * 10 + (name[digits] - '0');
  }
  if (digits == 0 || digits >= name.size() || name[digits] != '-') return false;
  return pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
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

std::optional<std::string> MboxWriter::ShortenedName(const std::string& display_path) const {
  if (!AnyLevelShortened(display_path, kMboxSuffix)) return std::nullopt;
  return MboxPath(display_path);
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
  const std::string state_path = root_ + "/" + std::string(kMboxStateName);
  state_text_ = ReadWholeFile(state_path);
  state_ = FileDescriptor(
      ::open(state_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!state_.valid()) return Failure(state_path, errno);
  // A line a killed run left unfinished ends here, so that the next one starts on its own line.
  if (!state_text_.empty() && state_text_.back() != '\n' && ::write(state_.get(), "\n", 1) != 1) {
    return Failure(state_path, errno);
  }
  return std::nullopt;
}

WriteOutcome MboxWriter::Record(char kind, const std::optional<MessageIdentity>& identity,
                                std::uint64_t offset) {
  std::string line(1, kind);
  line += '\t';
  line += identity ? identity->Hex() : std::string(kNoIdentity);
  line += '\t' + std::to_string(offset) + '\t' + current_path_.substr(root_.size() + 1) + '\n';
  // One write with O_APPEND: the line lands whole or (on a full disk) is reported.
  if (::write(state_.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    return Failure(root_ + "/" + std::string(kMboxStateName), errno == 0 ? ENOSPC : errno);
  }
  return std::nullopt;
}

MessagesPresent MboxWriter::Recorded(const std::string& path, FileDescriptor& file,
                                     std::uint64_t& size) {
  const std::string_view relative = std::string_view(path).substr(root_.size() + 1);
  MessagesPresent present;
  // The message begun last: whole once something later began or the file was closed after it.
  std::optional<StateRecord> begun;
  std::string_view text = state_text_;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) break;
    std::optional<StateRecord> record = ParseStateRecord(text.substr(0, end));
    text.remove_prefix(end + 1);
    if (!record || record->file != relative) continue;
    if (begun && record->offset > begun->offset && begun->identity) present.Add(*begun->identity);
    begun.reset();
    if (record->kind == kBegunRecord) begun = record;
  }
  if (begun && begun->offset <= size) {
    // A killed run began this message and never closed the file: cut it away (it is written
    // again), but only where the file still shows a message of ours.
    char start[kFromLineStart.size()] = {};
    bool ours = begun->offset == size ||
                (::pread(file.get(), start, sizeof start, static_cast<off_t>(begun->offset)) ==
                     static_cast<ssize_t>(sizeof start) &&
                 std::string_view(start, sizeof start) == kFromLineStart);
    if (ours && ::ftruncate(file.get(), static_cast<off_t>(begun->offset)) == 0) {
      size = begun->offset;
    }
  }
  return present;
}

WriteOutcome MboxWriter::CloseCurrent() {
  if (!current_.valid()) return std::nullopt;
  if (!current_.Close()) return Failure(current_path_, errno);
  return Record(kClosedRecord, std::nullopt, current_size_);
}

WriteOutcome MboxWriter::Open(const std::string& path) {
  if (current_.valid() && path == current_path_) return std::nullopt;
  if (WriteOutcome closed = CloseCurrent()) return closed;
  int error = 0;
  if (!MakeFolders(Parent(path), error)) return Failure(Parent(path), error);
  std::string_view separator;
  FileDescriptor fd;
  bool existed = false;
  if (accepted_.contains(path)) {
    fd = FileDescriptor(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  } else {
    fd = FileDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid() && errno == EEXIST) {
      if (!append_) return WriteError{path, "exists; give --append to add to it"};
      existed = true;
      fd = FileDescriptor(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    }
  }
  if (!fd.valid()) return Failure(path, errno);
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return Failure(path, errno);
  std::uint64_t size = static_cast<std::uint64_t>(status.st_size);
  if (existed) {
    present_[path] = Recorded(path, fd, size);
    separator = SeparatorAfter(FileTail(path));
  } else if (!accepted_.contains(path)) {
    present_[path] = MessagesPresent();
  }
  current_ = std::move(fd);
  current_path_ = path;
  current_size_ = size;
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

bool MboxWriter::AlreadyThere(const std::string& display_path, const MessageIdentity& identity) {
  const std::string path = MboxPath(display_path);
  if (Open(path)) return false;  // AddMessage reports why
  return present_[path].Take(identity);
}

WriteOutcome MboxWriter::WriteMessage(const HandedOverMessage& message) {
  // The file as the caller has it open (its first bytes already read), or opened here.
  FileDescriptor opened;
  int source = -1;
  std::string_view head;
  if (message.bytes) {
    head = *message.bytes;  // the whole message
  } else if (message.open) {
    source = message.open->fd;
    head = message.open->head;
  } else {
    opened = FileDescriptor(::open(message.path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!opened.valid()) return Failure(message.path, errno);
    source = opened.get();
  }
  if (WriteOutcome recorded = Record(kBegunRecord, message.identity, current_size_)) {
    return recorded;
  }
  std::string out = FromLine(message.sender, message.time.value_or(std::time(nullptr)));
  LineEndConverter line_ends(to_lf_);
  StateHeaderWriter state_headers(message.state);
  MboxrdQuoter quoter;
  std::vector<char> buffer;
  std::string converted, rewritten;
  std::uint64_t done = std::min(message.start, message.length);
  char last = '\n';
  pending_ = 0;
  while (done < message.length) {
    const std::uint64_t left = message.length - done;
    std::string_view piece;
    if (done < head.size()) {
      piece =
          head.substr(static_cast<std::size_t>(done),
                      static_cast<std::size_t>(std::min<std::uint64_t>(left, head.size() - done)));
    } else {
      if (buffer.empty()) {
        buffer.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left, kReadPiece)));
      }
      std::size_t want = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
      ssize_t count = ::pread(source, buffer.data(), want, static_cast<off_t>(done));
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) break;
      piece = std::string_view(buffer.data(), static_cast<std::size_t>(count));
    }
    done += piece.size();
    const bool at_end = done == message.length;
    line_ends.Feed(piece, converted);
    if (at_end) line_ends.Finish(converted);
    state_headers.Feed(converted, rewritten);
    converted.clear();
    if (!rewritten.empty()) last = rewritten.back();
    quoter.Feed(rewritten, out);
    rewritten.clear();
    // A message is written in as few pieces as memory allows, most of them in one with its end.
    if (out.size() >= kReadPiece) {
      if (WriteOutcome written = WriteAt(out)) return written;
      out.clear();
    }
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

std::optional<std::string> EmlWriter::ShortenedName(const std::string& display_path) const {
  if (!AnyLevelShortened(display_path, kEmlSuffix)) return std::nullopt;
  return FolderPath(display_path);
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

bool EmlWriter::AlreadyThere(const std::string& display_path, const MessageIdentity& identity) {
  const std::string folder = FolderPath(display_path);
  auto [found, added] = present_.try_emplace(folder);
  if (added) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    while (dir) {
      const dirent* entry = ::readdir(dir.get());
      if (entry == nullptr) break;
      const std::string_view name = entry->d_name;
      const std::string path = folder + "/" + entry->d_name;
      if (IsLeftoverStagingFile(name)) {
        ::unlink(path.c_str());
        continue;
      }
      struct stat status {};
      if (!name.ends_with(kEmlSuffix) || ::stat(path.c_str(), &status) != 0 ||
          !S_ISREG(status.st_mode)) {
        continue;
      }
      if (std::optional<MessageIdentity> there =
              IdentifyMessage(path, static_cast<std::uint64_t>(status.st_size))) {
        found->second.Add(*there);
      }
    }
  }
  return found->second.Take(identity);
}

WriteOutcome EmlWriter::AddMessage(const std::string& display_path,
                                   const HandedOverMessage& message) {
  if (WriteOutcome made = CreateFolder(display_path)) return made;
  std::string folder = FolderPath(display_path);
  unsigned& number = next_number_.try_emplace(folder, 1).first->second;
  // A copy is made under a hidden name in the folder and renamed, so that a message never appears
  // cut under its final name.
  const std::string staging = folder + "/" + std::string(kEmlStagingPrefix) +
                              std::to_string(::getpid()) + "-" + std::to_string(++staging_number_);
  int error = 0;
  HandedOverMessage whole = message;  // .eml keeps every byte as handed over
  whole.start = 0;
  std::optional<PreparedMessage> prepared;
  if (message.bytes) {
    const std::string_view bytes = HeldMessageBytes(whole, /*converted=*/nullptr);
    if (!WriteNewFile(staging, bytes, message.time, error)) return Failure(staging, error);
    prepared = PreparedMessage{staging, bytes.size(), true};
  } else {
    prepared = PrepareMessage(whole, /*to_lf=*/false, staging, error);
  }
  if (!prepared) return Failure(message.owned ? message.path : staging, error);
  PlaceResult placed = PlaceResult::kExists;
  std::string target;
  bool renamed = false;
  while (placed == PlaceResult::kExists) {
    char name[32];
    std::snprintf(name, sizeof name, "/%06u.eml", number++);
    target = folder + name;
    placed = MoveToNewName(prepared->path, target, staging + ".copy", error, &renamed);
  }
  if (prepared->staged && !renamed) ::unlink(prepared->path.c_str());
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
