#include "support/old_disk_builder.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kUserShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
constexpr const char* kOe4Key = "Software\\Microsoft\\Outlook Express";
constexpr const char* kNetscapeInstall = "C:\\Program Files\\Netscape\\Communicator";
constexpr const char* kNetscapeServer = "pop.example.net";

// A Windows 95/98/ME registry file: the "CREG" header and nothing a reader could use.
std::string Windows9xRegistry() {
  std::string bytes = "CREG";
  bytes += std::string("\x00\x00\x01\x00", 4);
  bytes.resize(0x20, '\0');
  return bytes;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

std::string ShortAlias(const std::string& name) {
  std::size_t dot = name.rfind('.');
  std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  bool fits = stem.size() <= 8 && extension.size() <= 3 && !stem.empty() &&
              name.find(' ') == std::string::npos && stem.find('.') == std::string::npos;
  if (fits) return name;
  auto usable = [](const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c != ' ' && c != '.')
        out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return out;
  };
  std::string alias = usable(stem).substr(0, 6) + "~1";
  if (!extension.empty()) alias += "." + usable(extension).substr(0, 3);
  return alias;
}

OldDiskBuilder::OldDiskBuilder(fs::path root, OldWindows windows)
    : root_(std::move(root)), windows_(windows) {
  const std::string system = windows_ == OldWindows::kNt4 ? "WINNT" : "WINDOWS";
  fs::create_directories(root_ / system / (windows_ == OldWindows::kWin98 ? "SYSTEM" : "system32"));
  fs::create_directories(root_ / "Program Files");
  if (windows_ == OldWindows::kWin98) {
    WriteFile(root_ / system / "USER.DAT", Windows9xRegistry());
    WriteFile(root_ / system / "SYSTEM.DAT", Windows9xRegistry());
  }
}

std::string OldDiskBuilder::WindowsProfile(const std::string& user) const {
  switch (windows_) {
    case OldWindows::kNt4:
      return "C:\\WINNT\\Profiles\\" + user;
    case OldWindows::kXp:
      return "C:\\Documents and Settings\\" + user;
    case OldWindows::kVista:
      return "C:\\Users\\" + user;
    case OldWindows::kWin98:
      return "C:\\WINDOWS";
  }
  return {};
}

fs::path OldDiskBuilder::Local(const std::string& windows_path) const {
  fs::path local = root_;
  std::vector<std::string> parts = PathParts(windows_path);
  for (std::size_t i = 1; i < parts.size(); ++i) local /= parts[i];
  return local;
}

std::string OldDiskBuilder::AppData(const std::string& user) const {
  return WindowsProfile(user) +
         (windows_ == OldWindows::kVista ? "\\AppData\\Roaming" : "\\Application Data");
}

std::string OldDiskBuilder::LocalAppData(const std::string& user) const {
  switch (windows_) {
    case OldWindows::kVista:
      return WindowsProfile(user) + "\\AppData\\Local";
    case OldWindows::kWin98:
      return AppData(user);
    default:
      return WindowsProfile(user) + "\\Local Settings\\Application Data";
  }
}

RegistryContent& OldDiskBuilder::AddUser(const std::string& user) {
  fs::create_directories(Local(WindowsProfile(user)));
  RegistryContent& registry = registries_[user];
  registry.SetString(kExplorer, "Logon User Name", user);
  registry.SetString(kShellFolders, "AppData", AppData(user));
  registry.SetString(kUserShellFolders, "AppData",
                     "%USERPROFILE%" + AppData(user).substr(WindowsProfile(user).size()),
                     platform::kRegExpandSz);
  registry.SetString("Environment", "TEMP", "%USERPROFILE%\\Local Settings\\Temp",
                     platform::kRegExpandSz);
  return registry;
}

RegistryContent& OldDiskBuilder::Registry(const std::string& user) {
  auto it = registries_.find(user);
  if (it == registries_.end()) throw std::runtime_error("no user " + user);
  return it->second;
}

std::string OldDiskBuilder::Spell(const std::string& windows_path, PathSpelling spelling,
                                  const std::string& user) const {
  if (spelling == PathSpelling::kUserProfile) {
    return "%USERPROFILE%" + windows_path.substr(WindowsProfile(user).size());
  }
  if (spelling == PathSpelling::kLong) return windows_path;
  std::string spelled = "C:";
  std::vector<std::string> parts = PathParts(windows_path);
  for (std::size_t i = 1; i < parts.size(); ++i) spelled += "\\" + ShortAlias(parts[i]);
  return spelled;
}

std::string OldDiskBuilder::AddOe4Store(const std::string& user, const Oe4Store& store,
                                        PathSpelling spelling) {
  if (spelling == PathSpelling::kUserProfile) {
    throw std::invalid_argument("Outlook Express 4 does not expand variables");
  }
  const std::string root = AppData(user) + "\\Microsoft\\Outlook Express";
  store.WriteTo(Local(root + "\\Mail"));
  if (windows_ != OldWindows::kWin98) {
    Registry(user).SetString(kOe4Key, "Store Root", Spell(root, spelling, user));
  }
  return root + "\\Mail";
}

std::string OldDiskBuilder::AddOe5Store(const std::string& user, const DbxStore& store,
                                        PathSpelling spelling, const std::string& identity) {
  const std::string root =
      LocalAppData(user) + "\\Identities\\" + identity + "\\Microsoft\\Outlook Express";
  store.WriteTo(Local(root));
  if (windows_ != OldWindows::kWin98) {
    RegistryContent& registry = Registry(user);
    registry.SetString("Identities", "Last User ID", identity);
    registry.SetString("Identities\\" + identity, "Username", "Main Identity");
    registry.SetString("Identities\\" + identity + "\\Software\\Microsoft\\Outlook Express\\5.0",
                       "Store Root", Spell(root, spelling, user), platform::kRegExpandSz);
  }
  return root;
}

std::string OldDiskBuilder::AddNetscapeStore(const std::string& user, const std::string& profile,
                                             const NsMailDirectory& mail, bool via_popstate,
                                             PathSpelling spelling) {
  const std::string profile_folder = "C:\\Program Files\\Netscape\\Users\\" + profile;
  const std::string mail_folder = profile_folder + "\\Mail";
  mail.WriteTo(Local(mail_folder));
  fs::create_directories(Local(kNetscapeInstall));
  if (windows_ == OldWindows::kWin98) return mail_folder;
  RegistryContent& registry = Registry(user);
  const std::string navigator = "Software\\Netscape\\Netscape Navigator";
  registry.SetString(navigator + "\\biff", "CurrentUser", profile);
  registry.SetString(navigator + "\\Main", "Install Directory", kNetscapeInstall);
  if (via_popstate) {
    WriteFile(Local(mail_folder) / "popstate.dat", "# Netscape POP3 State File\r\n");
    registry.SetString(navigator + "\\biff\\users\\" + profile, "defaultServer", kNetscapeServer);
    registry.SetString(navigator + "\\biff\\users\\" + profile + "\\servers\\" + kNetscapeServer,
                       "popstatePath", Spell(mail_folder, spelling, user) + "\\popstate.dat");
  } else {
    std::string doubled;
    for (char c : mail_folder) doubled += c == '\\' ? std::string("\\\\") : std::string(1, c);
    WriteFile(
        Local(profile_folder) / "prefs.js",
        "// Netscape User Preferences\r\nuser_pref(\"mail.directory\", \"" + doubled + "\");\r\n");
  }
  return mail_folder;
}

std::string OldDiskBuilder::AddEudoraStore(const std::string& user, const EudoraStore& store,
                                           const std::string& folder) {
  store.WriteTo(Local(folder));
  const std::string program = "C:\\Program Files\\Qualcomm\\Eudora";
  fs::create_directories(Local(program));
  if (windows_ != OldWindows::kWin98) {
    const std::string short_folder = Spell(folder, PathSpelling::kShort, user);
    Registry(user).SetString("Software\\Qualcomm\\Eudora\\CommandLine", "current",
                             Spell(program, PathSpelling::kShort, user) + "\\EUDORA.EXE " +
                                 short_folder + " " + short_folder + "\\EUDORA.INI");
  }
  return folder;
}

void OldDiskBuilder::Write() const {
  if (windows_ == OldWindows::kWin98) return;
  if (!system_code_page_.empty()) {
    const std::string windows = windows_ == OldWindows::kNt4 ? "C:\\WINNT" : "C:\\WINDOWS";
    fs::create_directories(Local(windows + "\\system32\\config"));
    WriteHive(Local(windows + "\\system32\\config\\SYSTEM"),
              RegistryContent()
                  .SetDword("Select", "Current", 1)
                  .SetString("ControlSet001\\Control\\Nls\\CodePage", "ACP", system_code_page_));
  }
  for (const auto& [user, registry] : registries_) {
    WriteHive(Local(WindowsProfile(user)) / "NTUSER.DAT", registry);
  }
}

}  // namespace kv::testing
