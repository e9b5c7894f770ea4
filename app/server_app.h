#pragma once
// The server process: its command line, the four class factories made from the class table, and
// CMessageImportApp, whose InitInstance decides between serving objects and (un)registering the
// classes. The object-activation layer of the platform (the component object model on Windows, the
// D-Bus session bus on Linux) stays behind `ObjectActivation`; this code knows none of it.

#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "app/filter_classes.h"
#include "app/kernel_library.h"
#include "platform/services.h"

namespace kv {

// The command line as the server reads it. A switch is a word after "/" or "-", compared without
// regard to case; it may stand anywhere among the arguments.
struct StartCommandLine {
  bool run_embedded = false;   // "Embedding": started by the system for a client
  bool run_automated = false;  // "Automation": the same
  bool unregister = false;     // "Unregister" or "Unregserver"
};
StartCommandLine ParseStartCommandLine(std::span<const std::string_view> args);

class FilterClassFactory;

// What start-up needs from the platform's object-activation layer.
class ObjectActivation {
 public:
  virtual ~ObjectActivation() = default;
  // Connects to the activation service; false when it cannot be reached.
  virtual bool Initialize() = 0;
  // Makes the class known for activation for the current user, or takes it back. The caller does
  // not report the result.
  virtual bool RegisterServerClass(const FilterClass& filter_class) = 0;
  virtual bool UnregisterClass(const FilterClass& filter_class) = 0;
  // Offers the factories to clients. `factories` outlives the activation layer's use of it.
  virtual bool RegisterFactories(std::span<const FilterClassFactory> factories) = 0;
};

// One class factory per filter class: creates objects of its class and (un)registers the class.
class FilterClassFactory {
 public:
  explicit FilterClassFactory(const FilterClass& filter_class) : class_(&filter_class) {}

  const FilterClass& filter_class() const { return *class_; }

  // The registry update: registers the class, or removes it when `register_class` is false.
  bool UpdateRegistry(ObjectActivation& activation, bool register_class) const;

  // True when `name` is this class's ProgID or its class ID in braces, ignoring case.
  bool Answers(std::string_view name) const;

  // A new object of the class over `services`, which must outlive it. The object holds the server
  // (ServerLock) until it is destroyed.
  std::unique_ptr<ImportFilter> CreateObject(const platform::Services& services) const;

 private:
  const FilterClass* class_;
};

// The factory that answers `name` (a ProgID or a class ID), or null.
const FilterClassFactory* FindFactory(std::span<const FilterClassFactory> factories,
                                      std::string_view name);

// The application object. Constructed once per process, after the resource manager.
class CMessageImportApp {
 public:
  // `resource_manager`, `activation` and `ui` must outlive the application object; `ui` shows the
  // one message start-up can give (the activation service cannot be reached).
  CMessageImportApp(ResourceManager& resource_manager, ObjectActivation& activation,
                    platform::UserInterface& ui);
  CMessageImportApp(const CMessageImportApp&) = delete;
  CMessageImportApp& operator=(const CMessageImportApp&) = delete;

  // Start-up. True when the process is to serve objects until the last one is released; false
  // when it is to end now: after registering or unregistering the classes (silently), or when the
  // activation service could not be reached (after the message saying so).
  bool InitInstance(std::span<const std::string_view> args);

  // A help request: the server has no help, so it does nothing.
  void WinHelp() {}

  std::span<const FilterClassFactory> factories() const { return factories_; }

 private:
  ResourceManager& resource_manager_;
  ObjectActivation& activation_;
  platform::UserInterface& ui_;
  std::vector<FilterClassFactory> factories_;
};

}  // namespace kv
