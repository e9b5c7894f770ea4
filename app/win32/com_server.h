#pragma once
// The component object model as the server's object-activation layer: OLE initialisation, the
// classes' registry entries, one class object per class factory, registered with COM for multiple
// use so that one process serves every object of every class; the hidden "Dummy" frame window; and
// the message loop, which ends once the last filter object (and the last LockServer lock) is gone.
//
// Ending is done so that no activation is lost: when the lock count reaches zero the server waits a
// moment (a client that releases one object and creates the next at once finds it still there),
// then withdraws its class objects, so that a client asking from then on gets a new server; calls
// already on their way are still served for a moment, and if one creates an object the server
// offers its class objects again and stays.

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/server_app.h"
#include "app/win32/filter_dispatch.h"
#include "platform/services.h"

namespace kv::com {

class ComServer final : public ObjectActivation, public ObjectListener {
 public:
  // `services` must outlive the server; its objects are created over them. `program_path` is what
  // registration names as the server (LocalServer32). One server per process, on one thread.
  ComServer(const platform::Services& services, std::string program_path);
  ~ComServer() override;
  ComServer(const ComServer&) = delete;
  ComServer& operator=(const ComServer&) = delete;

  // ObjectActivation
  // OleInitialize on this thread (undone when the server is destroyed).
  bool Initialize() override;
  // The entries of app/win32/class_registration.h.
  bool RegisterServerClass(const FilterClass& filter_class) override;
  bool UnregisterClass(const FilterClass& filter_class) override;
  // One class object per factory, registered with CoRegisterClassObject (local server, multiple
  // use). True when every class is registered.
  bool RegisterFactories(std::span<const FilterClassFactory> factories) override;

  // CoRegisterClassObject for each class object not registered yet; failures are ignored.
  bool RegisterClassObjects();
  void RevokeClassObjects();
  // Creates the hidden main window "Dummy" (never shown). False when it cannot be created.
  bool CreateMainWindow();
  // Runs the message loop until the server has had no lock for a moment after at least one was
  // released (or its main window was closed with none). Returns the process exit code.
  int Run();

  // ObjectListener: a filter object is gone, or a LockServer lock was given back. One server per
  // process.
  void OnObjectDestroyed() override;

 private:
  class ClassObject;
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // Called by a class object before it creates an object: a server that has begun to end serves
  // on, with its class objects offered again.
  void OnActivation();
  static void CALLBACK IdleTimerProcedure(HWND window, UINT message, UINT_PTR timer, DWORD time);
  // Withdraws the class objects and leaves the message loop.
  void BeginEnding();
  // Serves, for a short while, what reaches the process after the loop ended; returns early when
  // an object is created.
  void ServeQueuedCalls();

  const platform::Services& services_;
  std::string program_path_;
  bool ole_initialized_ = false;
  std::vector<std::unique_ptr<ClassObject>> class_objects_;
  HWND window_ = nullptr;
  UINT_PTR idle_timer_ = 0;  // running while the server waits to end
  bool ending_ = false;
};

}  // namespace kv::com
