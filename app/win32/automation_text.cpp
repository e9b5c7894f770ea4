#include "app/win32/automation_text.h"

#include <climits>
#include <new>
#include <vector>

namespace kv::com {
namespace {

constexpr std::size_t kGuidTextLength = 38;  // braces, 32 hexadecimal digits and 4 hyphens

}  // namespace

BSTR ToBstr(const std::optional<std::string>& text) {
  if (!text) return nullptr;
  if (text->size() > INT_MAX / 2) throw std::bad_alloc();
  const int source_length = static_cast<int>(text->size());
  const int length = source_length == 0
                         ? 0
                         : MultiByteToWideChar(CP_UTF8, 0, text->data(), source_length, nullptr, 0);
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (result == nullptr) throw std::bad_alloc();
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text->data(), source_length, result, length);
  return result;
}

std::string FromBstr(BSTR text) {
  const UINT length = SysStringLen(text);
  if (length == 0 || length > INT_MAX) return {};
  const int wide_length = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, wide_length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, wide_length, result.data(), size, nullptr, nullptr);
  return result;
}

std::optional<GUID> ParseGuid(std::string_view text) {
  if (text.size() != kGuidTextLength) return std::nullopt;
  std::wstring wide(text.begin(), text.end());
  GUID guid;
  if (FAILED(CLSIDFromString(wide.c_str(), &guid))) return std::nullopt;
  return guid;
}

}  // namespace kv::com
