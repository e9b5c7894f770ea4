#pragma once
// Runs the kvimport program built with the tests, as a user runs it from a shell.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
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

}  // namespace kv::testing
