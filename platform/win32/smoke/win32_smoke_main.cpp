// A self-check of the Win32 platform layer on a real (or emulated) Windows system: files and
// directory searches in the temporary folder, a registry key of the current user named
// Software\KvPlatformSmoke (created with the system calls, read through Win32Registry, removed),
// environment expansion and the code page. The unit tests run on Linux only; this program is what
// exercises the Windows side. It prints each failed check and exits with the number of failures.
//
//   cmake --preset mingw64 && cmake --build build-mingw64 --target kv_win32_smoke
//   WINEDEBUG=-all wine64 build-mingw64/platform/kv_win32_smoke.exe

#include <cstdio>
#include <string>

#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/windows_api.h"

namespace kv::platform {
namespace {

constexpr char kSmokeKey[] = "Software\\KvPlatformSmoke";
constexpr char kCommandLineKey[] = "Software\\KvPlatformSmoke\\CommandLine";

int failures = 0;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::printf("FAILED: %s\n", what);
  ++failures;
}

std::string ReadAll(ReadableFile& file) {
  std::string all;
  std::uint8_t buffer[3];
  while (std::optional<std::size_t> count = file.Read(buffer)) {
    if (*count == 0) break;
    all.append(reinterpret_cast<const char*>(buffer), *count);
  }
  return all;
}

std::string Listing(FileSystem& files, const std::string& pattern) {
  std::string listing;
  std::unique_ptr<FileFinder> finder = files.FindFirst(pattern);
  if (!finder) return listing;
  while (std::optional<FindEntry> entry = finder->Next()) {
    listing += entry->name + (entry->IsDirectory() ? "/ " : " ");
  }
  return listing;
}

void CheckTempFiles(Win32TempFiles& temp) {
  std::string folder = temp.TempPath();
  Check(!folder.empty() && folder.back() == '\\', "TempPath ends in a separator");
  std::optional<std::string> first = temp.GetTempFileName(folder, "imp", 0);
  std::optional<std::string> second = temp.GetTempFileName(folder, "imp", 0);
  Check(first && second && *first != *second, "two temporary names differ");
  Win32FileSystem files;
  Check(first && files.Status(*first) && files.Status(*first)->size == 0, "temporary file empty");
  if (first) files.Delete(*first);
  if (second) files.Delete(*second);
}

void CheckFileSystem(const std::string& folder) {
  Win32FileSystem files;
  CreateDirectoryA(folder.c_str(), nullptr);
  CreateDirectoryA((folder + "\\Sub").c_str(), nullptr);
  const std::uint8_t data[] = {'a', '\r', '\n', 'b', 0x1A, 'c'};
  for (const char* name : {"Inbox", "inbox.snm", "b.MBX", "a.mbx", "Old.2000", "Zeta"}) {
    std::unique_ptr<WritableFile> out = files.OpenForWriting(folder + "\\" + name);
    Check(out && out->Write(data) && out->Close(), "writing a file");
  }
  Check(Listing(files, folder + "\\*.") == "Inbox Sub/ Zeta ",
        "\"*.\" lists names without extension");
  Check(Listing(files, folder + "/*.mbx") == "a.mbx b.MBX ", "\"*.mbx\" in fixed order");
  Check(files.FindFirst(folder + "\\*.toc") == nullptr, "no match gives no finder");

  std::unique_ptr<ReadableFile> text = files.OpenForReading(folder + "\\INBOX", OpenMode::kText);
  Check(text && ReadAll(*text) == "a\nb", "text mode");
  std::unique_ptr<ReadableFile> binary = files.OpenForReading(folder + "\\inbox");
  Check(binary && binary->Size() == 6u, "size");
  Check(binary && binary->Seek(3) &&
            ReadAll(*binary) ==
                "b\x1A"
                "c",
        "positioned read");
  Check(binary && binary->Seek(100) && ReadAll(*binary).empty(), "read past the end");
  std::unique_ptr<MappedFile> mapped = files.MapReadOnly(folder + "\\a.mbx");
  Check(mapped && mapped->bytes().size() == 6 && mapped->bytes().u8(5) == 'c', "mapping");
  std::unique_ptr<WritableFile> empty = files.OpenForWriting(folder + "\\empty");
  Check(empty && empty->Close(), "empty file");
  std::unique_ptr<MappedFile> empty_map = files.MapReadOnly(folder + "\\empty");
  Check(empty_map && empty_map->bytes().empty(), "mapping an empty file");
  Check(files.OpenForReading(folder + "\\Sub") == nullptr, "a folder does not open");

  Check(files.Exists(folder + "\\SUB") && !files.Exists(folder + "\\nope"), "existence");
  std::optional<FileStatus> status = files.Status(folder + "\\Zeta");
  Check(status && status->size == 6 && !status->IsDirectory(), "file status");
  Check(status && status->modified_unix_seconds > 1500000000, "modification time");
  Check(files.Status(folder + "\\Sub") && files.Status(folder + "\\Sub")->IsDirectory(),
        "folder status");
  Check(files.Delete(folder + "\\Zeta") && !files.Exists(folder + "\\Zeta"), "delete");
  Check(!files.Delete(folder + "\\Sub"), "a folder is not deleted");

  mapped.reset();
  empty_map.reset();
  binary.reset();
  text.reset();
  for (const char* name : {"Inbox", "inbox.snm", "b.MBX", "a.mbx", "Old.2000", "empty"}) {
    files.Delete(folder + "\\" + name);
  }
  RemoveDirectoryA((folder + "\\Sub").c_str());
  RemoveDirectoryA(folder.c_str());
}

void CheckRegistry() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kCommandLineKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    Check(false, "creating the test key");
    return;
  }
  const char command_line[] = "C:\\EUDORA\\eudora.exe x y";
  DWORD seven = 7;
  RegSetValueExA(key, "Current", 0, REG_SZ, reinterpret_cast<const BYTE*>(command_line),
                 sizeof command_line);
  RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seven), sizeof seven);
  RegCloseKey(key);

  Win32Registry registry;
  std::optional<RegistryKey> opened =
      registry.OpenCurrentUserKey("software\\KVPLATFORMSMOKE\\commandline");
  Check(opened.has_value(), "opening a key without regard to case");
  if (opened) {
    RegistryValue value;
    Check(registry.EnumValue(*opened, 0, 80, 783, value) == RegistryResult::kSuccess &&
              value.name == "Current" && value.Text() == command_line && value.type == kRegSz,
          "enumerating a value");
    Check(registry.EnumValue(*opened, 0, 7, 783, value) == RegistryResult::kMoreData,
          "name buffer without room for the NUL");
    Check(registry.EnumValue(*opened, 0, 80, 3, value) == RegistryResult::kMoreData,
          "small data buffer");
    Check(registry.EnumValue(*opened, 0, 80, 0, value) == RegistryResult::kMoreData,
          "no data buffer");
    Check(registry.EnumValue(*opened, 2, 80, 783, value) == RegistryResult::kNoMoreItems,
          "end of the values");
    RegistryValue queried;
    Check(registry.QueryValue(*opened, "current", 4, queried) == RegistryResult::kMoreData &&
              queried.required_size == sizeof command_line,
          "query with a small buffer");
    Check(registry.QueryValue(*opened, "number", 4, queried) == RegistryResult::kSuccess &&
              queried.type == kRegDword && queried.data.size() == 4,
          "query of a number");
    Check(registry.QueryValue(*opened, "missing", 4, queried) == RegistryResult::kNotFound,
          "query of a missing value");
    registry.CloseKey(*opened);
  }
  std::optional<RegistryKey> parent = registry.OpenCurrentUserKey(kSmokeKey);
  std::string name;
  Check(parent && registry.EnumKey(*parent, 0, name) == RegistryResult::kSuccess &&
            name == "CommandLine",
        "enumerating a subkey");
  Check(parent && registry.EnumKey(*parent, 1, name) == RegistryResult::kNoMoreItems,
        "end of the subkeys");
  if (parent) registry.CloseKey(*parent);
  Check(!registry.OpenCurrentUserKey("Software\\KvPlatformSmoke\\Nothing"), "a missing key");
  RegDeleteKeyA(HKEY_CURRENT_USER, kCommandLineKey);
  RegDeleteKeyA(HKEY_CURRENT_USER, kSmokeKey);
}

void CheckEnvironmentAndCodePage() {
  SetEnvironmentVariableA("KVPLATFORMSMOKE", "C:\\Users\\Ann");
  Win32Environment environment;
  Check(environment.ExpandEnvironmentStrings("%kvplatformsmoke%\\Mail %NOPE_X% 100%") ==
            "C:\\Users\\Ann\\Mail %NOPE_X% 100%",
        "environment expansion");
  if (GetACP() != 1252) {
    std::printf("code page %u: Windows-1252 checks skipped\n", GetACP());
    return;
  }
  Win32CodePage code_page;
  Check(code_page.ToUtf8("Gel\xF6scht \x80") == "Gel\xC3\xB6scht \xE2\x82\xAC", "to UTF-8");
  Check(code_page.FromUtf8("Gel\xC3\xB6scht \xE2\x82\xAC \xE6\x97\xA5") == "Gel\xF6scht \x80 ?",
        "from UTF-8");
}

}  // namespace
}  // namespace kv::platform

int main() {
  using namespace kv::platform;
  Win32TempFiles temp;
  CheckTempFiles(temp);
  CheckFileSystem(temp.TempPath() + "kv_platform_smoke");
  CheckRegistry();
  CheckEnvironmentAndCodePage();
  std::printf("%s\n", failures == 0 ? "all checks passed" : "some checks failed");
  return failures;
}
