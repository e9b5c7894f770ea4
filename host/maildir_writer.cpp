#include "host/maildir_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <memory>

#include "app/import_filter.h"
#include "host/folder_names.h"
#include "host/output_files.h"

namespace kv::host {
namespace {

// Attempts at a unique name before giving up; a clash needs another writer with our pid.
constexpr int kNameAttempts = 100;

// The host name as a Maildir file name may hold it: "/", ":" and "," written as octal escapes.
std::string MaildirHostName() {
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') return "localhost";
  std::string host;
  for (const char* c = buffer; *c != '\0'; ++c) {
    if (*c == '/') {
      host += "\\057";
    } else if (*c == ':') {
      host += "\\072";
    } else if (*c == ',') {
      host += "\\054";
    } else {
      host.push_back(*c);
    }
  }
  return host;
}

WriteError Failure(const std::string& path, int error) { return {path, ErrorText(error)}; }

// Marks the identity inside the unique part of a file name.
constexpr char kIdentityMark = 'K';
constexpr std::size_t kIdentityDigits = 32;

// The identity in a Maildir file name "<time>.<unique>.<host>...", when its unique part has one.
std::optional<MessageIdentity> IdentityInName(std::string_view name) {
  std::size_t first_dot = name.find('.');
  if (first_dot == std::string_view::npos) return std::nullopt;
  std::string_view unique = name.substr(first_dot + 1);
  unique = unique.substr(0, unique.find('.'));
  std::size_t mark = unique.find(kIdentityMark);
  if (mark == std::string_view::npos || unique.size() - mark - 1 < kIdentityDigits) {
    return std::nullopt;
  }
  return ParseIdentity(unique.substr(mark + 1, kIdentityDigits));
}

// Adds the identities named by the files of one folder (cur/ or new/) to `present`.
void ReadIdentities(const std::string& folder, MessagesPresent& present) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (std::optional<MessageIdentity> identity = IdentityInName(entry->d_name)) {
      present.Add(*identity);
    }
  }
}

}  // namespace

MaildirPlacement PlacementForState(std::int32_t state) {
  if ((state & kStateReceived) != 0) {
    if ((state & kStateUnread) != 0) return {true, ""};
    return {false, ":2,S"};
  }
  if ((state & kStateNotSent) != 0) return {false, ":2,DS"};
  return {false, ":2,S"};
}

MaildirWriter::MaildirWriter(std::string root, std::string inbox, bool to_lf, bool unnamed_files)
    : root_(std::move(root)),
      inbox_(std::move(inbox)),
      to_lf_(to_lf),
      link_unnamed_(unnamed_files),
      host_(MaildirHostName()),
      pid_(::getpid()) {}

std::string MaildirWriter::FolderPath(const std::string& directory) const {
  return directory.empty() ? root_ : root_ + "/" + directory;
}

WriteOutcome MaildirWriter::MakeMaildir(const std::string& directory) {
  if (ready_.contains(directory)) return std::nullopt;
  std::string folder = FolderPath(directory);
  int error = 0;
  for (const char* part : {"/cur", "/new", "/tmp"}) {
    if (!MakeFolders(folder + part, error)) return Failure(folder + part, error);
  }
  if (!directory.empty()) {
    std::string marker = folder + "/maildirfolder";
    int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return Failure(marker, errno);
    ::close(fd);
  }
  ready_.insert(directory);
  return std::nullopt;
}

WriteOutcome MaildirWriter::Start() { return MakeMaildir(""); }

WriteOutcome MaildirWriter::CreateFolder(const std::string& display_path) {
  return MakeMaildir(MaildirFolderDirectory(display_path, inbox_));
}

std::string MaildirWriter::UniqueName(std::uint64_t size,
                                      const std::optional<MessageIdentity>& identity) {
  struct timeval now {};
  ::gettimeofday(&now, nullptr);
  // Built in place: a name for every message, so no temporary strings.
  std::string name;
  name.reserve(96 + host_.size());
  auto number = [&name](std::uint64_t value) {
    char digits[20];
    name.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
  };
  number(static_cast<std::uint64_t>(now.tv_sec));
  name += ".M";
  number(static_cast<std::uint64_t>(now.tv_usec));
  name += 'P';
  number(static_cast<std::uint64_t>(pid_));
  name += 'Q';
  number(++counter_);
  if (identity) {
    name += kIdentityMark;
    name += identity->Hex();
  }
  name += '.';
  name += host_;
  name += ",S=";
  number(size);
  return name;
}

std::optional<std::string> MaildirWriter::ShortenedName(const std::string& display_path) const {
  bool shortened = false;
  std::string directory = MaildirFolderDirectory(display_path, inbox_, &shortened);
  if (!shortened) return std::nullopt;
  return FolderPath(directory);
}

bool MaildirWriter::AlreadyThere(const std::string& display_path, const MessageIdentity& identity) {
  const std::string& directory = DirectoryOf(display_path);
  auto [found, added] = present_.try_emplace(directory);
  if (added) {
    for (const char* part : {"/cur", "/new"}) {
      ReadIdentities(FolderPath(directory) + part, found->second);
    }
  }
  return found->second.Take(identity);
}

WriteOutcome MaildirWriter::AddMessage(const std::string& display_path,
                                       const HandedOverMessage& message) {
  moved_last_ = false;
  const std::string& directory = DirectoryOf(display_path);
  if (WriteOutcome made = MakeMaildir(directory)) return made;
  std::string folder = FolderPath(directory);
  MaildirPlacement placement = PlacementForState(message.state);

  int error = 0;
  if (message.bytes) return AddHeldMessage(folder, placement, message);
  // An owned file is changed in place; only a copy needs a name in tmp/.
  const std::string staging = message.owned ? std::string() : folder + "/tmp/" + UniqueName(0);
  std::optional<PreparedMessage> prepared = PrepareMessage(message, to_lf_, staging, error);
  if (!prepared) return Failure(message.owned ? message.path : staging, error);

  // The handed-over file (or its copy) goes straight to new/ or cur/ when it lies on the Maildir's
  // file system; otherwise it is copied through tmp/ and renamed.
  const std::string target_folder = folder + (placement.in_new ? "/new/" : "/cur/");
  std::string target;
  PlaceResult placed = PlaceResult::kExists;
  for (int attempt = 0; attempt < kNameAttempts && placed == PlaceResult::kExists; ++attempt) {
    const std::string name = UniqueName(prepared->length, message.identity);
    target = target_folder + name + placement.info;
    placed = MoveToNewName(prepared->path, target, folder + "/tmp/" + name, error, &moved_last_);
  }
  moved_last_ = moved_last_ && !prepared->staged;
  if (prepared->staged) ::unlink(prepared->path.c_str());
  if (placed != PlaceResult::kPlaced) {
    return Failure(target, placed == PlaceResult::kExists ? EEXIST : error);
  }
  last_written_ = target;
  return std::nullopt;
}

WriteOutcome MaildirWriter::OpenFolder(const std::string& folder) {
  if (open_.path == folder && open_.tmp.valid()) return std::nullopt;
  open_ = OpenDirectories();
  for (auto [part, descriptor] : {std::pair{"/tmp", &open_.tmp}, std::pair{"/cur", &open_.cur},
                                  std::pair{"/new", &open_.fresh}}) {
    const std::string path = folder + part;
    *descriptor = FileDescriptor(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!descriptor->valid()) {
      const int error = errno;
      open_ = OpenDirectories();
      return Failure(path, error);
    }
  }
  open_.path = folder;
  return std::nullopt;
}

WriteOutcome MaildirWriter::AddHeldMessage(const std::string& folder,
                                           const MaildirPlacement& placement,
                                           const HandedOverMessage& message) {
  // Written once into tmp/ under its final name and renamed into new/ or cur/: the message
  // appears there whole or not at all. Names are taken relative to the folder's open directories,
  // so that the path to them is not looked up again for every message.
  if (WriteOutcome opened = OpenFolder(folder)) return opened;
  const std::string_view bytes = HeldMessageBytes(message, to_lf_ ? &converted_ : nullptr);
  const std::string target_folder = folder + (placement.in_new ? "/new/" : "/cur/");
  const int target_descriptor = placement.in_new ? open_.fresh.get() : open_.cur.get();
  if (link_unnamed_) {
    if (std::optional<WriteOutcome> linked =
            LinkUnnamed(target_folder, target_descriptor, placement, bytes, message)) {
      return *linked;
    }
  }
  int error = EEXIST;
  std::string target;
  for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
    const std::string name = UniqueName(bytes.size(), message.identity);
    if (!WriteNewFile(name, bytes, message.time, error, open_.tmp.get())) {
      if (error == EEXIST) continue;
      return Failure(folder + "/tmp/" + name, error);
    }
    const std::string placed_name = name + placement.info;
    target = target_folder + placed_name;
    PlaceResult placed =
        RenameNoReplace(name, placed_name, error, open_.tmp.get(), target_descriptor);
    if (placed == PlaceResult::kPlaced) {
      last_written_ = target;
      return std::nullopt;
    }
    ::unlinkat(open_.tmp.get(), name.c_str(), 0);
    if (placed == PlaceResult::kExists) error = EEXIST;
  }
  return Failure(target.empty() ? folder + "/tmp" : target, error);
}

std::optional<WriteOutcome> MaildirWriter::LinkUnnamed(const std::string& target_folder,
                                                       int target_descriptor,
                                                       const MaildirPlacement& placement,
                                                       std::string_view bytes,
                                                       const HandedOverMessage& message) {
  int error = 0;
  std::optional<FileDescriptor> file =
      WriteUnnamedFile(target_descriptor, bytes, message.time, error);
  if (!file) {
    if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL) {
      return Failure(target_folder, error);
    }
    link_unnamed_ = false;
    return std::nullopt;
  }
  std::string name;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    name = UniqueName(bytes.size(), message.identity) + placement.info;
    if (LinkUnnamedFile(file->get(), target_descriptor, name.c_str(), link_by_descriptor_)) {
      if (!file->Close()) {
        error = errno;
        ::unlinkat(target_descriptor, name.c_str(), 0);
        return Failure(target_folder + name, error);
      }
      last_written_ = target_folder + name;
      return WriteOutcome();
    }
    if (errno == EEXIST) continue;
    // Without /proc on an older kernel (ENOENT) or on a file system without hard links (EPERM)
    // the writing through tmp/ takes over, and names any other error itself.
    link_unnamed_ = false;
    return std::nullopt;
  }
  return Failure(target_folder + name, EEXIST);
}

const std::string& MaildirWriter::DirectoryOf(const std::string& display_path) {
  if (!last_directory_ || last_directory_->first != display_path) {
    last_directory_.emplace(display_path, MaildirFolderDirectory(display_path, inbox_));
  }
  return last_directory_->second;
}

}  // namespace kv::host
