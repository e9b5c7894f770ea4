// kvfltrs: the message import server on the D-Bus session bus. Started by the bus with
// "-Embedding" it serves filter objects until the last one is released; started any other way it
// registers its classes for the current user ("/Unregister": removes them) and ends, silently.

#include <cstdio>
#include <string_view>
#include <vector>

#include "app/kernel_library.h"
#include "app/server_app.h"
#include "bus/bus_server.h"
#include "bus/service_file.h"
#include "platform/posix/iconv_code_page.h"
#include "ui/remote_ui.h"

int main(int argc, char** argv) {
  // The process-wide resource manager exists before start-up runs and outlives the application.
  kv::ResourceManager resource_manager;
  kv::bus::BusServer server(
      kv::bus::ServiceFileRegistration(kv::bus::ServiceFileRegistration::DefaultServicesFolder(),
                                       kv::bus::ServiceFileRegistration::RunningProgram()),
      stderr);
  // Start-up's one message has no host to go to yet: it goes to the log.
  kv::platform::IconvCodePage code_page;
  kv::ui::RemoteUserInterface ui(
      [](kv::platform::WindowHandle) { return nullptr; }, code_page,
      [](const std::string& line) { std::fprintf(stderr, "kvfltrs: %s\n", line.c_str()); });
  kv::CMessageImportApp app(resource_manager, server, ui);
  std::vector<std::string_view> args(argv + 1, argv + argc);
  if (!app.InitInstance(args)) return 0;
  return server.Run();
}
