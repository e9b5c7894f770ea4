#include "host/message_text.h"

#include <cstring>

#include "app/import_filter.h"
#include "host/folder_names.h"

namespace kv::host {
namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

void LineEndConverter::Feed(std::string_view piece, std::string& out) {
  if (!to_lf_) {
    out.append(piece);
    return;
  }
  std::size_t pos = 0;
  if (pending_cr_ && !piece.empty()) {
    pending_cr_ = false;
    if (piece.front() != '\n') out.push_back('\r');
  }
  while (pos < piece.size()) {
    const std::size_t cr = piece.find('\r', pos);
    if (cr == std::string_view::npos) {
      out.append(piece.substr(pos));
      return;
    }
    out.append(piece.substr(pos, cr - pos));
    if (cr + 1 == piece.size()) {
      pending_cr_ = true;
      return;
    }
    if (piece[cr + 1] != '\n') out.push_back('\r');
    pos = cr + 1;
  }
}

std::size_t CrLfToLfInPlace(std::span<char> bytes) {
  char* const data = bytes.data();
  const std::size_t size = bytes.size();
  // Each line moves down by the CRs dropped before it, in one move up to its CR.
  std::size_t in = 0;
  std::size_t out = 0;
  while (in < size) {
    const void* cr = std::memchr(data + in, '\r', size - in);
    const std::size_t end =
        cr == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(cr) - data);
    if (out != in) std::memmove(data + out, data + in, end - in);
    out += end - in;
    in = end;
    if (in == size) break;
    if (in + 1 < size && data[in + 1] == '\n') {
      ++in;  // the CR of a CR LF
    } else {
      data[out++] = data[in++];
    }
  }
  return out;
}

void LineEndConverter::Finish(std::string& out) {
  if (pending_cr_) out.push_back('\r');
  pending_cr_ = false;
}

std::string MboxStateHeaders(std::int32_t state, std::string_view line_end) {
  std::string headers;
  auto line = [&](std::string_view text) {
    headers += text;
    headers += line_end;
  };
  if ((state & kStateReceived) != 0) {
    line((state & kStateUnread) != 0 ? "Status: O" : "Status: RO");
  } else if ((state & kStateNotSent) != 0) {
    line("Status: RO");
    line("X-Status: T");
  } else {
    line("Status: RO");
  }
  return headers;
}

void StateHeaderWriter::EndLine(std::string& out) {
  const bool blank = line_ == "\n" || line_ == "\r\n";
  if (blank) {
    out += MboxStateHeaders(state_, line_ == "\n" ? "\n" : "\r\n");
    out += line_;
    in_body_ = true;
  } else {
    const bool continuation = line_[0] == ' ' || line_[0] == '\t';
    if (!continuation) {
      dropping_ =
          StartsWithIgnoringCase(line_, "Status:") || StartsWithIgnoringCase(line_, "X-Status:");
    }
    if (!dropping_) out += line_;
  }
  line_.clear();
}

void StateHeaderWriter::Feed(std::string_view piece, std::string& out) {
  std::size_t pos = 0;
  while (pos < piece.size() && !in_body_) {
    const std::size_t end = piece.find('\n', pos);
    if (end == std::string_view::npos) {
      line_.append(piece.substr(pos));
      return;
    }
    line_.append(piece.substr(pos, end + 1 - pos));
    pos = end + 1;
    EndLine(out);
  }
  out.append(piece.substr(pos));
}

void StateHeaderWriter::Finish(std::string& out) {
  if (in_body_) return;
  // All header block: the last line gets its line end, then the state headers follow it.
  if (!line_.empty()) {
    line_.push_back('\n');
    EndLine(out);
  }
  out += MboxStateHeaders(state_, "\n");
  in_body_ = true;
}

}  // namespace kv::host
