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

  // Reads the screen until each text appears in turn after what earlier calls matched. A text
  // that does not show within `timeout` (or before the child closes the terminal) fails the test
  // with the screen, and later calls return at once.
  void See(std::initializer_list<std::string> texts, std::chrono::milliseconds timeout = 5s) {
    for (const std::string& text : texts) {
      const auto deadline = Clock::now() + timeout;
      for (std::size_t found;
           !failed_ && (found = screen_.find(text, mark_)) == std::string::npos;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms || !ReadSome(left)) {
          failed_ = true;
          ADD_FAILURE() << "not shown: " << text << "\nscreen:\n" << screen_;
        }
      }
      if (failed_) return;
      mark_ = screen_.find(text, mark_) + text.size();
    }
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // The child's exit status, or -1 when it did not end within `timeout`.
  int Finish(std::chrono::milliseconds timeout = 5s) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      ReadSome(20ms);
    }
    return -1;
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
  ASSERT_TRUE(child.started());
  child.See({"=== Location of Messages ===", "Select message location",
             "Talvon cannot determine the system location. Please select it manually.",
             "[]   [b] Browse...", "[-] Continue (not available)   [q] Cancel"});
  child.Type("c\n");
  child.See({"\"Continue\" is not available now."});
  child.Type("b\n");
  child.See({"=== Please select location for Outlook Express 4 ===", "Path: "});
  child.Type("Mails\t");
  // The status line follows the completed folder with its full path.
  child.See({"Folder: " + root + "/Mailstore\0338"});
  child.Type("\n");
  child.See({"[" + root + "/Mailstore]   [b] Browse...", "[c/Enter] Continue   [q] Cancel"});
  child.Type("\n");
  child.See({"RESULT 1 <" + root + "/Mailstore>", "=== Import messages ===\r\n(?) Browse again?",
             "[y/Enter] Yes   [n] No"});
  // Keys go in once the prompt shows that the line editor reads; an earlier Ctrl-D could be lost.
  child.See({"\n> "});
  child.Type("maybe\n");
  child.See({"Please answer with one of the keys shown.\r\n> "});
  child.Type("\x04");  // end of input closes the box like its No button
  child.See({"BOX 7"});
  EXPECT_EQ(child.Finish(), 0);
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
  ASSERT_TRUE(child.started());
  child.See({"=== Importing messages... ===",
             "Please select the root folder to start import messages from",
             "   1   R\r\n   2     A\r\n   3       x\r\n   4     B\r\n",
             "[x] Skip Empty Folders (s toggles)", "[-] OK (not available)   [q] Cancel"});
  child.Type("\n");
  child.See({"\"OK\" is not available now."});
  child.Type("3\n");
  child.See({"   3 >     x", "[o/Enter] OK"});
  child.Type("s\n");
  child.See({"[ ] Skip Empty Folders"});
  child.Type("o\n");
  child.See({"RESULT 1 1 0"});
  EXPECT_EQ(child.Finish(), 0);
}

}  // namespace
}  // namespace kv::ui
