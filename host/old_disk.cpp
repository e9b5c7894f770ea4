#include "host/old_disk.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/implementation_support.h"
#include "platform/posix/hive_registry.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/registry.h"
#include "platform/registry_export.h"
#include "platform/stored_registry.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;

// The profiles Windows keeps for no one person, left out of the list.
constexpr std::string_view kSharedProfiles[] = {
    "All Users",    "Default User",   "Default",          "Public",
    "LocalService", "NetworkService", "Default.migrated", "TEMP"};
// Where the profiles lie: Windows 2000/XP, Vista and later, NT 4, Windows 95/98/ME.
const std::vector<std::vector<std::string_view>> kProfilePlaces = {
    {"Documents and Settings"}, {"Users"}, {"WINNT", "Profiles"}, {"Windows", "Profiles"}};

constexpr const char* kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr const char* kAbsoluteShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kExplorerKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
constexpr const char* kLogonUserValue = "Logon User Name";
constexpr const char* kEnvironmentKey = "Environment";
// Buffers generous enough for any value these keys hold; a larger one is passed over.
constexpr std::size_t kLargeBuffer = 64 * 1024;
// A registry export larger than this is no user's registry.
constexpr std::uintmax_t kMaxExportSize = 256 * 1024 * 1024;
// Entries a "*" step of a well-known folder looks at.
constexpr int kMaxWildcardEntries = 256;

// Where each client kept its store unless told otherwise.
struct WellKnownFolders {
  std::string_view filter;
  std::vector<std::string_view> patterns;
};
const std::vector<WellKnownFolders> kWellKnownFolders = {
    {"oe4",
     {"%APPDATA%\\Microsoft\\Outlook Express\\Mail",
      "%windir%\\Application Data\\Microsoft\\Outlook Express\\Mail"}},
    {"oe5",
     {"%LOCALAPPDATA%\\Identities\\*\\Microsoft\\Outlook Express",
      "%APPDATA%\\Identities\\*\\Microsoft\\Outlook Express",
      "%windir%\\Application Data\\Identities\\*\\Microsoft\\Outlook Express"}},
    {"netscape", {"%ProgramFiles%\\Netscape\\Users\\*\\Mail"}},
    {"eudora",
     {"%ProgramFiles%\\Qualcomm\\Eudora Mail", "%ProgramFiles%\\Qualcomm\\Eudora",
      "%ProgramFiles%\\Eudora", "%SystemDrive%\\Eudora"}},
};

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c; }

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return UpperAscii(c); });
  return upper;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && UpperAscii(a) == UpperAscii(b);
}

// The entry of `dir` named `name`: spelled so, or else the first in name order that differs only
// in ASCII case.
std::optional<fs::path> FindChild(const fs::path& dir, std::string_view name) {
  std::error_code error;
  if (fs::exists(dir / name, error)) return dir / name;
  std::vector<fs::path> matches;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    if (SameIgnoringCase(it->path().filename().string(), name)) matches.push_back(it->path());
  }
  if (matches.empty()) return std::nullopt;
  return *std::min_element(matches.begin(), matches.end());
}

std::optional<fs::path> FindPath(const fs::path& dir, const std::vector<std::string_view>& steps) {
  fs::path at = dir;
  for (std::string_view step : steps) {
    std::optional<fs::path> next = FindChild(at, step);
    if (!next) return std::nullopt;
    at = *next;
  }
  return at;
}

bool IsDirectory(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

// "C:\a\b" for `path` below the drive's root folder (UTF-8).
std::string WindowsPath(const fs::path& root, const fs::path& path) {
  std::string windows = "C:";
  for (const fs::path& part : path.lexically_relative(root)) {
    if (part == ".") continue;
    windows += "\\" + part.string();
  }
  return windows == "C:" ? "C:\\" : windows;
}

bool IsSharedProfile(const std::string& name) {
  return std::any_of(std::begin(kSharedProfiles), std::end(kSharedProfiles),
                     [&](std::string_view shared) { return SameIgnoringCase(name, shared); });
}

std::optional<std::string> ReadText(platform::Registry& registry, const std::string& key_path,
                                    const std::string& name, std::uint32_t* type = nullptr) {
  std::optional<platform::RegistryKey> key = registry.OpenCurrentUserKey(key_path);
  if (!key) return std::nullopt;
  platform::RegistryValue value;
  platform::RegistryResult result = registry.QueryValue(*key, name, kLargeBuffer, value);
  registry.CloseKey(*key);
  if (result != platform::RegistryResult::kSuccess) return std::nullopt;
  if (type != nullptr) *type = value.type;
  return value.Text();
}

std::vector<platform::RegistryValue> AllValues(platform::Registry& registry,
                                               const std::string& key_path) {
  std::vector<platform::RegistryValue> values;
  std::optional<platform::RegistryKey> key = registry.OpenCurrentUserKey(key_path);
  if (!key) return values;
  platform::RegistryValue value;
  for (std::uint32_t index = 0;; ++index) {
    platform::RegistryResult result =
        registry.EnumValue(*key, index, kLargeBuffer, kLargeBuffer, value);
    if (result == platform::RegistryResult::kMoreData) continue;
    if (result != platform::RegistryResult::kSuccess) break;
    values.push_back(value);
  }
  registry.CloseKey(*key);
  return values;
}

// The folder a shell folder value names, expanded; nullopt when the registry names none.
std::optional<std::string> ShellFolder(platform::Registry& registry, FixedEnvironment& environment,
                                       const std::string& name) {
  std::optional<std::string> folder = ReadText(registry, kShellFoldersKey, name);
  if (!folder || folder->empty()) folder = ReadText(registry, kAbsoluteShellFoldersKey, name);
  if (!folder || folder->empty()) return std::nullopt;
  return environment.ExpandEnvironmentStrings(*folder);
}

// `pattern` with each "*" step replaced by the folders found there; only folders that exist.
void ExpandWildcardSteps(platform::FileSystem& files, const std::string& done,
                         std::string_view rest, std::vector<std::string>& found) {
  if (rest.empty()) {
    std::optional<platform::FileStatus> status = files.Status(done);
    if (status && status->IsDirectory()) found.push_back(done);
    return;
  }
  std::size_t separator = rest.find('\\');
  std::string_view step = rest.substr(0, separator);
  std::string_view after = separator == std::string_view::npos ? "" : rest.substr(separator + 1);
  if (step != "*") {
    ExpandWildcardSteps(files, done.empty() ? std::string(step) : done + "\\" + std::string(step),
                        after, found);
    return;
  }
  std::unique_ptr<platform::FileFinder> finder = files.FindFirst(done + "\\*");
  int seen = 0;
  while (finder && seen++ < kMaxWildcardEntries) {
    std::optional<platform::FindEntry> entry = finder->Next();
    if (!entry) break;
    if (entry->IsDirectory()) ExpandWildcardSteps(files, done + "\\" + entry->name, after, found);
  }
}

}  // namespace

void FixedEnvironment::Set(const std::string& name, const std::string& value) {
  variables_[UpperAscii(name)] = {name, value};
}

std::optional<std::string> FixedEnvironment::Get(const std::string& name) const {
  auto it = variables_.find(UpperAscii(name));
  if (it == variables_.end()) return std::nullopt;
  return it->second.second;
}

std::string FixedEnvironment::ExpandEnvironmentStrings(const std::string& text) {
  return platform::ExpandPercentVariables(text, [&](const std::string& name) { return Get(name); });
}

std::vector<std::pair<std::string, std::string>> FixedEnvironment::Variables() const {
  std::vector<std::pair<std::string, std::string>> list;
  for (const auto& [upper, variable] : variables_) list.push_back(variable);
  return list;
}

OldDisk ExamineOldDisk(const fs::path& root) {
  OldDisk disk;
  disk.root = root;
  std::optional<fs::path> windows;
  for (std::string_view name : {"WINDOWS", "WINNT"}) {
    std::optional<fs::path> candidate = FindChild(root, name);
    if (!candidate || !IsDirectory(*candidate)) continue;
    // A disk upgraded from one system to another may hold both; the one in use has system32.
    if (!windows || FindChild(*candidate, "system32")) windows = candidate;
  }
  if (windows) {
    disk.windows_folder = WindowsPath(root, *windows);
    disk.windows9x = FindChild(*windows, "SYSTEM.DAT") && FindChild(*windows, "USER.DAT");
  }

  std::vector<fs::path> seen;
  for (const std::vector<std::string_view>& place : kProfilePlaces) {
    std::optional<fs::path> folder = FindPath(root, place);
    if (!folder || !IsDirectory(*folder)) continue;
    std::error_code error;
    for (fs::directory_iterator it(*folder, error), end; !error && it != end; it.increment(error)) {
      const fs::path& profile = it->path();
      std::string name = profile.filename().string();
      if (!IsDirectory(profile) || IsSharedProfile(name)) continue;
      std::optional<fs::path> registry = FindChild(profile, "NTUSER.DAT");
      if (!registry) registry = FindChild(profile, "USER.DAT");
      if (!registry) continue;
      fs::path canonical = fs::weakly_canonical(profile, error);
      if (std::find(seen.begin(), seen.end(), canonical) != seen.end()) continue;
      seen.push_back(canonical);
      disk.profiles.push_back({name, profile, WindowsPath(root, profile), *registry, false});
    }
  }
  if (disk.profiles.empty() && disk.windows9x) {
    disk.profiles.push_back(
        {"default", *windows, disk.windows_folder, *FindChild(*windows, "USER.DAT"), true});
  }
  std::sort(disk.profiles.begin(), disk.profiles.end(),
            [](const UserProfile& a, const UserProfile& b) {
              return UpperAscii(a.name) < UpperAscii(b.name);
            });
  return disk;
}

std::optional<std::string> SystemCodePage(const OldDisk& disk) {
  // The system hive's keys are plain ASCII; any code page reads them.
  if (disk.windows_folder.empty() || disk.windows9x) return std::nullopt;
  fs::path windows = disk.root / fs::path(disk.windows_folder.substr(3));
  std::optional<fs::path> hive_file = FindPath(windows, {"system32", "config", "SYSTEM"});
  if (!hive_file) return std::nullopt;
  platform::HiveOpenResult hive = platform::OpenHiveFile(hive_file->string());
  if (!hive.tree) return std::nullopt;
  platform::IconvCodePage ascii("WINDOWS-1252");
  platform::StoredRegistry registry(std::move(hive.tree), ascii);
  std::uint32_t current = 1;
  if (std::optional<platform::RegistryKey> select = registry.OpenCurrentUserKey("Select")) {
    platform::RegistryValue value;
    if (registry.QueryValue(*select, "Current", 4, value) == platform::RegistryResult::kSuccess &&
        value.type == platform::kRegDword && value.data.size() == 4) {
      current = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                (static_cast<std::uint32_t>(value.data[3]) << 24);
    }
    registry.CloseKey(*select);
  }
  char control_set[32];
  std::snprintf(control_set, sizeof control_set, "ControlSet%03u", static_cast<unsigned>(current));
  std::optional<std::string> acp =
      ReadText(registry, std::string(control_set) + "\\Control\\Nls\\CodePage", "ACP");
  if (!acp || acp->empty() || acp->size() > 5 ||
      !std::all_of(acp->begin(), acp->end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return "CP" + *acp;
}

const UserProfile* ChooseProfile(const OldDisk& disk, const std::optional<std::string>& user,
                                 std::string& error) {
  std::string names;
  for (const UserProfile& profile : disk.profiles) {
    names += (names.empty() ? "" : ", ") + profile.name;
  }
  if (disk.profiles.empty()) {
    error = "no user profile with a registry file under " + disk.root.string() +
            " (looked in Documents and Settings, Users, WINNT\\Profiles and Windows\\Profiles)";
    return nullptr;
  }
  if (user) {
    for (const UserProfile& profile : disk.profiles) {
      if (SameIgnoringCase(profile.name, *user)) return &profile;
    }
    error =
        "no profile \"" + *user + "\" under " + disk.root.string() + " (profiles: " + names + ")";
    return nullptr;
  }
  if (disk.profiles.size() == 1) return &disk.profiles.front();
  error = "several user profiles under " + disk.root.string() + ": " + names +
          "; choose one with --user NAME";
  return nullptr;
}

UserRegistry OpenUserRegistry(const fs::path& file, platform::CodePage& code_page,
                              platform::Diagnostics& diagnostics) {
  UserRegistry result;
  const std::string name = file.string();
  std::ifstream in(file, std::ios::binary);
  char magic[4] = {};
  if (!in || IsDirectory(file)) {
    result.error = name + ": cannot be read";
    return result;
  }
  in.read(magic, sizeof magic);
  const std::string start(magic, static_cast<std::size_t>(in.gcount()));
  if (start == "regf" || start == "CREG") {
    platform::HiveOpenResult hive = platform::OpenHiveFile(name);
    if (!hive.tree) {
      result.windows9x = hive.problem == platform::HiveProblem::kWindows9x;
      result.error = name + ": " + hive.error;
      return result;
    }
    result.registry =
        std::make_unique<platform::StoredRegistry>(std::move(hive.tree), code_page, &diagnostics);
    return result;
  }

  std::error_code error;
  std::uintmax_t size = fs::file_size(file, error);
  if (error || size > kMaxExportSize) {
    result.error = name + ": neither a registry hive nor a registry export of a usable size";
    return result;
  }
  in.seekg(0);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  platform::RegistryExport parsed = platform::ParseRegistryExport(ByteView(bytes), code_page, name);
  for (const std::string& problem : parsed.problems) {
    result.notes.push_back(name + ": " + problem + " (skipped)");
  }
  if (!parsed.tree) {
    result.error = name + ": " + parsed.error;
    return result;
  }
  if (parsed.root != "HKEY_CURRENT_USER") {
    result.notes.push_back(name + ": taking " + parsed.root + " as the user's registry");
  }
  result.registry =
      std::make_unique<platform::StoredRegistry>(std::move(parsed.tree), code_page, &diagnostics);
  return result;
}

FixedEnvironment UserEnvironment(const OldDisk& disk, const UserProfile& profile,
                                 platform::Registry& registry, platform::CodePage& code_page) {
  FixedEnvironment environment;
  auto ansi = [&](const std::string& utf8) { return code_page.FromUtf8(utf8); };
  const std::string windows =
      ansi(disk.windows_folder.empty() ? "C:\\WINDOWS" : disk.windows_folder);
  const std::string user_folder = ansi(profile.windows_folder);
  const fs::path profiles = profile.folder.parent_path();
  const bool users_layout = SameIgnoringCase(profiles.filename().string(), "Users");

  environment.Set("SystemDrive", "C:");
  environment.Set("SystemRoot", windows);
  environment.Set("windir", windows);
  environment.Set("USERPROFILE", user_folder);
  environment.Set("HOMEDRIVE", "C:");
  environment.Set("HOMEPATH", user_folder.size() > 2 ? user_folder.substr(2) : "\\");
  std::optional<std::string> logon = ReadText(registry, kExplorerKey, kLogonUserValue);
  environment.Set("USERNAME", logon && !logon->empty() ? *logon : ansi(profile.name));
  environment.Set("ALLUSERSPROFILE", users_layout
                                         ? "C:\\ProgramData"
                                         : ansi(WindowsPath(disk.root, profiles / "All Users")));
  std::optional<fs::path> program_files = FindChild(disk.root, "Program Files");
  environment.Set("ProgramFiles", program_files ? ansi(WindowsPath(disk.root, *program_files))
                                                : "C:\\Program Files");
  environment.Set("CommonProgramFiles", *environment.Get("ProgramFiles") + "\\Common Files");

  const std::string base = profile.system_wide ? windows : user_folder;
  environment.Set("APPDATA", ShellFolder(registry, environment, "AppData")
                                 .value_or(base + (users_layout ? "\\AppData\\Roaming"
                                                                : "\\Application Data")));
  environment.Set("LOCALAPPDATA",
                  ShellFolder(registry, environment, "Local AppData")
                      .value_or(base + (users_layout ? "\\AppData\\Local"
                                                     : "\\Local Settings\\Application Data")));
  const std::string temp =
      users_layout ? *environment.Get("LOCALAPPDATA") + "\\Temp" : base + "\\Local Settings\\Temp";
  environment.Set("TEMP", temp);
  environment.Set("TMP", temp);

  // The user's own variables, as the system added them at logon.
  for (const platform::RegistryValue& value : AllValues(registry, kEnvironmentKey)) {
    if (value.name.empty()) continue;
    std::string text = value.Text();
    if (value.type == platform::kRegExpandSz) text = environment.ExpandEnvironmentStrings(text);
    environment.Set(value.name, text);
  }
  return environment;
}

std::vector<std::string> WellKnownStoreFolders(std::string_view filter, platform::FileSystem& files,
                                               platform::Environment& environment) {
  std::vector<std::string> found;
  for (const WellKnownFolders& entry : kWellKnownFolders) {
    if (entry.filter != filter) continue;
    for (std::string_view pattern : entry.patterns) {
      std::string expanded = environment.ExpandEnvironmentStrings(std::string(pattern));
      if (expanded.find('%') != std::string::npos) continue;
      std::vector<std::string> matches;
      ExpandWildcardSteps(files, "", expanded, matches);
      for (const std::string& match : matches) {
        std::string native = files.NativePath(match);
        bool known = std::any_of(found.begin(), found.end(), [&](const std::string& other) {
          return files.NativePath(other) == native;
        });
        if (!known) found.push_back(match);
      }
    }
  }
  return found;
}

namespace {

// With a registry file and no disk, USERPROFILE is the folder above the application data folder
// the registry names, when it names one in the usual place.
FixedEnvironment RegistryEnvironment(platform::Registry& registry) {
  FixedEnvironment environment;
  environment.Set("SystemDrive", "C:");
  std::optional<std::string> app_data = ReadText(registry, kAbsoluteShellFoldersKey, "AppData");
  for (std::string_view tail : {"\\Application Data", "\\AppData\\Roaming"}) {
    if (app_data && app_data->size() > tail.size() &&
        SameIgnoringCase(std::string_view(*app_data).substr(app_data->size() - tail.size()),
                         tail)) {
      environment.Set("USERPROFILE", app_data->substr(0, app_data->size() - tail.size()));
    }
  }
  if (std::optional<std::string> folder = ShellFolder(registry, environment, "AppData")) {
    environment.Set("APPDATA", *folder);
  }
  if (std::optional<std::string> folder = ShellFolder(registry, environment, "Local AppData")) {
    environment.Set("LOCALAPPDATA", *folder);
  }
  for (const platform::RegistryValue& value : AllValues(registry, kEnvironmentKey)) {
    if (value.name.empty()) continue;
    std::string text = value.Text();
    if (value.type == platform::kRegExpandSz) text = environment.ExpandEnvironmentStrings(text);
    environment.Set(value.name, text);
  }
  return environment;
}

}  // namespace

OldSystem OpenProfile(const OldDisk& disk, const UserProfile& profile,
                      platform::CodePage& code_page, platform::Diagnostics& diagnostics) {
  OldSystem system;
  system.user = profile.name;
  system.drives['C'] = disk.root.string();
  UserRegistry opened = OpenUserRegistry(profile.registry_file, code_page, diagnostics);
  system.notes = opened.notes;
  if (opened.registry) {
    system.registry = std::move(opened.registry);
  } else {
    system.registry = std::make_unique<platform::MemoryRegistry>();
    system.registry_readable = false;
    system.notes.push_back(
        opened.windows9x
            ? profile.registry_file.string() +
                  " is a Windows 95/98/ME registry, whose format kvimport does not read; "
                  "looking for the stores in the folders where each mail client kept them by "
                  "default"
            : opened.error +
                  "; looking for the stores in the folders where each mail client "
                  "kept them by default");
  }
  system.environment = UserEnvironment(disk, profile, *system.registry, code_page);
  return system;
}

std::optional<OldSystem> OpenOldSystem(const CommandLine& line, platform::CodePage& code_page,
                                       platform::Diagnostics& diagnostics, std::string& error) {
  if (line.disk) {
    std::error_code failure;
    if (!fs::is_directory(*line.disk, failure)) {
      error = "--disk " + *line.disk + " is not a folder";
      return std::nullopt;
    }
    OldDisk disk = ExamineOldDisk(*line.disk);
    const UserProfile* profile = ChooseProfile(disk, line.user, error);
    if (profile == nullptr) return std::nullopt;
    return OpenProfile(disk, *profile, code_page, diagnostics);
  }
  if (!line.registry) {
    error = "no --disk or --registry given";
    return std::nullopt;
  }
  UserRegistry opened = OpenUserRegistry(*line.registry, code_page, diagnostics);
  if (!opened.registry) {
    error = opened.error;
    return std::nullopt;
  }
  OldSystem system;
  system.notes = opened.notes;
  if (line.drives.empty()) {
    system.notes.push_back(
        "no --drive given: the registry's paths (C:\\...) do not lead to "
        "files here unless a drive is mapped, for example --drive C=/mnt/old");
  }
  system.registry = std::move(opened.registry);
  system.environment = RegistryEnvironment(*system.registry);
  return system;
}

std::string WellKnownLocation(std::string_view filter, platform::FileSystem& files,
                              platform::Environment& environment, std::string& error) {
  std::vector<std::string> folders = WellKnownStoreFolders(filter, files, environment);
  if (folders.size() <= 1) return folders.empty() ? std::string() : folders.front();
  error = "several folders may hold the " + std::string(filter) + " store:";
  for (const std::string& folder : folders) error += " \"" + folder + "\"";
  error += "; choose one with --store";
  return {};
}

}  // namespace kv::host
