// kvfltrs.exe: the message import server for Windows, a local automation server.
//
//   kvfltrs.exe                 registers the four filter classes and exits
//   kvfltrs.exe /Unregserver    removes their registration (also /Unregister) and exits
//   kvfltrs.exe /Automation     serves filter objects until the last one is released (COM starts
//                               it so, or with /Embedding)
//
// With the environment variable KVFLTRS_ANSWERS naming an answer file (ui/answer_script.h), the
// dialogs are answered from it instead of being shown: for unattended imports and for tests.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/kernel_library.h"
#include "app/server_app.h"
#include "app/win32/com_server.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/windows_api.h"
#include "res/strings.h"
#include "ui/answer_script.h"
#include "ui/scripted_ui.h"
#include "ui/win32/win32_user_interface.h"

namespace {

constexpr char kAnswersVariable[] = "KVFLTRS_ANSWERS";
constexpr DWORD kLongestPath = 32768;

std::string ProgramPath() {
  std::vector<char> path(kLongestPath, '\0');
  DWORD length = GetModuleFileNameA(nullptr, path.data(), kLongestPath);
  return std::string(path.data(), length < kLongestPath ? length : 0);
}

// The answers of the file KVFLTRS_ANSWERS names; false when it is set but cannot be used, with a
// message box saying why (a server has no console to say it on).
bool LoadAnswers(kv::ui::ScriptedUserInterface& scripted, bool& use_script) {
  char name[MAX_PATH + 1] = {};
  DWORD length = GetEnvironmentVariableA(kAnswersVariable, name, sizeof name);
  use_script = length > 0 && length < sizeof name;
  if (!use_script) return true;
  std::string problem;
  kv::platform::Win32FileSystem files;
  std::unique_ptr<kv::platform::ReadableFile> file = files.OpenForReading(name);
  std::string script;
  if (file == nullptr) {
    problem = "cannot open the answer file";
  } else {
    std::uint8_t buffer[4096];
    while (std::optional<std::size_t> count = file->Read(buffer)) {
      if (*count == 0) break;
      script.append(reinterpret_cast<const char*>(buffer), *count);
    }
    if (std::optional<kv::ui::AnswerScriptError> error =
            kv::ui::LoadAnswerScript(script, scripted)) {
      problem = "line " + std::to_string(error->line) + ": " + error->problem;
    }
  }
  if (problem.empty()) return true;
  const std::string text = std::string(kAnswersVariable) + "=" + name + "\n" + problem;
  MessageBoxA(nullptr, text.c_str(),
              std::string(kv::res::LoadString(kv::res::IDS_APP_TITLE)).c_str(),
              MB_OK | MB_ICONSTOP);
  return false;
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  // The process-wide resource manager exists before start-up runs and outlives the application.
  kv::ResourceManager resource_manager;
  kv::platform::Win32Registry registry;
  kv::platform::Win32FileSystem files;
  kv::platform::Win32TempFiles temp;
  kv::platform::Win32Environment environment;
  kv::platform::Win32CodePage code_page;
  kv::platform::Win32DebugDiagnostics diagnostics;
  kv::ui::Win32UserInterface windows_ui;
  kv::ui::ScriptedUserInterface scripted;
  scripted.set_report_unanswered(false);
  bool use_script = false;
  if (!LoadAnswers(scripted, use_script)) return 1;
  kv::platform::UserInterface& ui =
      use_script ? static_cast<kv::platform::UserInterface&>(scripted) : windows_ui;
  const kv::platform::Services services{registry,  files, temp,       environment,
                                        code_page, ui,    diagnostics};

  kv::com::ComServer server(services, ProgramPath());
  kv::CMessageImportApp app(resource_manager, server, windows_ui);
  const std::vector<std::string_view> args(__argv + 1, __argv + __argc);
  if (!app.InitInstance(args)) return 0;
  // A failure to make the hidden window is not reported; the server still ends after the last
  // release.
  server.CreateMainWindow();
  return server.Run();
}
