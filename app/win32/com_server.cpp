#include "app/win32/com_server.h"

#include <new>

#include "app/win32/automation_text.h"
#include "app/win32/class_registration.h"

namespace kv::com {
namespace {

// How long the server waits, once the last lock is gone, before it withdraws its class objects
// (a client releasing one object and creating the next at once finds it still there), and how
// long after that it still serves calls that were already on their way.
constexpr UINT kIdleWaitMilliseconds = 1000;
constexpr ULONGLONG kEndingPauseMilliseconds = 500;

// The one server of the process, for the idle timer.
ComServer* g_server = nullptr;
constexpr char kWindowClassName[] = "KvfltrsFrame";
constexpr char kWindowTitle[] = "Dummy";

}  // namespace

// The class factory of one filter class. Its life is the server's: COM's references to it never
// delete it.
class ComServer::ClassObject final : public IClassFactory {
 public:
  ClassObject(ComServer& server, const FilterClassFactory& factory, const GUID& class_id,
              const platform::Services& services)
      : server_(server), factory_(factory), class_id_(class_id), services_(services) {}

  const GUID& class_id() const { return class_id_; }
  DWORD cookie = 0;  // CoRegisterClassObject's registration, 0 while not registered

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    server_.OnActivation();
    FilterDispatch* dispatch = nullptr;
    try {
      // The filter takes its server lock in its constructor.
      dispatch = new FilterDispatch(class_id_, factory_.CreateObject(services_), &server_);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
    HRESULT status = dispatch->QueryInterface(iid, object);
    dispatch->Release();  // the caller's reference, if any, keeps it
    return status;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      server_.OnActivation();
      ServerLock::Lock();
    } else {
      ServerLock::Unlock();
      server_.OnObjectDestroyed();
    }
    return S_OK;
  }

 private:
  ComServer& server_;
  const FilterClassFactory& factory_;
  GUID class_id_;
  const platform::Services& services_;
};

ComServer::ComServer(const platform::Services& services, std::string program_path)
    : services_(services), program_path_(std::move(program_path)) {
  g_server = this;
}

bool ComServer::Initialize() {
  ole_initialized_ = SUCCEEDED(OleInitialize(nullptr));
  return ole_initialized_;
}

bool ComServer::RegisterServerClass(const FilterClass& filter_class) {
  return com::RegisterServerClass(filter_class, program_path_);
}

bool ComServer::UnregisterClass(const FilterClass& filter_class) {
  return UnregisterServerClass(filter_class);
}

bool ComServer::RegisterFactories(std::span<const FilterClassFactory> factories) {
  for (const FilterClassFactory& factory : factories) {
    std::optional<GUID> class_id = ParseGuid(factory.filter_class().clsid);
    if (!class_id) continue;
    class_objects_.push_back(std::make_unique<ClassObject>(*this, factory, *class_id, services_));
    // An external lock keeps the class object reachable for a client that was handed it just
    // before the server withdrew it on its way out; that client's call is then still served.
    CoLockObjectExternal(class_objects_.back().get(), TRUE, FALSE);
  }
  return RegisterClassObjects() && class_objects_.size() == factories.size();
}

ComServer::~ComServer() {
  if (idle_timer_ != 0) KillTimer(nullptr, idle_timer_);
  g_server = nullptr;
  RevokeClassObjects();
  for (const std::unique_ptr<ClassObject>& class_object : class_objects_) {
    CoLockObjectExternal(class_object.get(), FALSE, TRUE);
  }
  class_objects_.clear();
  if (window_ != nullptr) DestroyWindow(window_);
  if (ole_initialized_) OleUninitialize();
}

bool ComServer::RegisterClassObjects() {
  bool all = true;
  for (const std::unique_ptr<ClassObject>& class_object : class_objects_) {
    if (class_object->cookie != 0) continue;
    DWORD cookie = 0;
    if (SUCCEEDED(CoRegisterClassObject(class_object->class_id(), class_object.get(),
                                        CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie))) {
      class_object->cookie = cookie;
    } else {
      all = false;
    }
  }
  return all;
}

void ComServer::RevokeClassObjects() {
  for (const std::unique_ptr<ClassObject>& class_object : class_objects_) {
    if (class_object->cookie == 0) continue;
    CoRevokeClassObject(class_object->cookie);
    class_object->cookie = 0;
  }
}

bool ComServer::CreateMainWindow() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = &ComServer::WindowProcedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  window_class.lpszClassName = kWindowClassName;
  RegisterClassA(&window_class);
  window_ = CreateWindowExA(0, kWindowClassName, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                            this);
  return window_ != nullptr;
}

LRESULT CALLBACK ComServer::WindowProcedure(HWND window, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* server = reinterpret_cast<ComServer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (server == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  return server->HandleMessage(window, message, wparam, lparam);
}

LRESULT ComServer::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      // Closing the main window ends the server only when no client holds an object.
      if (ServerLock::Count() == 0) BeginEnding();
      return 0;
    case WM_HELP:
      return TRUE;  // the server has no help
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

void ComServer::OnObjectDestroyed() {
  if (ServerLock::Count() != 0 || idle_timer_ != 0) return;
  idle_timer_ = SetTimer(nullptr, 0, kIdleWaitMilliseconds, &ComServer::IdleTimerProcedure);
}

void CALLBACK ComServer::IdleTimerProcedure(HWND /*window*/, UINT /*message*/, UINT_PTR timer,
                                            DWORD /*time*/) {
  KillTimer(nullptr, timer);
  if (g_server == nullptr || g_server->idle_timer_ != timer) return;
  g_server->idle_timer_ = 0;
  // An object created during the wait keeps the server; its release starts the wait again.
  if (ServerLock::Count() == 0) g_server->BeginEnding();
}

void ComServer::OnActivation() {
  if (!ending_) return;
  ending_ = false;
  RegisterClassObjects();
}

void ComServer::BeginEnding() {
  if (ending_) return;
  // From here on COM starts a new server for a new client.
  RevokeClassObjects();
  ending_ = true;
  PostQuitMessage(0);
}

void ComServer::ServeQueuedCalls() {
  const ULONGLONG end = GetTickCount64() + kEndingPauseMilliseconds;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= end || ServerLock::Count() != 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
  }
}

int ComServer::Run() {
  for (;;) {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    // A client that was handed a class object just before it was withdrawn still reaches this
    // process: its calls are served for a moment before the process ends.
    ServeQueuedCalls();
    if (ServerLock::Count() == 0) return 0;
    // One of them created an object (or locked the server): serve on.
    OnActivation();
  }
}

}  // namespace kv::com
