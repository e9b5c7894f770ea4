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

class PtyChild {
 public:
  // Runs `body` in a child process whose standard streams are a new terminal of 100 columns; its
  // return value is the child's exit status.
  explicit PtyChild(const std::function<int()>& body) {
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 100;
    std::fflush(nullptr);  // else the child writes the test program's unwritten output too
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      setenv("TERM", "xterm", 1);
      setenv("INPUTRC", "/dev/null", 1);
      const int status = body();
      std::fflush(stdout);
      _exit(status);
    }
  }
  ~PtyChild() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  bool started() const { return pid_ > 0; }
  const std::string& screen() const { return screen_; }

  // Reads the screen until `text` appears after what the last call found. A text that does not
  // show within 5 seconds (or before the child closes the terminal) fails the test with the
  // screen, and later calls return at once.
  void See(const std::string& text) {
    const auto deadline = Clock::now() + 5s;
    for (std::size_t found; !failed_ && (found = screen_.find(text, mark_)) == std::string::npos;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= 0ms || !ReadSome(left)) {
        failed_ = true;
        ADD_FAILURE() << "not shown: " << text << "\nscreen:\n" << screen_;
      }
    }
    if (!failed_) mark_ = screen_.find(text, mark_) + text.size();
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Reads the rest of the screen until the child closes the terminal, then its exit status; -1
  // when it did not close it within 5 seconds.
  int Finish() {
    const auto deadline = Clock::now() + 5s;
    while (ReadSome(20ms)) {
      if (Clock::now() > deadline) return -1;
    }
    int status = 0;
    reaped_ = waitpid(pid_, &status, 0) == pid_;
    return reaped_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  bool ReadSome(std::chrono::milliseconds timeout) {
    pollfd fd{master_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return true;
    char buffer[4096];
    const ssize_t got = read(master_, buffer, sizeof buffer);
    if (got <= 0) return false;  // the child closed the terminal
    screen_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int master_ = -1;
  bool reaped_ = false, failed_ = false;
  std::string screen_;
  std::size_t mark_ = 0;
};

// Runs `child` and types each step's keys once the screen shows its text (the line editor's
// prompt, so that no key arrives before it reads); the whole screen, escapes shown as "^[" and
// without carriage returns, with `root` as ROOT.
std::string Session(PtyChild& child, const std::vector<std::pair<std::string, std::string>>& steps,
                    const std::string& root = "") {
  EXPECT_TRUE(child.started());
  for (const auto& [shown, keys] : steps) {
    child.See(shown);
    child.Type(keys);
  }
  EXPECT_EQ(child.Finish(), 0);
  std::string screen;
  for (char c : child.screen()) {
    if (c != '\r') screen += c == '\033' ? std::string("^[") : std::string(1, c);
  }
  for (std::size_t at; !root.empty() && (at = screen.find(root)) != std::string::npos;) {
    screen.replace(at, root.size(), "ROOT");
  }
  return screen;
}

TEST(TerminalUserInterface, LocationDialogThroughBrowseAndContinueThenMessageBoxes) {
  kv::testing::TempDir dir;
  dir.Write("Mailstore/Inbox.mbx", "");
  const std::string root = std::filesystem::canonical(dir.path()).string();

  PtyChild child([&] {
    if (chdir(root.c_str()) != 0) return 90;
    TerminalUserInterface ui(stdin, stdout);
    CLocationDlg dlg(ui, 0);
    dlg.m_strBrowseTitle = "Please select location for Outlook Express 4";
    const int result = dlg.DoModal();
    std::printf("RESULT %d <%s>\n", result, dlg.m_strPath.c_str());
    std::fflush(stdout);
    const int button =
        ui.MessageBox(0, "Browse again?", "Import messages", kMbYesNo | kMbIconQuestion);
    std::printf("BOX %d\n", button);
    return 0;
  });
  // Continue while it is not available; browse, complete the folder's name (the status line
  // follows it with its full path), take it, continue; answer the box wrongly, then end the input,
  // which closes it like its No button.
  const std::string screen = Session(child,
                                     {{"\n> ", "c\n"},
                                      {"\n> ", "b\n"},
                                      {"Path: ", "Mails\t"},
                                      {"/Mailstore\0338", "\n"},
                                      {"\n> ", "\n"},
                                      {"\n> ", "maybe\n"},
                                      {"\n> ", "\x04"},
                                      {"BOX 7", ""}},
                                     root);
  kv::testing::ExpectGolden(screen, "ui/terminal_location.txt");
}

TEST(TerminalUserInterface, FolderDialogRefusesOkBeforeASelection) {
  PtyChild child([] {
    TerminalUserInterface ui(stdin, stdout);
    const std::vector<std::string> paths{"R/A", "R/A/x", "R/B"};
    CFolderSelectDlg dlg(ui, 0, paths);
    dlg.m_strRoot = "R";
    dlg.m_bSkipEmpty = 1;
    const int result = dlg.DoModal();
    std::printf("RESULT %d %d %d\n", result, dlg.m_nSelected, dlg.m_bSkipEmpty);
    return 0;
  });
  // OK before a selection; select "x", untick "Skip Empty Folders", OK.
  const std::string screen = Session(
      child, {{"\n> ", "\n"}, {"\n> ", "3\n"}, {"\n> ", "s\n"}, {"\n> ", "o\n"}, {"RESULT", ""}});
  kv::testing::ExpectGolden(screen, "ui/terminal_folders.txt");
}

}  // namespace
}  // namespace kv::ui
