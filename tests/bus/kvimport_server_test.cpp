// kvimport --server: the same run with the filter in the kvfltrs server gives the same output,
// messages and exit status as with the filter in-process, for every sample store.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "bus/bus_test_support.h"
#include "support/temp_dir.h"

namespace kv::bus::testing {
namespace {

namespace fs = std::filesystem;

struct Store {
  std::string filter;
  fs::path folder;
};

// The bundled samples, and the real stores beside the repository where they are.
std::vector<Store> Stores() {
  const fs::path source(KV_SOURCE_DIR);
  std::vector<Store> stores;
  for (std::string filter : {"eudora", "netscape", "oe4", "oe5"}) {
    stores.push_back({filter, source / "samples" / filter});
  }
  const fs::path shared = source / ".." / "shared" / "samples";
  for (const Store& real :
       {Store{"eudora", shared / "eudora" / "win71"}, Store{"oe5", shared / "oe5" / "kde-oe6"}}) {
    if (fs::is_directory(real.folder)) stores.push_back(real);
  }
  return stores;
}

// Every file below `folder` with its bytes, by relative path.
std::map<std::string, std::string> Tree(const fs::path& folder) {
  std::map<std::string, std::string> files;
  if (!fs::is_directory(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[fs::relative(entry.path(), folder).string()] =
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

ProgramResult Kvimport(std::vector<std::string> args, bool server, const std::string& input = "") {
  args.insert(args.begin(), KV_KVIMPORT_PATH);
  if (server) args.push_back("--server");
  return RunProgram(args, {}, input);
}

class KvimportServer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RunProgram({KvfltrsPath()}).status, 0); }
};

TEST_F(KvimportServer, ListGivesTheSameOutputAsInProcessForEverySampleStore) {
  for (const Store& store : Stores()) {
    for (bool keep_empty : {true, false}) {
      std::vector<std::string> args = {"list", "--filter", store.filter, "--store",
                                       store.folder.string()};
      if (keep_empty) args.push_back("--keep-empty");
      ProgramResult local = Kvimport(args, false);
      ProgramResult remote = Kvimport(args, true);
      SCOPED_TRACE(store.folder.string() + (keep_empty ? " --keep-empty" : ""));
      if (store.filter == "oe4" || store.filter == "oe5") {
        EXPECT_EQ(local.status, 0) << local.err;
        EXPECT_NE(local.out.find("\"message\":{\"size\""), std::string::npos) << "no message";
      }
      EXPECT_EQ(remote.status, local.status);
      EXPECT_EQ(remote.out, local.out);
      EXPECT_EQ(remote.err, local.err);
    }
  }
}

TEST_F(KvimportServer, ImportWritesTheSameFilesAsInProcessForEverySampleStore) {
  kv::testing::TempDir out;
  for (const Store& store : Stores()) {
    for (std::string kind : {"eml", "mbox"}) {
      SCOPED_TRACE(store.folder.string() + " " + kind);
      std::map<std::string, std::string> written[2];
      ProgramResult results[2];
      for (bool server : {false, true}) {
        fs::path destination = out.path() / (store.filter + kind + (server ? "-server" : ""));
        fs::remove_all(destination);
        results[server] =
            Kvimport({"import", "--filter", store.filter, "--store", store.folder.string(),
                      "--keep-empty", "--quiet", "--to", kind + ":" + destination.string()},
                     server);
        written[server] = Tree(destination);
        // The destination is named in messages; it is the one thing that differs.
        for (std::string* text : {&results[server].out, &results[server].err}) {
          for (std::string::size_type at;
               (at = text->find(destination.string())) != std::string::npos;) {
            text->replace(at, destination.string().size(), "DESTINATION");
          }
        }
      }
      if (store.filter == "oe4" || store.filter == "oe5") {
        EXPECT_EQ(results[0].status, 0) << results[0].err;
        EXPECT_FALSE(written[0].empty());
      }
      EXPECT_EQ(results[1].status, results[0].status);
      EXPECT_EQ(results[1].out, results[0].out);
      EXPECT_EQ(results[1].err, results[0].err);
      EXPECT_EQ(written[1], written[0]);
    }
  }
}

TEST_F(KvimportServer, AStartFolderAndACancelledDialogBehaveAsInProcess) {
  const std::string oe4 = (fs::path(KV_SOURCE_DIR) / "samples" / "oe4").string();
  const std::vector<std::vector<std::string>> runs = {
      {"list", "--filter", "oe4", "--store", oe4, "--start", "Inbox"},
      {"list", "--filter", "oe4", "--store", oe4, "--start", "No/Such/Folder"},
      {"list", "--filter", "oe4", "--store", "/nonexistent/store"},
      {"list", "--filter", "netscape", "--store", oe4},
  };
  for (const std::vector<std::string>& args : runs) {
    ProgramResult local = Kvimport(args, false);
    ProgramResult remote = Kvimport(args, true);
    SCOPED_TRACE(args[2] + " " + args[4] + (args.size() > 5 ? " " + args[6] : ""));
    EXPECT_EQ(remote.status, local.status);
    EXPECT_EQ(remote.out, local.out);
    EXPECT_EQ(remote.err, local.err);
  }
}

TEST_F(KvimportServer, ThePersonAtTheTerminalSeesAndAnswersTheSameDialogs) {
  const std::string oe4 = (fs::path(KV_SOURCE_DIR) / "samples" / "oe4").string();
  // Browse to the store and continue; pick the fifth folder, untick "Skip Empty Folders", OK.
  const std::vector<std::string> sessions = {"b\n" + oe4 + "\nc\n5\ns\no\n",
                                             "b\n" + oe4 + "\nc\nq\n", "q\n", ""};
  for (const std::string& input : sessions) {
    SCOPED_TRACE(input);
    ProgramResult local = Kvimport({"list", "--filter", "oe4", "--ui", "tty"}, false, input);
    ProgramResult remote = Kvimport({"list", "--filter", "oe4", "--ui", "tty"}, true, input);
    EXPECT_NE(local.err.find("=== Location of Messages ==="), std::string::npos) << local.err;
    EXPECT_EQ(remote.status, local.status);
    EXPECT_EQ(remote.out, local.out);
    EXPECT_EQ(remote.err, local.err);
  }
}

TEST_F(KvimportServer, WhatTheServerCannotDoIsRefusedBeforeItStarts) {
  // The server reads no old system's registry: rather than a different result, a usage error.
  for (std::vector<std::string> args :
       {std::vector<std::string>{"list", "--filter", "oe4", "--registry", "/tmp/NTUSER.DAT"},
        std::vector<std::string>{"detect", "--disk", "/mnt/old"}}) {
    ProgramResult remote = Kvimport(args, true);
    EXPECT_EQ(remote.status, 2) << args[0];
    EXPECT_NE(remote.err.find("--server runs list and import with --store"), std::string::npos)
        << remote.err;
  }
}

TEST_F(KvimportServer, AnUnregisteredServerIsReported) {
  ASSERT_EQ(RunProgram({KvfltrsPath(), "/Unregister"}).status, 0);
  const std::string oe4 = (fs::path(KV_SOURCE_DIR) / "samples" / "oe4").string();
  ProgramResult remote = Kvimport({"list", "--filter", "oe4", "--store", oe4}, true);
  EXPECT_EQ(remote.status, 1);
  EXPECT_NE(remote.err.find("run kvfltrs once to register it"), std::string::npos) << remote.err;
}

}  // namespace
}  // namespace kv::bus::testing
