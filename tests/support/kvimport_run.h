#pragma once
// Runs the kvimport program built with the tests, as a user runs it from a shell.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace kv::testing {

struct KvimportRun {
  int exit_code = -1;  // -1 when it did not exit
  std::string out, err;
};

// Runs kvimport with `arguments` (shell words, quoted by the caller), no input, its temporary
// folder dir/tmp (created here), its output in dir/out and its errors in dir/err, expecting the
// run to leave dir/store as it was (bytes and modification times) and nothing in dir/tmp.
// `shell` comes first on the command line (for example "ulimit -f 200; "); `stdout_path`
// replaces dir/out (and is then not read back: /dev/full reads forever). Needs KV_KVIMPORT_PATH
// (the test program defines it).
inline KvimportRun RunKvimport(const TempDir& dir, const std::string& arguments,
                               const std::string& shell = "", std::string stdout_path = "") {
  auto snapshot = [&dir] {
    std::map<std::filesystem::path, std::pair<std::string, std::filesystem::file_time_type>> files;
    for (const std::filesystem::path& file : FilesBelow(dir.path() / "store"))
      files[file] = {ReadFile(file), last_write_time(file)};
    return files;
  };
  const auto before = snapshot();
  const std::filesystem::path tmp = dir.path() / "tmp";
  std::filesystem::create_directories(tmp);
  const bool read_out = stdout_path.empty();
  if (read_out) stdout_path = (dir.path() / "out").string();
  const std::string line = shell + "TMPDIR='" + tmp.string() + "' '" + KV_KVIMPORT_PATH + "' " +
                           arguments + " </dev/null >'" + stdout_path + "' 2>'" +
                           (dir.path() / "err").string() + "'";
  const int status = std::system(line.c_str());
  KvimportRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", ReadFile(dir.path() / "err")};
  if (read_out) run.out = ReadFile(stdout_path);
  EXPECT_EQ(snapshot(), before) << "the store changed: " << arguments;
  EXPECT_TRUE(FilesBelow(tmp).empty()) << "files left behind: " << arguments;
  return run;
}

// One JSON value per line of `text` (the output of list and detect --json).
inline std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// RunKvimport with `arguments` and "--store dir/store" (a store the caller put there),
// expecting exit code 0. The standard output.
inline std::string RunKvimportOnStore(const TempDir& dir, const std::string& arguments) {
  const KvimportRun run =
      RunKvimport(dir, arguments + " --store '" + (dir.path() / "store").string() + "'");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  return run.out;
}

}  // namespace kv::testing
