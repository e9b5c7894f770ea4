#pragma once
// Helpers the Windows tests share: calling IDispatch::Invoke with positional arguments, VARIANTs
// that clean up after themselves, finding windows and processes.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/windows_api.h"
#include "support/wait_until.h"
// oleauto.h and tlhelp32.h need windows.h first.
#include <oleauto.h>
#include <tlhelp32.h>

namespace kv::wintest {

using kv::testing::WaitUntil;

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  explicit Variant(const VARIANT& value) : value_(value) {}
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &value_; }
  const VARIANT& operator*() const { return value_; }
  const VARIANT* operator->() const { return &value_; }

 private:
  VARIANT value_;
};

// An empty variant of type `type`, its value set by `set`.
template <typename Set>
VARIANT Make(VARTYPE type, Set set) {
  VARIANT v;
  VariantInit(&v);
  v.vt = type;
  set(v);
  return v;
}
inline VARIANT I2(short value) {
  return Make(VT_I2, [&](VARIANT& v) { v.iVal = value; });
}
inline VARIANT I4(long value) {
  return Make(VT_I4, [&](VARIANT& v) { v.lVal = value; });
}
inline VARIANT R8(double value) {
  return Make(VT_R8, [&](VARIANT& v) { v.dblVal = value; });
}
// A new BSTR variant; Variant's destructor frees it.
inline VARIANT Bstr(const wchar_t* text) {
  return Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = SysAllocString(text); });
}
// A variant by reference to `value`, as a script passes a variable.
inline VARIANT ByReference(VARIANT* value) {
  return Make(VT_VARIANT | VT_BYREF, [&](VARIANT& v) { v.pvarVal = value; });
}

struct InvokeResult {
  HRESULT status = E_FAIL;
  VARIANT result{};
  UINT argument_error = 0xFFFF;
};

// Invoke with `arguments` in the order the method takes them (reversed for the call). The caller
// clears `result`.
inline InvokeResult Call(IDispatch* object, DISPID member, std::vector<VARIANT> arguments = {},
                         WORD flags = DISPATCH_METHOD) {
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
  DISPPARAMS parameters{reversed.empty() ? nullptr : reversed.data(), nullptr,
                        static_cast<UINT>(reversed.size()), 0};
  InvokeResult call;
  VariantInit(&call.result);
  call.status = object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                               &call.result, nullptr, &call.argument_error);
  for (VARIANT& argument : reversed) VariantClear(&argument);
  return call;
}

// The text of a VT_BSTR result as UTF-16 ("(null)" for a null BSTR).
inline std::wstring Text(const VARIANT& value) {
  if (value.vt != VT_BSTR) return L"(not a string)";
  if (value.bstrVal == nullptr) return L"(null)";
  return std::wstring(value.bstrVal, SysStringLen(value.bstrVal));
}

// The first top-level window (of `thread`, or of any thread when it is 0) for which `wanted`
// holds; null when there is none.
inline HWND FindWindowWhere(const std::function<bool(HWND window)>& wanted, DWORD thread = 0) {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, nullptr, nullptr)) != nullptr) {
    if ((thread == 0 || GetWindowThreadProcessId(window, nullptr) == thread) && wanted(window)) {
      break;
    }
  }
  return window;
}

// The window's title, or its class name when `class_name` is set.
inline std::string WindowText(HWND window, bool class_name = false) {
  char text[256] = {};
  if (class_name) {
    GetClassNameA(window, text, sizeof text);
  } else {
    GetWindowTextA(window, text, sizeof text);
  }
  return text;
}

// Process IDs of running programs named `exe_name` (compared without regard to case).
inline std::vector<DWORD> ProcessesNamed(const wchar_t* exe_name) {
  std::vector<DWORD> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, exe_name) == 0) found.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace kv::wintest
