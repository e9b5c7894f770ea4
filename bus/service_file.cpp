#include "bus/service_file.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "bus/bus_names.h"

namespace kv::bus {
namespace {

// The comment line that records one registered class: the prefix, the ProgID, a blank, the class
// ID.
constexpr std::string_view kClassLinePrefix = "# Class ";
constexpr mode_t kDataFolderMode = 0700;  // XDG base directories are private to the user
constexpr mode_t kServiceFileMode = 0644;

// Creates `path` and its missing parents.
bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  std::string::size_type slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) {
    return false;
  }
  return mkdir(path.c_str(), kDataFolderMode) == 0 || errno == EEXIST;
}

std::string HomeFolder() {
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

bool IsSafeInExec(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("/._+-,:@=").find(c) != std::string_view::npos;
}

}  // namespace

ServiceFileRegistration::ServiceFileRegistration(std::string services_folder,
                                                 std::string server_path)
    : folder_(std::move(services_folder)),
      server_path_(std::move(server_path)),
      file_path_(folder_ + "/" + kServiceName + ".service") {}

std::string ServiceFileRegistration::DefaultServicesFolder() {
  const char* data_home = getenv("XDG_DATA_HOME");
  std::string base;
  // Relative values are to be ignored, as the base directory rules say.
  if (data_home != nullptr && data_home[0] == '/') {
    base = data_home;
  } else {
    std::string home = HomeFolder();
    if (home.empty()) return "";
    base = home + "/.local/share";
  }
  return base + "/dbus-1/services";
}

std::string ServiceFileRegistration::RunningProgram() {
  std::string buffer(4096, '\0');
  ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return "";
  buffer.resize(static_cast<std::size_t>(length));
  return buffer;
}

std::string ExecWord(const std::string& word) {
  if (!word.empty() && std::all_of(word.begin(), word.end(), IsSafeInExec)) return word;
  // Single quotes keep everything literally; a quote itself closes, is escaped and reopens.
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ServiceFileRegistration::FileText(const std::vector<std::string>& prog_ids) const {
  std::string text =
      "# The message import server's classes for this user, written by kvfltrs.\n"
      "# Run \"kvfltrs /Unregister\" to remove them; do not edit.\n";
  for (const FilterClass& filter_class : FilterClasses()) {
    if (std::find(prog_ids.begin(), prog_ids.end(), filter_class.prog_id) == prog_ids.end()) {
      continue;
    }
    text += std::string(kClassLinePrefix) + std::string(filter_class.prog_id) + " " +
            std::string(filter_class.clsid) + "\n";
  }
  text += "[D-BUS Service]\n";
  text += std::string("Name=") + kServiceName + "\n";
  text += "Exec=" + ExecWord(server_path_) + " -Embedding\n";
  return text;
}

std::vector<std::string> ServiceFileRegistration::RegisteredProgIds() const {
  std::ifstream file(file_path_);
  std::vector<std::string> listed;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.starts_with(kClassLinePrefix)) continue;
    std::string rest = line.substr(kClassLinePrefix.size());
    listed.push_back(rest.substr(0, rest.find(' ')));
  }
  std::vector<std::string> prog_ids;
  for (const FilterClass& filter_class : FilterClasses()) {
    if (std::find(listed.begin(), listed.end(), filter_class.prog_id) != listed.end()) {
      prog_ids.emplace_back(filter_class.prog_id);
    }
  }
  return prog_ids;
}

bool ServiceFileRegistration::Add(const FilterClass& filter_class) {
  if (folder_.empty() || server_path_.empty()) return false;
  std::vector<std::string> prog_ids = RegisteredProgIds();
  prog_ids.emplace_back(filter_class.prog_id);
  return Write(prog_ids);
}

bool ServiceFileRegistration::Remove(const FilterClass& filter_class) {
  std::vector<std::string> prog_ids = RegisteredProgIds();
  std::erase(prog_ids, std::string(filter_class.prog_id));
  if (!prog_ids.empty()) return Write(prog_ids);
  struct stat info {};
  if (lstat(file_path_.c_str(), &info) != 0) return errno == ENOENT;
  // Only a file of ours is removed; whatever else sits under the name is left alone.
  if (!S_ISREG(info.st_mode)) return false;
  return unlink(file_path_.c_str()) == 0 || errno == ENOENT;
}

bool ServiceFileRegistration::Write(const std::vector<std::string>& prog_ids) {
  if (!MakeFolders(folder_)) return false;
  std::string temporary = file_path_ + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  std::string text = FileText(prog_ids);
  bool written = fchmod(fd, kServiceFileMode) == 0;
  for (std::size_t done = 0; written && done < text.size();) {
    ssize_t count = write(fd, text.data() + done, text.size() - done);
    written = count > 0 || (count < 0 && errno == EINTR);
    if (count > 0) done += static_cast<std::size_t>(count);
  }
  written = close(fd) == 0 && written;
  if (!written || rename(temporary.c_str(), file_path_.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace kv::bus
