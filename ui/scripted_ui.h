#pragma once
// A user interface whose answers are given in advance: for tests and for the host tool when no
// person is at the terminal. It drives each dialog as a user would (browse, select, check, press
// a button) through the same controller events a real front sends. A dialog the script has no
// answer for is cancelled, with a line on the error stream saying which and why; it never waits.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/user_interface.h"
#include "ui/recording_view.h"

namespace kv::ui {

class ScriptedUserInterface final : public platform::UserInterface {
 public:
  // The folder dialog's answer: the item whose display path (the tree labels below the root item,
  // joined by "/") is `path` (else the first one equal to it without regard to ASCII case and
  // trailing "/"), or the root item when `path` is nullopt; the check box set to
  // `skip_empty`; then OK.
  struct FolderAnswer {
    std::optional<std::string> path;
    bool skip_empty = true;
  };

  // Next location dialog: browse to `folder` (when it differs from the proposal) and Continue; or
  // Cancel when nullopt.
  void AnswerLocation(std::optional<std::string> folder);
  // Next location dialog: Continue with the folder it proposes, as a person who agrees would; the
  // dialog is cancelled (and that noted like a missing answer) when it proposes none.
  void AcceptProposedLocation();
  // Next folder dialog: the answer, or Cancel when nullopt.
  void AnswerFolderDialog(std::optional<FolderAnswer> answer);
  // Next message box: this button.
  void AnswerMessageBox(int button);
  // Next direct folder browser call: this folder, or Cancel when nullopt.
  void AnswerBrowse(std::optional<std::string> folder);

  // What was shown and done, one line per event, so that a test can check that a message box
  // appeared: "message: <caption>: <text>", "dialog <template ID>: <caption>",
  // "shown <control ID>: <text>", "browse: <title>", "press <button text>", "select <path>",
  // "check <text>: on|off", "end <result>", "cancelled: <why>".
  const std::vector<std::string>& transcript() const { return transcript_; }
  int wait_cursor_count() const { return wait_cursor_count_; }
  // Dialogs, message boxes and folder browsers shown so far: none means the filter never asked
  // the user anything (a filter without a store reader finds nothing without asking).
  int questions_asked() const { return questions_asked_; }
  // The folder dialog's folders (display paths below the root item, as the tree shows them) when
  // it was last shown; empty before.
  const std::vector<std::string>& folder_paths() const { return folder_paths_; }
  // The root item's label of the folder dialog when it was last shown.
  const std::string& folder_root() const { return folder_root_; }
  // The folder answer that matched no folder of the tree, when one did not.
  const std::optional<std::string>& unknown_folder() const { return unknown_folder_; }
  // When false, cancellations for want of an answer are not reported on stderr.
  void set_report_unanswered(bool report) { report_unanswered_ = report; }

  int MessageBox(platform::WindowHandle owner, const std::string& text, const std::string& caption,
                 unsigned style) override;
  std::optional<std::string> BrowseForFolder(platform::WindowHandle owner,
                                             const std::string& title) override;
  int RunModal(platform::WindowHandle owner, platform::Dialog& dialog) override;
  void ShowWaitCursor() override { ++wait_cursor_count_; }

 private:
  void RunLocationDialog(platform::Dialog& dialog, RecordingDialogView& view);
  void RunFolderDialog(platform::Dialog& dialog, RecordingDialogView& view);
  // Presses `control_id` as a user would: refused (and the dialog cancelled) when it is disabled.
  void Press(platform::Dialog& dialog, RecordingDialogView& view, int control_id);
  void Cancel(platform::Dialog& dialog, RecordingDialogView& view, const std::string& why,
              bool unanswered);
  void Note(const std::string& why, bool unanswered);

  std::optional<std::string> pending_browse_;  // the location dialog's folder, for its Browse
  struct LocationAnswer {
    bool as_proposed = false;
    std::optional<std::string> folder;  // when not as proposed: nullopt is Cancel
  };
  std::deque<LocationAnswer> locations_;
  std::deque<std::optional<FolderAnswer>> folder_answers_;
  std::deque<int> message_box_answers_;
  std::deque<std::optional<std::string>> browse_answers_;
  std::vector<std::string> transcript_;
  std::vector<std::string> folder_paths_;
  std::string folder_root_;
  std::optional<std::string> unknown_folder_;
  int wait_cursor_count_ = 0;
  int questions_asked_ = 0;
  bool report_unanswered_ = true;
};

}  // namespace kv::ui
