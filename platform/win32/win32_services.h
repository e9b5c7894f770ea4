#pragma once
// The Win32 registry, temporary files, environment and code page: thin wrappers that pass each
// call to the ...A function it stands for.

#include "platform/diagnostics.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "platform/temp_files.h"

namespace kv::platform {

// HKEY_CURRENT_USER through RegOpenKeyExA (KEY_READ), RegEnumValueA, RegEnumKeyExA,
// RegQueryValueExA and RegCloseKey. A RegistryKey is the HKEY's value.
class Win32Registry final : public Registry {
 public:
  std::optional<RegistryKey> OpenCurrentUserKey(const std::string& subkey) override;
  RegistryResult EnumValue(RegistryKey key, std::uint32_t index, std::size_t name_buffer_size,
                           std::size_t data_buffer_size, RegistryValue& value) override;
  RegistryResult EnumKey(RegistryKey key, std::uint32_t index, std::string& name) override;
  RegistryResult QueryValue(RegistryKey key, const std::string& name, std::size_t data_buffer_size,
                            RegistryValue& value) override;
  void CloseKey(RegistryKey key) override;
};

// GetTempPathA and GetTempFileNameA.
class Win32TempFiles final : public TempFiles {
 public:
  std::string TempPath() override;
  std::optional<std::string> GetTempFileName(const std::string& folder, std::string_view prefix,
                                             std::uint32_t unique) override;
};

// ExpandEnvironmentStringsA.
class Win32Environment final : public Environment {
 public:
  std::string ExpandEnvironmentStrings(const std::string& text) override;
};

// The system code page (CP_ACP) to and from UTF-8 through UTF-16.
class Win32CodePage final : public CodePage {
 public:
  std::string ToUtf8(const std::string& text) override;
  std::string FromUtf8(const std::string& text) override;
};

// Each report as one line to the system debugger (OutputDebugStringA): a server has no console,
// and the host learns of the loss through the dispatch interface as it always has.
class Win32DebugDiagnostics final : public Diagnostics {
 public:
  void Report(const Diagnostic& diagnostic) override;
};

}  // namespace kv::platform
