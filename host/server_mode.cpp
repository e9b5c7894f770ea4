#include "host/server_mode.h"

#include <filesystem>
#include <memory>

#include "app/filter_classes.h"
#include "bus/bus_names.h"
#include "bus/remote_session.h"
#include "host/exit_codes.h"
#include "host/filter_walk.h"

namespace kv::host {
namespace {

void Error(const CommandStreams& streams, const std::string& text) {
  std::fprintf(streams.err, "kvimport: %s\n", text.c_str());
}

// Where the server makes its temporary folder: inside the host's own, so that the files it hands
// over are the host's and no other run shares its fixed names.
std::string TempBase(platform::TempFiles& temp) {
  return std::filesystem::path(temp.TempPath()).parent_path().string();
}

}  // namespace

int RunWithServer(const CommandLine& line, const platform::Services& services,
                  platform::UserInterface& front, const ui::ScriptedUserInterface* scripted,
                  const CommandStreams& streams, const std::map<char, std::string>& drive_map) {
  const FilterClass* filter_class = FindFilterClass(line.filter);
  if (filter_class == nullptr) {
    Error(streams, "unknown filter " + line.filter);
    return kExitUsage;
  }
  std::map<std::string, std::string> settings{{bus::kSettingCodePage, line.code_page},
                                              {bus::kSettingTempBase, TempBase(services.temp)}};
  for (const auto& [drive, folder] : drive_map) {
    settings[bus::kSettingDrivePrefix + std::string(1, drive)] = folder;
  }
  std::unique_ptr<bus::RemoteSession> session;
  try {
    session =
        std::make_unique<bus::RemoteSession>(std::string(filter_class->prog_id), settings, front,
                                             kHostWindow, services.diagnostics, services.code_page);
  } catch (const sdbus::Error& error) {
    Error(streams, "the kvfltrs server cannot be reached on the session bus (" +
                       error.getMessage() + "); run kvfltrs once to register it");
    return kExitInternalError;
  }
  bus::RemoteImportFilter& filter = session->filter();
  int status = line.command == Command::kList
                   ? RunList(line, services, scripted, streams, filter)
                   : RunImport(line, services, scripted, streams, filter);
  if (filter.failure()) {
    Error(streams, "the kvfltrs server failed: " + *filter.failure());
    return kExitInternalError;
  }
  return status;
}

}  // namespace kv::host
