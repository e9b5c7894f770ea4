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

namespace {

// Until a host gives its user-interface agent, a message box or dialog has nobody to show it to:
// it is answered as closed and written to the log instead.
class LogOnlyUserInterface final : public kv::platform::UserInterface {
 public:
  int MessageBox(kv::platform::WindowHandle /*owner*/, const std::string& text,
                 const std::string& caption, unsigned style) override {
    std::fprintf(stderr, "kvfltrs: %s: %s\n", caption.c_str(), text.c_str());
    return (style & 0x0F) == kv::platform::kMbOk ? kv::platform::kIdOk : kv::platform::kIdCancel;
  }
  std::optional<std::string> BrowseForFolder(kv::platform::WindowHandle /*owner*/,
                                             const std::string& title) override {
    std::fprintf(stderr, "kvfltrs: folder browser \"%s\" cancelled: no user interface\n",
                 title.c_str());
    return std::nullopt;
  }
  int RunModal(kv::platform::WindowHandle /*owner*/, kv::platform::Dialog& dialog) override {
    std::fprintf(stderr, "kvfltrs: dialog %d cancelled: no user interface\n", dialog.TemplateId());
    return kv::platform::kIdCancel;
  }
  void ShowWaitCursor() override {}
};

}  // namespace

int main(int argc, char** argv) {
  // The process-wide resource manager exists before start-up runs and outlives the application.
  kv::ResourceManager resource_manager;
  LogOnlyUserInterface ui;
  kv::bus::BusServer server(
      kv::bus::ServiceFileRegistration(kv::bus::ServiceFileRegistration::DefaultServicesFolder(),
                                       kv::bus::ServiceFileRegistration::RunningProgram()),
      ui, stderr);
  kv::CMessageImportApp app(resource_manager, server, ui);
  std::vector<std::string_view> args(argv + 1, argv + argc);
  if (!app.InitInstance(args)) return 0;
  return server.Run();
}
