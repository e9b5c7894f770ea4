#pragma once
// A real temporary folder for a test, removed with everything in it when the object goes.

#include <filesystem>
#include <string>
#include <vector>

namespace kv::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to `relative` below the folder, creating folders on the way; returns the path.
  std::filesystem::path Write(const std::string& relative, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// The bytes of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// The regular files below `folder` at any depth, sorted; none when it does not exist.
std::vector<std::filesystem::path> FilesBelow(const std::filesystem::path& folder);
// What a shell command writes to its standard output and error, together.
std::string CommandOutput(const std::string& command);

}  // namespace kv::testing
