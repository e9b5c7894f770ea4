#pragma once
// An old Windows system drive (mounted or copied) as the filters saw it on the old PC: its users'
// profiles, a user's registry (the profile's NTUSER.DAT, or a registry file given by hand), the
// environment variables that %VAR% expansion needs, and the folders where each mail client kept
// its store by default, for a system whose registry cannot be read.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/command_line.h"
#include "platform/diagnostics.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace kv::host {

// ExpandEnvironmentStringsA over a fixed set of variables: names match without regard to ASCII
// case; an unknown %NAME% stays as written.
class FixedEnvironment final : public platform::Environment {
 public:
  void Set(const std::string& name, const std::string& value);
  std::optional<std::string> Get(const std::string& name) const;
  std::string ExpandEnvironmentStrings(const std::string& text) override;
  // Name (as first set) and value of each variable, sorted by upper-case name.
  std::vector<std::pair<std::string, std::string>> Variables() const;

 private:
  std::map<std::string, std::pair<std::string, std::string>> variables_;  // by upper-case name
};

struct UserProfile {
  std::string name;                     // the profile folder's name on disk (UTF-8)
  std::filesystem::path folder;         // where it lies on this machine
  std::string windows_folder;           // as the old system spelled it: "C:\Documents and
                                        // Settings\alice" (UTF-8)
  std::filesystem::path registry_file;  // its NTUSER.DAT, or USER.DAT on Windows 95/98/ME
  bool system_wide = false;  // Windows 95/98/ME without profiles: the Windows folder's USER.DAT
};

struct OldDisk {
  std::filesystem::path root;
  std::string windows_folder;  // "C:\WINDOWS" or "C:\WINNT" as on disk (UTF-8); empty if none
  bool windows9x = false;      // the Windows folder holds SYSTEM.DAT and USER.DAT
  std::vector<UserProfile> profiles;  // people's profiles, sorted by name
};

// The ANSI code page the old system used, as iconv names it ("CP1251"), from the ACP value of its
// SYSTEM hive (the current control set's Control\Nls\CodePage); nullopt when the hive cannot be
// read or names none.
std::optional<std::string> SystemCodePage(const OldDisk& disk);

// Looks for profiles with a registry file in "Documents and Settings", "Users", "WINNT\Profiles"
// and "Windows\Profiles" below `root` (names matched without regard to case), leaving out the
// shared and service profiles ("All Users", "Default User", "LocalService" ...). A Windows
// 95/98/ME system without profiles gives one profile named "default": the Windows folder with its
// USER.DAT.
OldDisk ExamineOldDisk(const std::filesystem::path& root);

// The profile `user` names (ignoring case), or the only profile when no user is given. Null with
// `error` set otherwise: no profile, no profile of that name, or several and none named; the
// error lists the profiles found.
const UserProfile* ChooseProfile(const OldDisk& disk, const std::optional<std::string>& user,
                                 std::string& error);

// A user's registry read from a file: a hive (NTUSER.DAT) or a regedit export text.
struct UserRegistry {
  std::unique_ptr<platform::Registry> registry;  // null when the file gives none
  std::string error;                             // why not, for a person (UTF-8)
  bool windows9x = false;                        // the file is a Windows 95/98/ME registry
  std::vector<std::string>
      notes;  // for a person: export lines skipped, the key taken as the user's
};

// Opens `file`; `code_page` (the old system's ANSI code page) and `diagnostics` (where damaged
// keys are reported) must outlive the registry.
UserRegistry OpenUserRegistry(const std::filesystem::path& file, platform::CodePage& code_page,
                              platform::Diagnostics& diagnostics);

// The variables a user's paths expect, as the old system set them at logon: SystemDrive,
// SystemRoot, windir, USERPROFILE, USERNAME, HOMEDRIVE, HOMEPATH, ALLUSERSPROFILE, ProgramFiles,
// CommonProgramFiles, APPDATA, LOCALAPPDATA, TEMP and TMP, then the user's own variables from the
// registry's "Environment" key. APPDATA and LOCALAPPDATA come from the registry's shell folders
// when it names them. Values are Windows paths in `code_page`.
FixedEnvironment UserEnvironment(const OldDisk& disk, const UserProfile& profile,
                                 platform::Registry& registry, platform::CodePage& code_page);

// Where the mail client of `filter` (a class table short name) kept its store unless told
// otherwise: the folders among them that exist, as Windows paths in the code page with the
// variables expanded and "*" steps (an identity, a profile) filled in from the disk.
std::vector<std::string> WellKnownStoreFolders(std::string_view filter, platform::FileSystem& files,
                                               platform::Environment& environment);

// What a run against an old system uses in place of this machine's (empty) registry and
// environment: built from --disk (with --user) or from --registry.
struct OldSystem {
  std::string user;                              // the profile's name; empty with --registry
  std::unique_ptr<platform::Registry> registry;  // never null; empty when none could be read
  FixedEnvironment environment;
  std::map<char, std::string> drives;  // C: mapped to --disk
  bool registry_readable = true;       // false: the well-known folders stand in for it
  std::vector<std::string> notes;      // for the person, one line each (UTF-8)
};

// The old system of `profile` on `disk`. A registry file that cannot be read (a Windows 95/98/ME
// USER.DAT, a damaged hive) leaves the registry empty, says why in the notes and clears
// registry_readable; it is no error. `code_page` and `diagnostics` must outlive the result.
OldSystem OpenProfile(const OldDisk& disk, const UserProfile& profile,
                      platform::CodePage& code_page, platform::Diagnostics& diagnostics);

// The old system --disk/--user or --registry describe; nullopt with `error` set when the options
// name no usable profile or registry file.
std::optional<OldSystem> OpenOldSystem(const CommandLine& line, platform::CodePage& code_page,
                                       platform::Diagnostics& diagnostics, std::string& error);

// The store folder to propose for `filter` when the registry could not be read: the one
// well-known folder that exists. Empty when none does; with several, empty and `error` lists
// them.
std::string WellKnownLocation(std::string_view filter, platform::FileSystem& files,
                              platform::Environment& environment, std::string& error);

}  // namespace kv::host
