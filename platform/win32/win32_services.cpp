#include "platform/win32/win32_services.h"

#include <climits>
#include <vector>

#include "platform/win32/windows_api.h"

namespace kv::platform {
namespace {

constexpr DWORD kPathBufferSize = 260;      // MAX_PATH, as the callers of GetTempPathA pass it
constexpr DWORD kTempNameBufferSize = 261;  // room for MAX_PATH characters and the NUL
constexpr DWORD kLongestKeyName = 256;      // registry key names hold at most 255 characters

HKEY ToHkey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

RegistryResult ResultOf(LONG status) {
  switch (status) {
    case ERROR_SUCCESS:
      return RegistryResult::kSuccess;
    case ERROR_NO_MORE_ITEMS:
      return RegistryResult::kNoMoreItems;
    case ERROR_MORE_DATA:
      return RegistryResult::kMoreData;
    case ERROR_FILE_NOT_FOUND:
      return RegistryResult::kNotFound;
    default:
      return RegistryResult::kError;
  }
}

DWORD ClampToDword(std::size_t size) {
  return size > ULONG_MAX ? ULONG_MAX : static_cast<DWORD>(size);
}

// UTF-16 of `text` in `code_page`; empty on failure.
std::wstring ToWide(UINT code_page, const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  int length =
      MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                      length);
  return wide;
}

std::string FromWide(UINT code_page, const std::wstring& wide, const char* default_char) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  int length = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                                   nullptr, 0, default_char, nullptr);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                      default_char, nullptr);
  return text;
}

}  // namespace

std::optional<RegistryKey> Win32Registry::OpenCurrentUserKey(const std::string& subkey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return reinterpret_cast<RegistryKey>(key);
}

RegistryResult Win32Registry::EnumValue(RegistryKey key, std::uint32_t index,
                                        std::size_t name_buffer_size, std::size_t data_buffer_size,
                                        RegistryValue& value) {
  // One spare byte each, so that a zero-sized buffer is still a buffer: with no data buffer at
  // all RegEnumValueA would report success instead of "more data".
  std::vector<char> name(name_buffer_size + 1, '\0');
  std::vector<std::uint8_t> data(data_buffer_size + 1, 0);
  DWORD name_length = ClampToDword(name_buffer_size);
  DWORD data_length = ClampToDword(data_buffer_size);
  DWORD type = REG_NONE;
  LONG status = RegEnumValueA(ToHkey(key), index, name.data(), &name_length, nullptr, &type,
                              data.data(), &data_length);
  if (status != ERROR_SUCCESS) return ResultOf(status);
  value.name.assign(name.data(), name_length);
  value.type = type;
  value.data.assign(data.begin(), data.begin() + data_length);
  value.required_size = 0;
  return RegistryResult::kSuccess;
}

RegistryResult Win32Registry::EnumKey(RegistryKey key, std::uint32_t index, std::string& name) {
  char buffer[kLongestKeyName] = {};
  DWORD length = kLongestKeyName;
  LONG status =
      RegEnumKeyExA(ToHkey(key), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return ResultOf(status);
  name.assign(buffer, length);
  return RegistryResult::kSuccess;
}

RegistryResult Win32Registry::QueryValue(RegistryKey key, const std::string& name,
                                         std::size_t data_buffer_size, RegistryValue& value) {
  std::vector<std::uint8_t> data(data_buffer_size + 1, 0);
  DWORD data_length = ClampToDword(data_buffer_size);
  DWORD type = REG_NONE;
  LONG status =
      RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &type, data.data(), &data_length);
  if (status == ERROR_MORE_DATA) {
    value.required_size = data_length;
    return RegistryResult::kMoreData;
  }
  if (status != ERROR_SUCCESS) return ResultOf(status);
  value.name = name;
  value.type = type;
  value.data.assign(data.begin(), data.begin() + data_length);
  value.required_size = 0;
  return RegistryResult::kSuccess;
}

void Win32Registry::CloseKey(RegistryKey key) { RegCloseKey(ToHkey(key)); }

std::string Win32TempFiles::TempPath() {
  char buffer[kPathBufferSize + 1] = {};
  DWORD length = GetTempPathA(kPathBufferSize, buffer);
  if (length == 0 || length > kPathBufferSize) return "";
  return std::string(buffer, length);
}

std::optional<std::string> Win32TempFiles::GetTempFileName(const std::string& folder,
                                                           std::string_view prefix,
                                                           std::uint32_t unique) {
  char name[kTempNameBufferSize] = {};
  std::string prefix_text(prefix.substr(0, 3));
  if (GetTempFileNameA(folder.c_str(), prefix_text.c_str(), unique, name) == 0) {
    return std::nullopt;
  }
  return std::string(name);
}

std::string Win32Environment::ExpandEnvironmentStrings(const std::string& text) {
  DWORD needed = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
  for (int attempt = 0; attempt < 3 && needed > 0; ++attempt) {
    // The ANSI call may need one byte more than it reported.
    std::vector<char> buffer(needed + 1, '\0');
    DWORD written = ExpandEnvironmentStringsA(text.c_str(), buffer.data(), needed + 1);
    if (written == 0) break;
    if (written <= needed + 1) return std::string(buffer.data());
    needed = written;  // a variable grew between the calls
  }
  return text;
}

std::string Win32CodePage::ToUtf8(const std::string& text) {
  return FromWide(CP_UTF8, ToWide(CP_ACP, text), nullptr);
}

std::string Win32CodePage::FromUtf8(const std::string& text) {
  return FromWide(CP_ACP, ToWide(CP_UTF8, text), "?");
}

void Win32DebugDiagnostics::Report(const Diagnostic& diagnostic) {
  const std::string line = FormatDiagnostic(diagnostic) + "\n";
  OutputDebugStringA(line.c_str());
}

}  // namespace kv::platform
