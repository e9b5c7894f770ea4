#pragma once
// Automation strings (BSTR) and class IDs as the COM layer of the server needs them. Strings are
// UTF-8 on our side of the filter interface (a filter converts from the system code page), UTF-16
// in a BSTR.

#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/windows_api.h"
// oleauto.h needs windows.h first.
#include <oleauto.h>

namespace kv::com {

// A new BSTR holding `text` (UTF-8); the caller frees it with SysFreeString. Null for a null
// string; throws std::bad_alloc when no memory is left.
BSTR ToBstr(const std::optional<std::string>& text);
// The UTF-8 text of `text`; a null BSTR reads as empty.
std::string FromBstr(BSTR text);

// The GUID spelled "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; nullopt when `text` is not one.
std::optional<GUID> ParseGuid(std::string_view text);

// A BSTR owned for one scope.
class ScopedBstr {
 public:
  explicit ScopedBstr(BSTR text = nullptr) : text_(text) {}
  ~ScopedBstr() { SysFreeString(text_); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  BSTR get() const { return text_; }
  BSTR release() {
    BSTR text = text_;
    text_ = nullptr;
    return text;
  }

 private:
  BSTR text_;
};

}  // namespace kv::com
