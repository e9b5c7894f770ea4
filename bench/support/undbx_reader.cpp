#include "support/undbx_reader.h"

#include <algorithm>
#include <cstdlib>

#include "support/temp_dir.h"

namespace kv::testing {
namespace {

std::string Quoted(const std::filesystem::path& path) {
  std::string quoted = "'";
  for (char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

bool UndbxInstalled() { return std::system("command -v undbx >/dev/null 2>&1") == 0; }

bool RunUndbx(const std::filesystem::path& source, const std::filesystem::path& output) {
  std::filesystem::create_directories(output);
  const std::string command =
      "undbx --verbosity 0 " + Quoted(source) + " " + Quoted(output) + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

std::optional<std::map<std::string, std::vector<std::string>>> UndbxMessages(
    const std::filesystem::path& source) {
  if (!UndbxInstalled()) return std::nullopt;
  TempDir output;
  if (!RunUndbx(source, output.path())) return std::nullopt;
  std::map<std::string, std::vector<std::string>> messages;
  for (const auto& entry : std::filesystem::directory_iterator(output.path())) {
    if (!entry.is_directory()) continue;
    std::vector<std::string>& folder = messages[entry.path().filename().string()];
    for (const auto& file : std::filesystem::directory_iterator(entry.path())) {
      if (file.is_regular_file()) folder.push_back(ReadFile(file.path()));
    }
    std::sort(folder.begin(), folder.end());
  }
  return messages;
}

}  // namespace kv::testing
