#include "host/mboxrd.h"

#include <cstdint>

#include "host/mail_date.h"

namespace kv::host {
namespace {
constexpr std::string_view kFrom = "From ";
}  // namespace

void MboxrdQuoter::FeedAtLineStart(char c, std::string& out) {
  std::size_t matched = held_.size() - quote_marks_;
  if (c == '>' && matched == 0) {
    held_.push_back(c);
    ++quote_marks_;
    return;
  }
  if (c == kFrom[matched]) {
    held_.push_back(c);
    if (matched + 1 == kFrom.size()) {
      out.push_back('>');
      out += held_;
      held_.clear();
      quote_marks_ = 0;
      at_line_start_ = false;
    }
    return;
  }
  out += held_;
  held_.clear();
  quote_marks_ = 0;
  out.push_back(c);
  at_line_start_ = c == '\n';
}

void MboxrdQuoter::Feed(std::string_view piece, std::string& out) {
  std::size_t pos = 0;
  while (pos < piece.size()) {
    if (at_line_start_) {
      FeedAtLineStart(piece[pos++], out);
      continue;
    }
    std::size_t end = piece.find('\n', pos);
    if (end == std::string_view::npos) {
      out.append(piece.substr(pos));
      return;
    }
    out.append(piece.substr(pos, end + 1 - pos));
    pos = end + 1;
    at_line_start_ = true;
  }
}

void MboxrdQuoter::Finish(std::string& out) {
  out += held_;
  held_.clear();
  quote_marks_ = 0;
  at_line_start_ = true;
}

std::string_view UnquoteMboxrdLine(std::string_view line) {
  std::size_t marks = 0;
  while (marks < line.size() && line[marks] == '>') ++marks;
  if (marks > 0 && line.substr(marks).starts_with(kFrom)) line.remove_prefix(1);
  return line;
}

std::string FromLine(std::string_view sender, std::int64_t unix_seconds) {
  std::string line = "From ";
  line += sender;
  line.push_back(' ');
  line += AsctimeUtc(unix_seconds);
  line.push_back('\n');
  return line;
}

}  // namespace kv::host
