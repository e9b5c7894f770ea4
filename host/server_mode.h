#pragma once
// kvimport --server: the filter object lives in the kvfltrs server on the D-Bus session bus
// instead of in this process. Its dialogs come back to this process's front and its reports to
// the services' diagnostics; list and import then run exactly as they do in-process.

#include <map>
#include <string>

#include "host/command_line.h"
#include "host/commands.h"
#include "platform/services.h"
#include "ui/scripted_ui.h"

namespace kv::host {

// Runs `line`'s command against an object of `line.filter` in the server. `front` answers the
// object's dialogs, their texts in UTF-8 (the server converts from the store's code page).
// The object reads the store with `line.code_page` and `drive_map`, and writes its temporary
// files where `services.temp` has its folder, so that the host owns them as in-process. A server
// that cannot be reached, or that fails during the run, ends it with kExitInternalError and a
// line saying why.
int RunWithServer(const CommandLine& line, const platform::Services& services,
                  platform::UserInterface& front, const ui::ScriptedUserInterface* scripted,
                  const CommandStreams& streams, const std::map<char, std::string>& drive_map);

}  // namespace kv::host
