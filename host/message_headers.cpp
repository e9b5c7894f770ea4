#include "host/message_headers.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "host/folder_names.h"
#include "host/mail_date.h"
#include "platform/text.h"

namespace kv::host {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && platform::IsAsciiSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && platform::IsAsciiSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::string WithoutBlanks(std::string_view text) {
  std::string result;
  for (char c : text) {
    if (!platform::IsAsciiSpace(c)) result.push_back(c);
  }
  return result;
}

std::string WithoutComments(std::string_view text) {
  std::string result;
  int depth = 0;
  for (char c : text) {
    if (c == '(') {
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (depth == 0) {
      result.push_back(c);
    }
  }
  return result;
}

bool IsFieldNameChar(char c) { return c > 32 && c < 127 && c != ':'; }

}  // namespace

MessageHeaders::MessageHeaders(std::string_view text) {
  // Only the header block is kept: the fields are read from it when asked for, which costs less
  // than taking every field apart for the few a host asks for.
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    pos = end + 1;
  }
  block_ = text.substr(0, std::min(pos, text.size()));
}

template <typename Take>
void MessageHeaders::Find(std::string_view name, Take&& take) const {
  const std::string_view text = block_;
  std::string value;
  bool matching = false;  // the last header line names `name`; its continuation lines belong to it
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if (line.front() == ' ' || line.front() == '\t') {
      if (matching) {
        value.push_back(' ');
        value.append(Trim(line));
      }
      continue;
    }
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    // A line that is not a header is passed over; whether it is one only matters when it names
    // `name` or ends the field being gathered.
    const std::string_view field = line.substr(0, colon);
    const bool named = EqualsIgnoringAsciiCase(field, name);
    if (!named && !matching) continue;
    if (!std::all_of(field.begin(), field.end(), IsFieldNameChar)) continue;
    if (matching && !take(std::move(value))) return;
    matching = named;
    if (matching) value = std::string(Trim(line.substr(colon + 1)));
  }
  if (matching) take(std::move(value));
}

MessageHeaders MessageHeaders::FromFile(const std::string& path, std::size_t limit) {
  constexpr std::size_t kPiece = 16 * 1024;
  std::string text;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return MessageHeaders(text);
  std::size_t filled = 0;
  while (filled < limit) {
    std::size_t want = std::min(kPiece, limit - filled);
    text.resize(filled + want);
    ssize_t count = ::read(fd, text.data() + filled, want);
    if (count <= 0) break;
    // Look for the end of the header block in the new bytes (and the two before them).
    std::size_t from = filled >= 2 ? filled - 2 : 0;
    filled += static_cast<std::size_t>(count);
    std::string_view seen(text.data(), filled);
    if (seen.find("\n\n", from) != std::string_view::npos ||
        seen.find("\n\r\n", from) != std::string_view::npos) {
      break;
    }
  }
  ::close(fd);
  text.resize(filled);
  return MessageHeaders(text);
}

std::vector<std::string> MessageHeaders::Values(std::string_view name) const {
  std::vector<std::string> values;
  Find(name, [&values](std::string&& value) {
    values.push_back(std::move(value));
    return true;
  });
  return values;
}

std::optional<std::string> MessageHeaders::First(std::string_view name) const {
  std::optional<std::string> first;
  Find(name, [&first](std::string&& value) {
    first = std::move(value);
    return false;
  });
  return first;
}

std::string ExtractAddress(std::string_view value) {
  std::size_t open = value.find('<');
  if (open != std::string_view::npos) {
    std::size_t close = value.find('>', open);
    if (close != std::string_view::npos) {
      return WithoutBlanks(value.substr(open + 1, close - open - 1));
    }
  }
  std::string plain = WithoutComments(value);
  std::string_view rest = plain;
  while (!rest.empty()) {
    rest = Trim(rest);
    std::size_t end = 0;
    while (end < rest.size() && !platform::IsAsciiSpace(rest[end])) ++end;
    std::string_view word = rest.substr(0, end);
    if (word.find('@') != std::string_view::npos) return std::string(word);
    rest.remove_prefix(end);
  }
  return WithoutBlanks(plain);
}

std::string EnvelopeSender(const MessageHeaders& headers) {
  for (std::string_view name : {"Return-Path", "From"}) {
    if (std::optional<std::string> value = headers.First(name)) {
      std::string address = ExtractAddress(*value);
      if (!address.empty()) return address;
    }
  }
  return "MAILER-DAEMON";
}

std::optional<std::int64_t> MessageTime(const MessageHeaders& headers) {
  if (std::optional<std::string> date = headers.First("Date")) {
    if (std::optional<std::int64_t> time = ParseMailDate(*date)) return time;
  }
  std::optional<std::int64_t> newest;
  for (const std::string& received : headers.Values("Received")) {
    std::size_t semicolon = received.rfind(';');
    if (semicolon == std::string::npos) continue;
    std::optional<std::int64_t> time =
        ParseMailDate(std::string_view(received).substr(semicolon + 1));
    if (time && (!newest || *time > *newest)) newest = time;
  }
  return newest;
}

}  // namespace kv::host
