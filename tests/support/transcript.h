#pragma once
// Whole results as text for golden files (support/golden.h): the files below an output folder with
// their times and bytes, and a series of kvimport runs with their exit codes and output.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "host/digest.h"
#include "support/golden.h"
#include "support/kvimport_run.h"
#include "support/python_email.h"
#include "support/temp_dir.h"

namespace kv::testing {

// Every folder (ending in "/") and file below `root`, sorted, relative to it. A file shows its
// modification time when that is not from the last day (a message's date) and then its bytes, or
// past 4 KiB its size and SHA-256. A Maildir file's unique name (time, process, host) is shown
// from its size field on, as "<unique>,S=613:2,S".
inline std::string DescribeFiles(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  std::vector<std::string> entries;
  if (!fs::is_directory(root)) return "(no folder " + root.filename().string() + ")\n";
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    std::string name = fs::relative(entry.path(), root).string();
    if (entry.is_directory()) {
      entries.push_back(name + "/\n");
      continue;
    }
    if (const std::size_t size = name.find(",S="); size != std::string::npos) {
      name = (entry.path().parent_path().lexically_relative(root) / "<unique>").string() +
             name.substr(size);
    }
    struct stat status {};
    if (::stat(entry.path().c_str(), &status) == 0 &&
        std::time(nullptr) - status.st_mtime > 86400) {
      char time[32];
      struct tm utc {};
      std::strftime(time, sizeof time, "  %F %T", gmtime_r(&status.st_mtime, &utc));
      name += time;
    }
    const std::string bytes = ReadFile(entry.path());
    if (bytes.size() > 4096) {
      const auto digest = host::DigestFile(entry.path().string());
      entries.push_back(name + "\n  " + std::to_string(bytes.size()) + " bytes, SHA-256 " +
                        (digest ? digest->sha256_hex : "?") + "\n");
    } else {
      entries.push_back(name + "\n" + Escaped(bytes, "  |"));
    }
  }
  std::sort(entries.begin(), entries.end());
  std::string text;
  for (const std::string& entry : entries) text += entry;
  return text;
}

// kvimport's output with `dir` shown as $DIR, Maildir's unique file names as "<unique>" and the
// closing summary's run time as "* s".
inline std::string Normalized(std::string output, const std::filesystem::path& dir) {
  for (std::size_t at; (at = output.find(dir.string())) != std::string::npos;)
    output.replace(at, dir.string().size(), "$DIR");
  static const std::regex kRunTime(", [0-9]+\\.[0-9] s\n");
  static const std::regex kMaildirName("/[0-9]+\\.M[0-9]+P[0-9]+Q[0-9]+K[0-9a-f]+\\.[^,/]*,S=");
  return std::regex_replace(std::regex_replace(output, kRunTime, ", * s\n"), kMaildirName,
                            "/<unique>,S=");
}

// A message parsed by Python's email package (support/python_email.h) as text for a golden file:
// its decoded headers, then each part's type and, for a leaf, its charset, file name, disposition,
// content ID and bytes (past 4 KiB their size and SHA-256).
inline std::string DescribedMessage(const nlohmann::json& parsed) {
  std::string text;
  for (const auto& [name, value] : parsed["headers"].items())
    text += name + ": " + value.get<std::string>() + "\n";
  for (const nlohmann::json& part : parsed["parts"]) {
    text += "part " + part["type"].get<std::string>();
    for (const char* key : {"charset", "filename", "disposition", "content_id"}) {
      if (part.contains(key) && part[key].is_string()) text += " " + part[key].get<std::string>();
    }
    text += "\n";
    const std::string data = part.contains("data") ? FromHex(part["data"]) : "";
    if (data.size() > 4096) {
      text += "  " + std::to_string(data.size()) + " bytes, SHA-256 " +
              part["sha256"].get<std::string>() + "\n";
    } else {
      text += Escaped(data, "  |");
    }
  }
  return text;
}

// Runs kvimport (RunKvimport) with `arguments` in which "$DIR" stands for the folder
// `dir`, and keeps each command line, exit code, standard output and error (Normalized) in `text`.
// No run may change dir/store (bytes and times) or leave anything in dir/tmp.
class KvimportTranscript {
 public:
  explicit KvimportTranscript(const TempDir& dir) : dir_(dir) {}

  KvimportRun Run(const std::string& arguments, const std::string& shell = "",
                  const std::string& stdout_path = "") {
    KvimportRun run = RunKvimport(dir_, Expand(arguments), shell, stdout_path);
    text +=
        "$ " + shell + "kvimport " + arguments + "\nexit " + std::to_string(run.exit_code) + "\n";
    if (!run.out.empty()) text += "stdout:\n" + Escaped(Normalized(run.out, dir_.path()), "  ");
    if (!run.err.empty()) text += "stderr:\n" + Escaped(Normalized(run.err, dir_.path()), "  ");
    return run;
  }
  // Adds DescribeFiles of `folder` ("$DIR/..."), under a heading.
  void AddFiles(const std::string& folder) {
    text += "files in " + folder + ":\n" + Escaped(DescribeFiles(Expand(folder)), "  ");
  }
  std::string Expand(std::string text) const {
    for (std::size_t at; (at = text.find("$DIR")) != std::string::npos;)
      text.replace(at, 4, dir_.path().string());
    return text;
  }

  std::string text;

 private:
  const TempDir& dir_;
};

}  // namespace kv::testing
