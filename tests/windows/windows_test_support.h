#pragma once
// Helpers the Windows tests share: calling IDispatch::Invoke with positional arguments, VARIANTs
// that clean up after themselves, waiting for windows and processes.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/windows_api.h"
// oleauto.h needs windows.h first.
#include <oleauto.h>

namespace kv::wintest {

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

VARIANT I2(short value);
VARIANT I4(long value);
VARIANT R8(double value);
// A new BSTR variant; Variant's destructor frees it.
VARIANT Bstr(const wchar_t* text);
// A variant by reference to `value`, as a script passes a variable.
VARIANT ByReference(VARIANT* value);

struct InvokeResult {
  HRESULT status = E_FAIL;
  VARIANT result{};
  UINT argument_error = 0xFFFF;
};

// Invoke with `arguments` in the order the method takes them (reversed for the call). The caller
// clears `result`.
InvokeResult Call(IDispatch* object, DISPID member, std::vector<VARIANT> arguments = {},
                  WORD flags = DISPATCH_METHOD);

// The text of a VT_BSTR result as UTF-16 ("(null)" for a null BSTR).
std::wstring Text(const VARIANT& value);

// Polls `condition` every 20 ms until it holds or `timeout` passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// The first top-level window (of `thread`, or of any thread when it is 0) for which `wanted`
// holds; null when there is none.
HWND FindWindowWhere(const std::function<bool(HWND window)>& wanted, DWORD thread = 0);
// The window's title, or its class name when `class_name` is set.
std::string WindowText(HWND window, bool class_name = false);

// Process IDs of running programs named `exe_name` (compared without regard to case).
std::vector<DWORD> ProcessesNamed(const wchar_t* exe_name);

}  // namespace kv::wintest
