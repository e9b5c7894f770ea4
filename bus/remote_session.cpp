#include "bus/remote_session.h"

namespace kv::bus {

RemoteSession::RemoteSession(const std::string& prog_id,
                             const std::map<std::string, std::string>& settings,
                             platform::UserInterface& front, platform::WindowHandle window,
                             platform::Diagnostics& diagnostics, platform::CodePage& code_page)
    : connection_(sdbus::createSessionBusConnection()), agent_(front, window) {
  // The agent's calls arrive while this thread waits for the object's answers.
  connection_->enterEventLoopAsync();
  RemoteImportFilter::Options options;
  options.settings = settings;
  options.agent = &agent_;
  options.diagnostics = &diagnostics;
  options.code_page = &code_page;
  try {
    filter_ = std::make_unique<RemoteImportFilter>(*connection_, prog_id, options);
    agent_object_ = std::make_unique<UiAgentObject>(*connection_, agent_);
    filter_->MapWindow(window, agent_object_->RegisterWith(filter_->server()));
  } catch (...) {
    filter_.reset();
    agent_object_.reset();
    connection_->leaveEventLoop();
    throw;
  }
}

RemoteSession::~RemoteSession() {
  // The object goes first (its release is a call on the connection), then the agent.
  filter_.reset();
  agent_object_.reset();
  connection_->leaveEventLoop();
}

}  // namespace kv::bus
