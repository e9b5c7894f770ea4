// kvimport --server: the same run with the filter in the kvfltrs server gives the same output,
// files, messages and exit status as with the filter in-process.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "bus/bus_test_support.h"
#include "support/shared_samples.h"
#include "support/temp_dir.h"

namespace kv::bus::testing {
namespace {

namespace fs = std::filesystem;

// Every file below `folder` with its bytes, by relative path.
std::map<std::string, std::string> Tree(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const fs::path& file : kv::testing::FilesBelow(folder)) {
    files[fs::relative(file, folder).string()] = kv::testing::ReadFile(file);
  }
  return files;
}

ProgramResult Kvimport(std::vector<std::string> args, bool server, const std::string& input = "") {
  args.insert(args.begin(), KV_KVIMPORT_PATH);
  if (server) args.push_back("--server");
  return RunProgram(args, input);
}

// Runs kvimport with `args` in-process and with --server, each writing to a destination folder of
// its own in place of "DESTINATION"; the server's run must match. Returns the in-process result
// and the number of files it wrote.
std::pair<ProgramResult, std::size_t> ExpectSameAsInProcess(const std::vector<std::string>& args,
                                                            const std::string& input = "") {
  SCOPED_TRACE(::testing::PrintToString(args) + " input " + input);
  kv::testing::TempDir out;
  ProgramResult results[2];
  std::map<std::string, std::string> written[2];
  for (bool server : {false, true}) {
    const std::string destination = (out.path() / (server ? "server" : "local")).string();
    std::vector<std::string> run = args;
    for (std::string& arg : run) {
      if (arg.ends_with(":DESTINATION")) arg.replace(arg.size() - 11, 11, destination);
    }
    results[server] = Kvimport(run, server, input);
    written[server] = Tree(destination);
    // The destination is named in messages; it is the one thing that differs.
    for (std::string* text : {&results[server].out, &results[server].err}) {
      for (std::string::size_type at; (at = text->find(destination)) != std::string::npos;) {
        text->replace(at, destination.size(), "DESTINATION");
      }
    }
  }
  EXPECT_EQ(results[1].status, results[0].status);
  EXPECT_EQ(results[1].out, results[0].out);
  EXPECT_EQ(results[1].err, results[0].err);
  EXPECT_EQ(written[1], written[0]);
  return {results[0], written[0].size()};
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
  stores.emplace_back("damaged", damaged.path().string());
  for (auto [filter, folder] : stores) {
    const bool is_damaged = filter == "damaged";
    if (is_damaged) filter = "oe5";
    const std::vector<std::string> store = {"--filter", filter, "--store", folder};
    auto with = [&](std::vector<std::string> args) {
      args.insert(args.begin() + 1, store.begin(), store.end());
      return args;
    };
    const bool has_messages = (filter == "oe4" || filter == "oe5") && !is_damaged;
    // The listing shows every folder, item, state and report; the import every message's bytes.
    // (Other listings and output kinds differ only in the host, whatever serves the filter.)
    ProgramResult list = ExpectSameAsInProcess(with({"list", "--keep-empty"})).first;
    if (is_damaged) {
      EXPECT_NE(list.err.find("Inbox.dbx"), std::string::npos) << list.err;
      EXPECT_NE(list.err.find("Drafts.dbx"), std::string::npos) << list.err;
    }
    auto [import, files] = ExpectSameAsInProcess(
        with({"import", "--keep-empty", "--quiet", "--to", "eml:DESTINATION"}));
    if (has_messages) {
      EXPECT_EQ(list.status, 0) << list.err;
      EXPECT_NE(list.out.find("\"message\":{\"size\""), std::string::npos) << "no message";
      EXPECT_EQ(import.status, 0) << import.err;
      EXPECT_GT(files, 0u);
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
    ProgramResult local =
        ExpectSameAsInProcess({"list", "--filter", "oe4", "--ui", "tty"}, input).first;
    EXPECT_NE(local.err.find("=== Location of Messages ==="), std::string::npos) << local.err;
  }
}

TEST_F(KvimportServer, WhatTheServerCannotDoIsRefusedAndAnUnregisteredServerReported) {
  // The server reads no old system's registry: rather than a different result, a usage error.
  for (std::vector<std::string> args :
       {std::vector<std::string>{"list", "--filter", "oe4", "--registry", "/tmp/NTUSER.DAT"},
        std::vector<std::string>{"detect", "--disk", "/mnt/old"}}) {
    ProgramResult remote = Kvimport(args, true);
    EXPECT_EQ(remote.status, 2) << args[0];
    EXPECT_NE(remote.err.find("--server runs list and import with --store"), std::string::npos)
        << remote.err;
  }
  ASSERT_EQ(RunProgram({KvfltrsPath(), "/Unregister"}).status, 0);
  ProgramResult remote = Kvimport({"list", "--filter", "oe4", "--store", SampleStore("oe4")}, true);
  EXPECT_EQ(remote.status, 1);
  EXPECT_NE(remote.err.find("run kvfltrs once to register it"), std::string::npos) << remote.err;
}

}  // namespace
}  // namespace kv::bus::testing
