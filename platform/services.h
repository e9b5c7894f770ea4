#pragma once
// The set of platform services a filter is given. Only a program's entry point (or a test) chooses
// the implementations; the filters never reach for a global.

#include "platform/diagnostics.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/temp_files.h"
#include "platform/user_interface.h"

namespace kv::platform {

struct Services {
  Registry& registry;
  FileSystem& files;
  TempFiles& temp;
  Environment& environment;
  CodePage& code_page;
  UserInterface& ui;
  Diagnostics& diagnostics;
};

}  // namespace kv::platform
