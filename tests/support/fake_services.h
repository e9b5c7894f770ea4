#pragma once
// A complete set of in-memory platform services, for tests that run a filter without touching the
// machine: an empty registry, a file system with drive C:, a temporary folder C:\TEMP\, fixed
// environment variables, Windows-1252, and a user interface answered by script.

#include <string>
#include <vector>

#include "platform/fake/fake_environment.h"
#include "platform/fake/memory_file_system.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "ui/scripted_ui.h"

namespace kv::testing {

struct FakeServices {
  platform::MemoryRegistry registry;
  platform::MemoryFileSystem files;
  platform::MemoryTempFiles temp{files};
  platform::FakeEnvironment environment;
  platform::Windows1252CodePage code_page;
  ui::ScriptedUserInterface ui;
  platform::DiagnosticLog diagnostics;
  platform::Services services{registry, files, temp, environment, code_page, ui, diagnostics};

  // The problem of each diagnostic reported so far, in order.
  std::vector<std::string> Problems() const {
    std::vector<std::string> problems;
    for (const platform::Diagnostic& d : diagnostics.entries()) problems.push_back(d.problem);
    return problems;
  }
};

}  // namespace kv::testing
