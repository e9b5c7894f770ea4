#include "app/win32/class_registration.h"

#include "platform/win32/windows_api.h"

namespace kv::com {
namespace {

constexpr char kClassesKey[] = "Software\\Classes\\";

// A registry key opened for writing, closed on destruction.
class WritableKey {
 public:
  WritableKey(HKEY root, const std::string& path) {
    status_ = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                              nullptr, &key_, nullptr);
  }
  ~WritableKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  WritableKey(const WritableKey&) = delete;
  WritableKey& operator=(const WritableKey&) = delete;

  LONG status() const { return status_; }
  bool SetDefault(const std::string& text) {
    if (key_ == nullptr) return false;
    return RegSetValueExA(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
  }

 private:
  HKEY key_ = nullptr;
  LONG status_ = ERROR_INVALID_HANDLE;
};

bool WriteEntries(HKEY root, const FilterClass& filter_class, const std::string& command) {
  const std::string prog_id(filter_class.prog_id);
  const std::string class_key =
      kClassesKey + std::string("CLSID\\") + std::string(filter_class.clsid);
  bool written = WritableKey(root, kClassesKey + prog_id).SetDefault(prog_id);
  written &= WritableKey(root, kClassesKey + prog_id + "\\CLSID")
                 .SetDefault(std::string(filter_class.clsid));
  written &= WritableKey(root, class_key).SetDefault(prog_id);
  written &= WritableKey(root, class_key + "\\ProgID").SetDefault(prog_id);
  written &= WritableKey(root, class_key + "\\LocalServer32").SetDefault(command);
  return written;
}

// Deletes `path` and its subkeys; true when it is gone (or was never there).
bool DeleteTree(HKEY root, const std::string& path) {
  const LONG status = RegDeleteTreeA(root, path.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace

std::string ServerCommand(const std::string& program_path) {
  if (program_path.find(' ') == std::string::npos) return program_path;
  return "\"" + program_path + "\"";
}

bool RegisterServerClass(const FilterClass& filter_class, const std::string& program_path) {
  const std::string command = ServerCommand(program_path);
  // Whether the machine's classes may be written shows when the first key is created.
  LONG machine =
      WritableKey(HKEY_LOCAL_MACHINE, kClassesKey + std::string(filter_class.prog_id)).status();
  HKEY root = machine == ERROR_SUCCESS ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  return WriteEntries(root, filter_class, command);
}

bool UnregisterServerClass(const FilterClass& filter_class) {
  const std::string prog_id = kClassesKey + std::string(filter_class.prog_id);
  const std::string class_key =
      kClassesKey + std::string("CLSID\\") + std::string(filter_class.clsid);
  bool removed = true;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    removed &= DeleteTree(root, prog_id);
    removed &= DeleteTree(root, class_key);
  }
  return removed;
}

}  // namespace kv::com
