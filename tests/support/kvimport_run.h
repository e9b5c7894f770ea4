#pragma once
// Runs the kvimport program built with the tests, as a user runs it from a shell.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "support/temp_dir.h"

namespace kv::testing {

// Runs kvimport with `arguments` (shell words, quoted by the caller), no input, its temporary
// folder dir/tmp (created here), its output in dir/out and its errors in dir/err. Needs
// KV_KVIMPORT_PATH (the test program defines it). The exit code; -1 when it did not exit.
inline int RunKvimport(const TempDir& dir, const std::string& arguments) {
  const std::filesystem::path tmp = dir.path() / "tmp";
  std::filesystem::create_directories(tmp);
  const std::string line = "TMPDIR='" + tmp.string() + "' '" + KV_KVIMPORT_PATH + "' " + arguments +
                           " </dev/null >'" + (dir.path() / "out").string() + "' 2>'" +
                           (dir.path() / "err").string() + "'";
  const int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// RunKvimport with `arguments` and "--store dir/store" (a store the caller put there): expects exit
// code 0, the store's bytes and modification times unchanged and nothing left in dir/tmp. The
// standard output.
inline std::string RunKvimportOnStore(const TempDir& dir, const std::string& arguments) {
  const std::filesystem::path store = dir.path() / "store";
  auto snapshot = [&store] {
    std::map<std::filesystem::path, std::pair<std::string, std::filesystem::file_time_type>> files;
    for (const std::filesystem::path& file : FilesBelow(store))
      files[file] = {ReadFile(file), last_write_time(file)};
    return files;
  };
  const auto before = snapshot();
  EXPECT_EQ(RunKvimport(dir, arguments + " --store '" + store.string() + "'"), 0)
      << ReadFile(dir.path() / "err");
  EXPECT_EQ(snapshot(), before) << "the store changed";
  EXPECT_TRUE(FilesBelow(dir.path() / "tmp").empty());
  return ReadFile(dir.path() / "out");
}

}  // namespace kv::testing
