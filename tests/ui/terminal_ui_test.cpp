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

  // Reads the screen until `text` appears after what earlier calls matched; false after
  // `timeout` or when the child has closed the terminal without showing it.
  bool Expect(const std::string& text, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      const std::size_t found = screen_.find(text, mark_);
      if (found != std::string::npos) {
        mark_ = found + text.size();
        return true;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= 0ms || !ReadSome(left)) return false;
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

  const std::string& screen() const { return screen_; }

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
  bool reaped_ = false;
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

  ASSERT_TRUE(child.Expect("=== Location of Messages ===")) << child.screen();
  ASSERT_TRUE(child.Expect("Select message location"));
  ASSERT_TRUE(
      child.Expect("Talvon cannot determine the system location. Please select it manually."));
  ASSERT_TRUE(child.Expect("[]   [b] Browse..."));
  ASSERT_TRUE(child.Expect("[-] Continue (not available)   [q] Cancel"));

  child.Type("c\n");
  ASSERT_TRUE(child.Expect("\"Continue\" is not available now.")) << child.screen();

  child.Type("b\n");
  ASSERT_TRUE(child.Expect("=== Please select location for Outlook Express 4 ==="))
      << child.screen();
  ASSERT_TRUE(child.Expect("Path: "));
  child.Type("Mails\t");
  // The status line follows the completed folder with its full path.
  ASSERT_TRUE(child.Expect("Folder: " + root + "/Mailstore\0338")) << child.screen();
  child.Type("\n");

  ASSERT_TRUE(child.Expect("[" + root + "/Mailstore]   [b] Browse...")) << child.screen();
  ASSERT_TRUE(child.Expect("[c/Enter] Continue   [q] Cancel"));
  child.Type("\n");
  ASSERT_TRUE(child.Expect("RESULT 1 <" + root + "/Mailstore>")) << child.screen();

  ASSERT_TRUE(child.Expect("=== Import messages ===\r\n(?) Browse again?")) << child.screen();
  ASSERT_TRUE(child.Expect("[y/Enter] Yes   [n] No"));
  // Keys go in once the prompt shows that the line editor reads; an earlier Ctrl-D could be lost.
  ASSERT_TRUE(child.Expect("\n> "));
  child.Type("maybe\n");
  ASSERT_TRUE(child.Expect("Please answer with one of the keys shown.\r\n> "));
  child.Type("\x04");  // end of input closes the box like its No button
  ASSERT_TRUE(child.Expect("BOX 7")) << child.screen();
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

  ASSERT_TRUE(child.Expect("=== Importing messages... ===")) << child.screen();
  ASSERT_TRUE(child.Expect("Please select the root folder to start import messages from"));
  ASSERT_TRUE(child.Expect("   1   R\r\n   2     A\r\n   3       x\r\n   4     B\r\n"))
      << child.screen();
  ASSERT_TRUE(child.Expect("[x] Skip Empty Folders (s toggles)"));
  ASSERT_TRUE(child.Expect("[-] OK (not available)   [q] Cancel"));

  child.Type("\n");
  ASSERT_TRUE(child.Expect("\"OK\" is not available now.")) << child.screen();
  child.Type("3\n");
  ASSERT_TRUE(child.Expect("   3 >     x")) << child.screen();
  ASSERT_TRUE(child.Expect("[o/Enter] OK"));
  child.Type("s\n");
  ASSERT_TRUE(child.Expect("[ ] Skip Empty Folders")) << child.screen();
  child.Type("o\n");
  ASSERT_TRUE(child.Expect("RESULT 1 1 0")) << child.screen();
  EXPECT_EQ(child.Finish(), 0);
}

}  // namespace
}  // namespace kv::ui
