#pragma once
// The questions the Outlook Express filters ask of each message's header block: does it have a
// Return-Path header (the Outlook Express 5 filter takes the message as received), and does it
// carry the host's status header "x-kvnorvale-statusmsg" with a value beginning with "1". They are
// answered from the message's bytes while they are copied into the temporary file, so the file is
// not opened and read again.
//
// The bytes are taken as the C run-time's text mode reads the file (CR LF is one line end, a
// Ctrl-Z ends the text) and split into lines at LF; a last line without LF counts. The header block
// ends at the first empty line. A line that begins with a blank or a tab is a continuation and is
// passed over. Return-Path: a line longer than the 12 characters of "return-path:" whose first 12,
// in lower case, are those. Status header: a line longer than the 21 characters of the field name
// whose first 21, in lower case, are the name; its value is the text from the 23rd character on
// without leading white space; a later such line overrides an earlier one. This is the status
// header scan the other filters run on the file (eudora/status_header.h), done on the bytes.
//
// Memory is constant: of each line only its first 22 bytes and its length are kept.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kv {

class MessageHeaderScan {
 public:
  // Takes the next bytes of the message. Cheap once the header block has ended.
  void Feed(std::span<const std::uint8_t> bytes);
  // The message ends here.
  void Finish();

  // Whether a Return-Path header was seen: true as soon as it is, false once the header block has
  // ended without it; nullopt when the text ended first (the scan is then not conclusive).
  std::optional<bool> returnPath() const { return returnPath_; }
  bool statusMark() const { return statusMark_; }
  // The header block has ended (or the text, at a Ctrl-Z or Finish): more bytes change nothing.
  bool done() const { return done_; }

 private:
  static constexpr std::size_t kKeptBytes = 22;

  void Append(std::uint8_t byte);
  void EndLine();

  std::array<char, kKeptBytes> head_{};
  std::size_t length_ = 0;
  std::optional<char> valueStart_;  // the first character from the 23rd on that is not white space
  bool pendingCr_ = false;
  bool done_ = false;
  std::optional<bool> returnPath_;
  bool statusMark_ = false;
};

}  // namespace kv
