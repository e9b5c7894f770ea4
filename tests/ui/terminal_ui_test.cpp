// The terminal front end to end: a child process runs a dialog on the slave side of a real
// pseudo-terminal; the test types keys on the master side and reads the screen text. Every wait
// is bounded, and a child that outlives its test is killed.

#include "ui/terminal/terminal_ui.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/folder_select_dlg.h"
#include "common/location_dlg.h"
#include "support/golden.h"
#include "support/temp_dir.h"

namespace kv::ui {
namespace {

using platform::kMbIconQuestion;
using platform::kMbYesNo;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs `body` in a child process whose standard streams are a new terminal of 100 columns, and
// types each step's keys once the screen shows the step's text after the last one found (the line
// editor's prompt, so that no key arrives before it reads). A text that does not show within 5
// seconds fails the test, and so does a child that does not end with status 0 within 5 seconds
// more (it is killed). Returns the whole screen, escapes shown as "^[" and without carriage
// returns, with `root` as ROOT.
std::string Session(const std::function<int()>& body,
                    const std::vector<std::pair<std::string, std::string>>& steps,
                    const std::string& root = "") {
  winsize size{};
  size.ws_row = 40;
  size.ws_col = 100;
  std::fflush(nullptr);  // else the child writes the test program's unwritten output too
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) {
    setenv("TERM", "xterm", 1);
    setenv("INPUTRC", "/dev/null", 1);
    const int status = body();
    std::fflush(stdout);
    _exit(status);
  }
  if (pid < 0) {
    ADD_FAILURE() << "no terminal for the child";
    return "";
  }
  std::string screen;
  bool closed = false;
  // Reads the screen until `done` holds, the child closes the terminal or 5 seconds have passed.
  auto read_until = [&](const std::function<bool()>& done) {
    for (const auto deadline = Clock::now() + 5s; !done() && !closed && Clock::now() < deadline;) {
      pollfd fd{master, POLLIN, 0};
      char buffer[4096];
      if (poll(&fd, 1, 20) <= 0) continue;
      const ssize_t got = read(master, buffer, sizeof buffer);
      closed = got <= 0;
      if (!closed) screen.append(buffer, static_cast<std::size_t>(got));
    }
    return done();
  };
  std::size_t mark = 0;
  for (const auto& [shown, keys] : steps) {
    if (!read_until([&] { return screen.find(shown, mark) != std::string::npos; })) {
      ADD_FAILURE() << "not shown: " << shown << "\nscreen:\n" << screen;
      break;
    }
    mark = screen.find(shown, mark) + shown.size();
    EXPECT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  int status = -1;
  if (!read_until([&] { return closed; })) kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  close(master);
  EXPECT_TRUE(closed && WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
  std::string text;
  for (char c : screen) {
    if (c != '\r') text += c == '\033' ? std::string("^[") : std::string(1, c);
  }
  for (std::size_t at; !root.empty() && (at = text.find(root)) != std::string::npos;) {
    text.replace(at, root.size(), "ROOT");
  }
  return text;
}

TEST(TerminalUserInterface, LocationAndFolderDialogsThenAMessageBox) {
  kv::testing::TempDir dir;
  dir.Write("Mailstore/Inbox.mbx", "");
  const std::string root = std::filesystem::canonical(dir.path()).string();

  const auto body = [&] {
    if (chdir(root.c_str()) != 0) return 90;
    TerminalUserInterface ui(stdin, stdout);
    CLocationDlg location(ui, 0);
    location.m_strBrowseTitle = "Please select location for Outlook Express 4";
    const int result = location.DoModal();
    std::printf("RESULT %d <%s>\n", result, location.m_strPath.c_str());
    const std::vector<std::string> paths{"R/A", "R/A/x", "R/B"};
    CFolderSelectDlg folders(ui, 0, paths);
    folders.m_strRoot = "R";
    folders.m_bSkipEmpty = 1;
    const int chosen = folders.DoModal();
    std::printf("RESULT %d %d %d\n", chosen, folders.m_nSelected, folders.m_bSkipEmpty);
    std::fflush(stdout);
    const int button =
        ui.MessageBox(0, "Browse again?", "Import messages", kMbYesNo | kMbIconQuestion);
    std::printf("BOX %d\n", button);
    return 0;
  };
  // Location: Continue while it is not available; browse, complete the folder's name (the status
  // line follows it with its full path), take it, continue. Folders: OK before a selection; select
  // "x", untick "Skip Empty Folders", OK. The box: answer it wrongly, then end the input, which
  // closes it like its No button.
  const std::string screen = Session(body,
                                     {{"\n> ", "c\n"},
                                      {"\n> ", "b\n"},
                                      {"Path: ", "Mails\t"},
                                      {"/Mailstore\0338", "\n"},
                                      {"\n> ", "\n"},
                                      {"\n> ", "\n"},
                                      {"\n> ", "3\n"},
                                      {"\n> ", "s\n"},
                                      {"\n> ", "o\n"},
                                      {"\n> ", "maybe\n"},
                                      {"\n> ", "\x04"},
                                      {"BOX 7", ""}},
                                     root);
  kv::testing::ExpectGolden(screen, "ui/terminal_dialogs.txt");
}

}  // namespace
}  // namespace kv::ui
