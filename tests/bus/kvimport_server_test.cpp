// kvimport --server: the same run with the filter in the kvfltrs server gives the same output,
// files, messages and exit status as with the filter in-process.

#include <gtest/gtest.h>

#include <filesystem>

#include "bus/bus_test_support.h"
#include "support/shared_samples.h"
#include "support/temp_dir.h"
#include "support/transcript.h"

namespace kv::bus::testing {
namespace {

namespace fs = std::filesystem;

// Runs kvimport with `args` ("$DIR" in them stands for a folder of the run's own) and `input`,
// in-process and with --server: the server's run must give the same exit status, output and files
// in $DIR. Returns the in-process run as text: its exit status, output, errors and files.
std::string ExpectSameAsInProcess(const std::vector<std::string>& args,
                                  const std::string& input = "") {
  std::string runs[2];
  for (bool server : {false, true}) {
    kv::testing::TempDir dir;
    std::vector<std::string> run = {KV_KVIMPORT_PATH};
    for (std::string arg : args) {
      if (const auto at = arg.find("$DIR"); at != std::string::npos) arg.replace(at, 4, dir.path());
      run.push_back(arg);
    }
    if (server) run.push_back("--server");
    const ProgramResult result = RunProgram(run, input);
    runs[server] = "exit " + std::to_string(result.status) + "\n" +
                   kv::testing::Normalized(result.out + "-- stderr\n" + result.err, dir.path()) +
                   kv::testing::DescribeFiles(dir.path() / "out");
  }
  EXPECT_EQ(runs[1], runs[0]) << ::testing::PrintToString(args) << " input " << input;
  return runs[0];
}

class KvimportServer : public RegisteredServer {};

TEST_F(KvimportServer, ListAndImportGiveTheSameResultsAsInProcessForEverySampleStore) {
  // The bundled samples, and the real stores beside the repository where they are.
  std::vector<std::pair<std::string, std::string>> stores;
  for (std::string filter : {"eudora", "netscape", "oe4", "oe5"}) {
    stores.emplace_back(filter, SampleStore(filter));
  }
  const std::pair<std::string, std::string> real_stores[] = {{"eudora", "eudora/win71"},
                                                             {"oe5", "oe5/kde-oe6"}};
  for (const auto& [filter, folder] : real_stores) {
    if (auto real = kv::testing::SharedSamples(folder)) stores.emplace_back(filter, *real);
  }
  // A copy of the Outlook Express 5 sample with two folder files cut short and one missing: what
  // the filter leaves out reaches the host's output, in order.
  kv::testing::TempDir damaged;
  fs::copy(SampleStore("oe5"), damaged.path(), fs::copy_options::recursive);
  fs::resize_file(damaged.path() / "Inbox.dbx", fs::file_size(damaged.path() / "Inbox.dbx") / 2);
  fs::resize_file(damaged.path() / "Projects.dbx", 0x200);
  fs::remove(damaged.path() / "Drafts.dbx");
  stores.emplace_back("oe5", damaged.path().string());
  for (const auto& [filter, folder] : stores) {
    const bool is_damaged = folder == damaged.path().string();
    const bool has_messages = (filter == "oe4" || filter == "oe5") && !is_damaged;
    // The listing shows every folder, item, state and report; the import every message's bytes.
    // (Other listings and output kinds differ only in the host, whatever serves the filter.)
    const std::string list =
        ExpectSameAsInProcess({"list", "--filter", filter, "--store", folder, "--keep-empty"});
    if (is_damaged) {
      EXPECT_NE(list.find("Inbox.dbx"), std::string::npos) << list;
      EXPECT_NE(list.find("Drafts.dbx"), std::string::npos) << list;
    }
    const std::string import =
        ExpectSameAsInProcess({"import", "--filter", filter, "--store", folder, "--keep-empty",
                               "--quiet", "--to", "eml:$DIR/out"});
    if (has_messages) {
      EXPECT_TRUE(list.starts_with("exit 0\n")) << list;
      EXPECT_NE(list.find("\"message\":{\"size\""), std::string::npos) << "no message";
      EXPECT_TRUE(import.starts_with("exit 0\n")) << import;
      EXPECT_NE(import.find("/000001.eml"), std::string::npos) << import;
    }
  }
}

TEST_F(KvimportServer, AStartFolderAMissingStoreAndDialogsAtTheTerminalBehaveAsInProcess) {
  const std::string oe4 = SampleStore("oe4");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"list", "--filter", "oe4", "--store", oe4, "--start", "Inbox"},
           {"list", "--filter", "oe4", "--store", oe4, "--start", "No/Such/Folder"},
           {"list", "--filter", "oe4", "--store", "/nonexistent/store"},
           {"list", "--filter", "netscape", "--store", oe4}}) {
    ExpectSameAsInProcess(args);
  }
  // Browse to the store and continue; pick the fifth folder, untick "Skip Empty Folders", OK.
  for (const std::string& input : {"b\n" + oe4 + "\nc\n5\ns\no\n", "b\n" + oe4 + "\nc\nq\n",
                                   std::string("q\n"), std::string()}) {
    const std::string local =
        ExpectSameAsInProcess({"list", "--filter", "oe4", "--ui", "tty"}, input);
    EXPECT_NE(local.find("=== Location of Messages ==="), std::string::npos) << local;
  }
}

TEST_F(KvimportServer, WhatTheServerCannotDoIsRefusedAndAnUnregisteredServerReported) {
  // The server reads no old system's registry: rather than a different result, a usage error.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {KV_KVIMPORT_PATH, "list", "--filter", "oe4", "--registry", "/x/NTUSER.DAT", "--server"},
           {KV_KVIMPORT_PATH, "detect", "--disk", "/mnt/old", "--server"}}) {
    ProgramResult remote = RunProgram(args);
    EXPECT_EQ(remote.status, 2) << args[1];
    EXPECT_NE(remote.err.find("--server runs list and import with --store"), std::string::npos)
        << remote.err;
  }
  ASSERT_EQ(RunProgram({KvfltrsPath(), "/Unregister"}).status, 0);
  ProgramResult remote = RunProgram(
      {KV_KVIMPORT_PATH, "list", "--filter", "oe4", "--store", SampleStore("oe4"), "--server"});
  EXPECT_EQ(remote.status, 1);
  EXPECT_NE(remote.err.find("run kvfltrs once to register it"), std::string::npos) << remote.err;
}

}  // namespace
}  // namespace kv::bus::testing
