#include "windows_test_support.h"

#include <tlhelp32.h>

namespace kv::wintest {

namespace {
// An empty variant of type `type`, its value set by `set`.
template <typename Set>
VARIANT Make(VARTYPE type, Set set) {
  VARIANT v;
  VariantInit(&v);
  v.vt = type;
  set(v);
  return v;
}
}  // namespace

VARIANT I2(short value) {
  return Make(VT_I2, [&](VARIANT& v) { v.iVal = value; });
}
VARIANT I4(long value) {
  return Make(VT_I4, [&](VARIANT& v) { v.lVal = value; });
}
VARIANT R8(double value) {
  return Make(VT_R8, [&](VARIANT& v) { v.dblVal = value; });
}
VARIANT Bstr(const wchar_t* text) {
  return Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = SysAllocString(text); });
}
VARIANT ByReference(VARIANT* value) {
  return Make(VT_VARIANT | VT_BYREF, [&](VARIANT& v) { v.pvarVal = value; });
}

InvokeResult Call(IDispatch* object, DISPID member, std::vector<VARIANT> arguments, WORD flags) {
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

std::wstring Text(const VARIANT& value) {
  if (value.vt != VT_BSTR) return L"(not a string)";
  if (value.bstrVal == nullptr) return L"(null)";
  return std::wstring(value.bstrVal, SysStringLen(value.bstrVal));
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    Sleep(20);
  }
}

namespace {
BOOL CALLBACK VisitWindow(HWND window, LPARAM data) {
  auto* find = reinterpret_cast<std::pair<const std::function<bool(HWND)>*, HWND>*>(data);
  if (!(*find->first)(window)) return TRUE;
  find->second = window;
  return FALSE;
}
}  // namespace

HWND FindWindowWhere(const std::function<bool(HWND window)>& wanted, DWORD thread) {
  std::pair<const std::function<bool(HWND)>*, HWND> find{&wanted, nullptr};
  if (thread == 0) {
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&find));
  } else {
    EnumThreadWindows(thread, VisitWindow, reinterpret_cast<LPARAM>(&find));
  }
  return find.second;
}

std::string WindowText(HWND window, bool class_name) {
  char text[256] = {};
  if (class_name) {
    GetClassNameA(window, text, sizeof text);
  } else {
    GetWindowTextA(window, text, sizeof text);
  }
  return text;
}

std::vector<DWORD> ProcessesNamed(const wchar_t* exe_name) {
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
