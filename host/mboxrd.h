#pragma once
// The mboxrd format's quoting: a line that starts with any number of ">" followed by "From " gets
// one more ">", so that a reader can undo it exactly by removing one ">" from such lines.

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::host {

// Quotes one message fed in pieces of any size (a line start may span pieces).
class MboxrdQuoter {
 public:
  // Appends the quoted form of `piece` to `out`.
  void Feed(std::string_view piece, std::string& out);
  // Ends the message: emits what is held back from an unfinished line start, and resets.
  void Finish(std::string& out);

 private:
  void FeedAtLineStart(char c, std::string& out);

  bool at_line_start_ = true;
  // At a line start: the ">" characters and the part of "From " matched so far.
  std::string held_;
  std::size_t quote_marks_ = 0;
};

// The reverse, for one line (without its line end): one ">" removed when the line matches
// ">+From ".
std::string_view UnquoteMboxrdLine(std::string_view line);

// The From_ line that starts a message: "From <sender> <asctime date>" and a line feed.
std::string FromLine(std::string_view sender, std::int64_t unix_seconds);

}  // namespace kv::host
