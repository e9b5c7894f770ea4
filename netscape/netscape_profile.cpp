#include "netscape/netscape_profile.h"

#include <optional>

#include "platform/text.h"

namespace kv {
namespace {

constexpr const char* kCurrentUserValue = "CurrentUser";
constexpr const char* kDefaultServerValue = "defaultServer";
constexpr const char* kServersSubkey = "servers";
constexpr const char* kPopStateValue = "popstatePath";
constexpr const char* kInstallDirectoryValue = "Install Directory";
constexpr std::size_t kFirstValueBuffer = 260;

// The preference that names the mail directory, quotes included, as the lower-cased file holds it.
constexpr std::string_view kMailDirectoryKey = "\"mail.directory\"";

// Opens `subkey`, reads `value` and closes the key again; nullopt when the key cannot be opened.
std::optional<std::string> ReadKeyValue(platform::Registry& registry, const std::string& subkey,
                                        const std::string& value) {
  std::optional<platform::RegistryKey> key = registry.OpenCurrentUserKey(subkey);
  if (!key) return std::nullopt;
  std::string text = ReadRegString(registry, *key, value);
  registry.CloseKey(*key);
  return text;
}

std::string ReadWholeFile(platform::FileSystem& files, const std::string& path) {
  std::string text;
  std::unique_ptr<platform::ReadableFile> file = files.OpenForReading(path);
  if (!file) return text;
  std::uint8_t buffer[16384];
  while (std::optional<std::size_t> count = file->Read(buffer)) {
    if (*count == 0) break;
    text.append(reinterpret_cast<const char*>(buffer), *count);
  }
  return text;
}

// The mail.directory value of a lower-cased prefs.js: the text between the two quotes that follow
// the key and its separator, as written. Empty when the key (found only past the file's first
// byte) or either quote is missing.
std::string MailDirectoryPreference(const std::string& prefs) {
  const std::size_t key = prefs.find(kMailDirectoryKey);
  if (key == std::string::npos || key == 0) return {};
  const std::size_t open = prefs.find('"', key + kMailDirectoryKey.size() + 1);
  if (open == std::string::npos) return {};
  const std::size_t close = prefs.find('"', open + 1);
  if (close == std::string::npos) return {};
  return prefs.substr(open + 1, close - open - 1);
}

bool IsDirectory(platform::FileSystem& files, const std::string& path) {
  std::unique_ptr<platform::FileFinder> finder = files.FindFirst(path);
  if (!finder) return false;
  while (std::optional<platform::FindEntry> entry = finder->Next()) {
    if (entry->IsDirectory()) return true;
  }
  return false;
}

}  // namespace

std::string ReadRegString(platform::Registry& registry, platform::RegistryKey key,
                          const std::string& name) {
  platform::RegistryValue value;
  platform::RegistryResult result = registry.QueryValue(key, name, kFirstValueBuffer, value);
  if (result == platform::RegistryResult::kMoreData) {
    const std::size_t needed = value.required_size + 1;
    result = registry.QueryValue(key, name, needed, value);
  }
  if (result != platform::RegistryResult::kSuccess) return {};
  return value.Text();
}

std::string NetscapeProfileLocator(platform::Registry& registry, platform::FileSystem& files) {
  const std::optional<std::string> user =
      ReadKeyValue(registry, kNetscapeBiffKey, kCurrentUserValue);
  if (!user) return {};

  // The mail state file lies in the mail directory.
  const std::string user_key = std::string(kNetscapeUsersKey) + "\\" + *user;
  if (std::optional<std::string> server = ReadKeyValue(registry, user_key, kDefaultServerValue)) {
    const std::string server_key = user_key + "\\" + kServersSubkey + "\\" + *server;
    if (std::optional<std::string> state = ReadKeyValue(registry, server_key, kPopStateValue)) {
      const std::size_t slash = state->rfind('\\');
      if (slash != std::string::npos) {
        const std::string candidate = state->substr(0, slash);
        if (files.Exists(candidate)) return candidate;
      }
    }
  }

  const std::optional<std::string> install =
      ReadKeyValue(registry, kNetscapeMainKey, kInstallDirectoryValue);
  if (!install) return {};
  const std::size_t slash = install->rfind('\\');

  if (!user->empty() && slash != std::string::npos && slash > 0) {
    const std::string profile = install->substr(0, slash) + "\\Users\\" + *user;
    const std::string candidate = MailDirectoryPreference(
        platform::ToLowerAscii(ReadWholeFile(files, profile + "\\prefs.js")));
    if (!candidate.empty() && files.Exists(candidate)) return candidate;
  }

  if (slash == std::string::npos) return {};
  // The user name goes in as text: a "%" in the installation path is not a format directive.
  const std::string candidate = install->substr(0, slash) + "\\Users\\" + *user + "\\Mail";
  return IsDirectory(files, candidate) ? candidate : std::string();
}

}  // namespace kv
