#pragma once
// The header block of a stored message, as far as the host needs it: the values of named headers
// (unfolded), the envelope sender, and the message's date for file times and From_ lines.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::host {

class MessageHeaders {
 public:
  // Parses the header block at the start of `text`: the lines up to the first empty line (LF or
  // CR LF line ends), continuation lines joined to the header they continue. Lines that are not
  // headers are passed over. A text without an empty line is all header block.
  explicit MessageHeaders(std::string_view text);

  // Reads at most `limit` bytes from the start of the local file `path`; an unreadable file gives
  // no headers.
  static MessageHeaders FromFile(const std::string& path, std::size_t limit = 256 * 1024);

  // Unfolded values of every header named `name` (ignoring case), in file order.
  std::vector<std::string> Values(std::string_view name) const;
  std::optional<std::string> First(std::string_view name) const;

 private:
  // Calls `take` with the unfolded value of each header named `name` in file order, until it
  // returns false.
  template <typename Take>
  void Find(std::string_view name, Take&& take) const;

  std::string block_;  // the header block, up to its empty line
};

// The address in a From or Return-Path value: the text between "<" and ">" when present,
// otherwise the first word holding "@", otherwise the value without comments; blanks removed.
std::string ExtractAddress(std::string_view value);

// The sender for a From_ line: Return-Path's address, else From's, else "MAILER-DAEMON".
std::string EnvelopeSender(const MessageHeaders& headers);

// The message's time: its Date header, else the newest Received date (the text after the last
// ";" of each Received header); nullopt when neither gives a valid date.
std::optional<std::int64_t> MessageTime(const MessageHeaders& headers);

}  // namespace kv::host
