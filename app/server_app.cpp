#include "app/server_app.h"

#include "common/message_files.h"
#include "platform/text.h"
#include "res/strings.h"

namespace kv {
namespace {

// The word of a switch ("Embedding" of "/Embedding" or "-Embedding"); empty for anything else.
std::string_view SwitchWord(std::string_view arg) {
  if (arg.size() < 2 || (arg.front() != '/' && arg.front() != '-')) return {};
  return arg.substr(1);
}

}  // namespace

StartCommandLine ParseStartCommandLine(std::span<const std::string_view> args) {
  StartCommandLine line;
  for (std::string_view arg : args) {
    std::string_view word = SwitchWord(arg);
    if (platform::EqualsIgnoringCase(word, "Embedding")) line.run_embedded = true;
    if (platform::EqualsIgnoringCase(word, "Automation")) line.run_automated = true;
    if (platform::EqualsIgnoringCase(word, "Unregister") ||
        platform::EqualsIgnoringCase(word, "Unregserver")) {
      line.unregister = true;
    }
  }
  return line;
}

bool FilterClassFactory::UpdateRegistry(ObjectActivation& activation, bool register_class) const {
  return register_class ? activation.RegisterServerClass(*class_)
                        : activation.UnregisterClass(*class_);
}

bool FilterClassFactory::Answers(std::string_view name) const {
  return platform::EqualsIgnoringCase(name, class_->prog_id) ||
         platform::EqualsIgnoringCase(name, class_->clsid);
}

std::unique_ptr<ImportFilter> FilterClassFactory::CreateObject(
    const platform::Services& services) const {
  return class_->create(services);
}

const FilterClassFactory* FindFactory(std::span<const FilterClassFactory> factories,
                                      std::string_view name) {
  for (const FilterClassFactory& factory : factories) {
    if (factory.Answers(name)) return &factory;
  }
  return nullptr;
}

CMessageImportApp::CMessageImportApp(ResourceManager& resource_manager,
                                     ObjectActivation& activation, platform::UserInterface& ui)
    : resource_manager_(resource_manager), activation_(activation), ui_(ui) {
  for (const FilterClass& filter_class : FilterClasses()) factories_.emplace_back(filter_class);
}

bool CMessageImportApp::InitInstance(std::span<const std::string_view> args) {
  // The resource manager comes first, before the activation layer is touched.
  resource_manager_.InitInstanceReg(this);
  if (!activation_.Initialize()) {
    ShowStringMessage(ui_, 0, res::IDS_OLE_INIT_FAILED, res::IDS_APP_TITLE, platform::kMbOk);
    return false;
  }
  StartCommandLine line = ParseStartCommandLine(args);
  if (!line.run_embedded && !line.run_automated) {
    // Registration and removal are silent: their results are not reported.
    for (const FilterClassFactory& factory : factories_) {
      factory.UpdateRegistry(activation_, !line.unregister);
    }
    return false;
  }
  // A failure to offer the factories leaves nothing to serve; the activation layer says why.
  activation_.RegisterFactories(factories_);
  return true;
}

}  // namespace kv
