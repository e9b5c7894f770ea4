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

#include "support/dbx_writer.h"
#include "support/eudora_store_writer.h"
#include "support/netscape_store_writer.h"
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
  // The user's application data folders as the system named them (roaming and local).
  std::string AppData(const std::string& user) const;
  std::string LocalAppData(const std::string& user) const;

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

  // An Outlook Express 5 store of identity `identity` at
  // "<LocalAppData>\Identities\<identity>\Microsoft\Outlook Express", named by the identity's
  // "Store Root" (REG_EXPAND_SZ, spelled as `spelling` says) with "Last User ID" naming the
  // identity. Returns the store folder.
  std::string AddOe5Store(const std::string& user, const DbxStore& store,
                          PathSpelling spelling = PathSpelling::kUserProfile,
                          const std::string& identity = "{2A1E5D40-7C4F-11D4-9A3B-0050DA2F5E11}");

  // A Netscape Messenger mail directory of profile `profile` at
  // "C:\Program Files\Netscape\Users\<profile>\Mail", with the client's registry keys for the user
  // (CurrentUser and the installation folder). With `via_popstate` the default server's
  // "popstatePath" names a file in the mail directory (spelled as `spelling` says); otherwise the
  // profile's prefs.js names it in "mail.directory", doubled backslashes and all. Returns the mail
  // directory.
  std::string AddNetscapeStore(const std::string& user, const std::string& profile,
                               const NsMailDirectory& mail, bool via_popstate = true,
                               PathSpelling spelling = PathSpelling::kLong);

  // A Eudora mail folder at `folder` ("C:\Program Files\Qualcomm\Eudora Mail"), named in the
  // "current" command line under Software\Qualcomm\Eudora\CommandLine as Eudora wrote it, in 8.3
  // short form. Returns the folder.
  std::string AddEudoraStore(const std::string& user, const EudoraStore& store,
                             const std::string& folder);

  // The system's ANSI code page ("1251"), written as ACP in a SYSTEM hive under
  // <Windows>\system32\config with the current control set 1.
  void SetSystemCodePage(const std::string& acp) { system_code_page_ = acp; }

  // Writes the registry files; the stores are written as they are added.
  void Write() const;

 private:
  std::string Spell(const std::string& windows_path, PathSpelling spelling,
                    const std::string& user) const;

  std::filesystem::path root_;
  OldWindows windows_;
  std::map<std::string, RegistryContent> registries_;
  std::string system_code_page_;
};

// The 8.3 alias Windows gives the first long name of its stem: "Documents and Settings" is
// "DOCUME~1"; a name that already fits 8.3 stays.
std::string ShortAlias(const std::string& name);

}  // namespace kv::testing
