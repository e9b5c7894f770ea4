#pragma once
// Builds the system drive of an old Windows PC in a folder, as kvimport --disk meets it: user
// profiles where the system version kept them, each with its NTUSER.DAT, and mail stores placed
// where each client kept them, named in the user's registry as the client wrote them (long
// names, 8.3 short forms, %USERPROFILE% references). A Windows 95/98/ME drive gets USER.DAT and
// SYSTEM.DAT in its own format in the Windows folder and no readable registry.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/oe4_store_writer.h"
#include "support/registry_writers.h"

namespace kv::testing {

enum class OldWindows {
  kNt4,    // C:\WINNT\Profiles\<user>
  kXp,     // C:\Documents and Settings\<user>, C:\WINDOWS
  kVista,  // C:\Users\<user>
  kWin98,  // C:\WINDOWS with USER.DAT ("CREG"), no profiles
};

// How a registry value spells a store folder below the profile.
enum class PathSpelling {
  kLong,         // C:\Documents and Settings\alice\Application Data\...
  kShort,        // C:\DOCUME~1\bob\APPLIC~1\... (8.3 aliases of every long component)
  kUserProfile,  // %USERPROFILE%\Application Data\... (only where the client expands it)
};

class OldDiskBuilder {
 public:
  explicit OldDiskBuilder(std::filesystem::path root, OldWindows windows = OldWindows::kXp);

  const std::filesystem::path& root() const { return root_; }
  // The profile folder as the old system named it ("C:\Documents and Settings\alice"); the
  // Windows folder on Windows 95/98/ME.
  std::string WindowsProfile(const std::string& user) const;
  // `windows_path` ("C:\...") as a path below the root.
  std::filesystem::path Local(const std::string& windows_path) const;
  // The user's application data folder as the system named it.
  std::string AppData(const std::string& user) const;

  // Adds a profile (its NTUSER.DAT is written by Write); the registry gets the usual shell
  // folder values. On Windows 95/98/ME every user shares the Windows folder.
  RegistryContent& AddUser(const std::string& user);
  RegistryContent& Registry(const std::string& user);

  // An Outlook Express 4 store at "<AppData>\Microsoft\Outlook Express\Mail", its parent named
  // by "Store Root" under Software\Microsoft\Outlook Express spelled as `spelling` says (the
  // client does not expand variables, so kUserProfile is not offered). Returns the store folder
  // as the old system names it.
  std::string AddOe4Store(const std::string& user, const Oe4Store& store,
                          PathSpelling spelling = PathSpelling::kLong);

  // Writes the registry files; the stores are written as they are added.
  void Write() const;

 private:
  std::string Spell(const std::string& windows_path, PathSpelling spelling,
                    const std::string& user) const;

  std::filesystem::path root_;
  OldWindows windows_;
  std::map<std::string, RegistryContent> registries_;
};

// The 8.3 alias Windows gives the first long name of its stem: "Documents and Settings" is
// "DOCUME~1"; a name that already fits 8.3 stays.
std::string ShortAlias(const std::string& name);

}  // namespace kv::testing
