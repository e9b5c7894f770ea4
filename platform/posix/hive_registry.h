#pragma once
// A Windows NT registry hive file (a user's NTUSER.DAT) read through hivex, as a RegistryTree for
// StoredRegistry. The file is mapped read-only and never written. A hive is foreign data: a file
// that is not one, or whose base block or bins are damaged, gives an error saying so; damage
// inside a key (a bad subkey index or value list) makes that key unreadable and nothing else.

#include <memory>
#include <string>

#include "platform/stored_registry.h"

namespace kv::platform {

enum class HiveProblem {
  kNone,
  kUnreadable,  // the file cannot be opened or is no regular file
  kNotAHive,    // it does not start like a registry hive
  kWindows9x,   // a Windows 95/98/ME registry (USER.DAT, "CREG"), a format of its own
  kDamaged,     // it starts like a hive, but its base block or bins are damaged or cut off
};

struct HiveOpenResult {
  std::unique_ptr<RegistryTree> tree;  // null unless problem is kNone
  HiveProblem problem = HiveProblem::kNone;
  std::string error;  // what is wrong, for a person (UTF-8)
};

// Opens the hive at `path` (a Linux path). The tree names the file by `path` in its reports.
HiveOpenResult OpenHiveFile(const std::string& path);

}  // namespace kv::platform
