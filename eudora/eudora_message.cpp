#include "eudora/eudora_message.h"

#include <algorithm>
#include <memory>

#include "app/kernel_library.h"
#include "platform/text.h"

namespace kv {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kAttachmentLine = "Attachment Converted: ";
constexpr std::string_view kHtmlOpen = "<x-html>";
constexpr std::string_view kHtmlClose = "</x-html>";
constexpr std::string_view kPlainHtmlOpen = "<html>";
constexpr std::string_view kPlainHtmlClose = "</html>";
constexpr std::string_view kRichMarker = "<x-rich>";

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && platform::IsAsciiSpace(text.front())) text.remove_prefix(1);
  return text;
}

std::size_t FindIgnoringCase(std::string_view text, std::string_view lower_needle,
                             std::size_t from = 0) {
  if (lower_needle.empty() || text.size() < lower_needle.size()) return std::string_view::npos;
  const char first = lower_needle.front();
  const char first_upper = first >= 'a' && first <= 'z' ? static_cast<char>(first - 32) : first;
  // The needles begin with "<": candidates are found with a fast search for that character.
  for (std::size_t i = from; i + lower_needle.size() <= text.size(); ++i) {
    if (first == first_upper) {
      i = text.find(first, i);
      if (i == std::string_view::npos || i + lower_needle.size() > text.size()) break;
    } else if (text[i] != first && text[i] != first_upper) {
      continue;
    }
    std::size_t k = 1;
    while (k < lower_needle.size() && platform::ToLowerAscii(text[i + k]) == lower_needle[k]) ++k;
    if (k == lower_needle.size()) return i;
  }
  return std::string_view::npos;
}

// The next attachment marker in `body` from `from` on. Found by its colon, a byte that is rare in
// mail text, with a fast search (the marker begins with a line feed, which a plain search for it
// would stop at on every line); the bytes around each colon are then compared with the marker.
std::size_t FindMarker(std::string_view body, std::size_t from) {
  constexpr std::size_t kColon = kAttachmentMarker.size() - 2;
  static_assert(kAttachmentMarker[kColon] == ':');
  if (from > body.size()) return std::string_view::npos;
  for (std::size_t colon = body.find(':', from + kColon); colon != std::string_view::npos;
       colon = body.find(':', colon + 1)) {
    const std::size_t start = colon - kColon;
    if (body.substr(start, kAttachmentMarker.size()) == kAttachmentMarker) return start;
  }
  return std::string_view::npos;
}

// The name after one "Attachment Converted: " marker: a double-quoted path, or the text up to the
// first blank or line end. nullopt when it has no end: the search for more names stops there.
std::optional<std::string_view> AttachmentName(std::string_view after_marker) {
  std::string_view rest = TrimLeft(after_marker);
  if (!rest.empty() && rest.front() == '"') {
    const std::size_t close = rest.find('"', 1);
    if (close == std::string_view::npos) return std::nullopt;
    return rest.substr(1, close - 1);
  }
  const std::size_t end = rest.find_first_of(" \n\r");
  if (end == std::string_view::npos) return std::nullopt;
  return rest.substr(0, end);
}

// Bytes of the lines after the first marker that are neither attachment lines nor blank.
std::size_t TextAfterAttachments(std::string_view tail) {
  std::size_t dropped = 0;
  while (!tail.empty()) {
    const std::size_t end = tail.find('\n');
    const std::string_view line = tail.substr(0, end);
    if (!line.starts_with(kAttachmentLine) && !TrimLeft(line).empty()) dropped += line.size() + 1;
    if (end == std::string_view::npos) break;
    tail.remove_prefix(end + 1);
  }
  return dropped;
}

// Finds the part between `open` and `close` in `text`; when there is one, returns it (with the
// tags when `keep_tags`) and puts the text around it into `rest`. A missing closing tag is taken
// to follow the text.
std::optional<std::string> CutHtml(std::string_view text, std::string_view open,
                                   std::string_view close, bool keep_tags, std::string& rest) {
  const std::size_t start = FindIgnoringCase(text, open);
  if (start == std::string_view::npos) return std::nullopt;
  const std::size_t end = FindIgnoringCase(text, close, start + open.size());
  std::string html;
  if (end == std::string_view::npos) {
    html.assign(text.substr(keep_tags ? start : start + open.size()));
    if (keep_tags) html.append(close);
  } else {
    html.assign(keep_tags ? text.substr(start, end + close.size() - start)
                          : text.substr(start + open.size(), end - start - open.size()));
  }
  rest.assign(text.substr(0, start));
  if (end != std::string_view::npos) rest.append(text.substr(end + close.size()));
  return html;
}

// The outgoing attachment list: pieces separated by ";", each after the first losing its leading
// white space. An empty piece (";;") is left out: the host reads an empty path as the list's end.
void AddOutgoingAttachments(std::string_view list, std::vector<std::string>& attachments) {
  for (;;) {
    const std::size_t semicolon = list.find(';');
    const std::string_view piece = list.substr(0, semicolon);
    if (!piece.empty()) attachments.emplace_back(piece);
    if (semicolon == std::string_view::npos) return;
    list = TrimLeft(list.substr(semicolon + 1));
  }
}

}  // namespace

void MessageFile::SetContent(std::string_view content) {
  buffer_.assign(kLeadIn);
  buffer_.append(content);
  Parse();
}

void MessageFile::Adopt(std::string&& text) {
  buffer_ = std::move(text);
  if (!std::string_view(buffer_).starts_with(kLeadIn)) buffer_.insert(0, kLeadIn);
  Parse();
}

std::string MessageFile::ReleaseBuffer() {
  headers_.clear();
  body_.reset();
  nul_offset_.reset();
  length_ = content_size_ = fields_past_limit_ = 0;
  return std::move(buffer_);
}

void MessageFile::Parse() {
  headers_.clear();
  body_.reset();
  fields_past_limit_ = 0;
  content_size_ = buffer_.size() - kLeadIn.size();
  const std::size_t nul = buffer_.find('\0');
  nul_offset_.reset();
  if (nul != std::string::npos) nul_offset_ = nul - kLeadIn.size();
  length_ = std::min(nul, buffer_.size());
  const std::string_view text(buffer_.data(), length_);

  // The body needs two characters after the empty line; one character after it is not a body.
  std::size_t header_end = text.size();
  const std::size_t blank = text.find(kHeaderEnd);
  if (blank != std::string_view::npos && blank + 5 < text.size()) {
    body_ = text.substr(blank + kHeaderEnd.size());
    header_end = blank;
  }

  std::size_t value_start = 0;
  for (std::size_t i = text.find('\n'); i < header_end; i = text.find('\n', i + 1)) {
    std::size_t run = i + 1;
    while (run < header_end && IsNameCharacter(text[run])) ++run;
    if (run >= header_end || text[run] != ':') continue;
    if (headers_.size() == kMaxHeaderFields) {
      ++fields_past_limit_;
      continue;
    }
    // The previous field ends before the character ahead of this line feed, its CR.
    if (!headers_.empty()) {
      const std::size_t end = std::max(value_start, i - 1);
      headers_.back().fieldValue = text.substr(value_start, end - value_start);
    }
    value_start = run + 1;
    headers_.push_back({text.substr(i + 1, run - i - 1), std::string_view()});
  }
  if (!headers_.empty()) {
    headers_.back().fieldValue =
        text.substr(value_start, std::max(value_start, header_end) - value_start);
  }
}

std::string UnfoldHeaderValue(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (;;) {
    const std::size_t line_end = text.find("\r\n");
    if (line_end == std::string_view::npos) break;
    result.append(text.substr(0, line_end));
    while (!result.empty() && platform::IsAsciiSpace(result.back())) result.pop_back();
    text = TrimLeft(text.substr(line_end + 2));
    result.push_back(' ');
  }
  result.append(text);
  return result;
}

ConvertedMessage ConvertMessageText(const MessageFile& message, std::string_view folderName) {
  ConvertedMessage converted;
  ConvertMessageText(message, folderName, converted);
  // The result may outlive `message`: it keeps its own copy of the text.
  if (!converted.textIsCopy) {
    converted.textCopy.assign(converted.textView);
    converted.textIsCopy = true;
    converted.textView = {};
  }
  return converted;
}

void ConvertMessageText(const MessageFile& message, std::string_view folderName,
                        ConvertedMessage& converted) {
  for (std::string* value :
       {&converted.from, &converted.to, &converted.subject, &converted.date, &converted.returnPath,
        &converted.cc, &converted.bcc, &converted.sender, &converted.textCopy}) {
    value->clear();
  }
  converted.attachments.clear();
  converted.isReceived = false;
  converted.html.reset();
  converted.textView = {};
  converted.textIsCopy = false;
  converted.rich = false;
  converted.droppedTextBytes = 0;

  if (const std::optional<std::string_view>& body = message.body()) {
    const std::size_t first_marker = FindMarker(*body, 0);
    converted.textView = body->substr(0, first_marker);
    if (first_marker != std::string_view::npos) {
      converted.droppedTextBytes = TextAfterAttachments(body->substr(first_marker + 1));
    }
    for (std::size_t marker = first_marker; marker != std::string_view::npos;
         marker = FindMarker(*body, marker + kAttachmentMarker.size())) {
      std::optional<std::string_view> name =
          AttachmentName(body->substr(marker + kAttachmentMarker.size()));
      if (!name) break;
      if (!name->empty()) converted.attachments.emplace_back(*name);
    }
  }

  struct Named {
    std::string_view name;
    std::string* value;
  };
  std::string outgoing_value;
  const Named fields[] = {
      {"to", &converted.to},
      {"from", &converted.from},
      {"subject", &converted.subject},
      {"date", &converted.date},
      {"return-path", &converted.returnPath},
      {"cc", &converted.cc},
      {"bcc", &converted.bcc},
      {"x-attachments", &outgoing_value},
  };
  for (const HeaderField& field : message.headers()) {
    const std::string name = platform::ToLowerAscii(field.fieldName);
    if (name == "received") {
      converted.isReceived = true;
      continue;
    }
    for (const Named& named : fields) {
      if (name == named.name) {
        named.value->assign(field.fieldValue);
        break;
      }
    }
  }
  if (!message.headers().empty()) {
    for (const Named& named : fields) *named.value = UnfoldHeaderValue(TrimLeft(*named.value));
  }
  if (!converted.isReceived && !outgoing_value.empty()) {
    AddOutgoingAttachments(outgoing_value, converted.attachments);
  }

  const std::string_view text = converted.textView;
  converted.html = CutHtml(text, kHtmlOpen, kHtmlClose, /*keep_tags=*/false, converted.textCopy);
  if (!converted.html) {
    converted.html =
        CutHtml(text, kPlainHtmlOpen, kPlainHtmlClose, /*keep_tags=*/true, converted.textCopy);
  }
  if (converted.html) {
    kvTrimStr(converted.textCopy);
    converted.textIsCopy = true;
    converted.textView = {};
  }
  converted.rich = converted.text().find(kRichMarker) != std::string_view::npos;

  if (folderName == "In" || folderName == "in") converted.isReceived = true;
  if (folderName == "Out" || folderName == "out") converted.isReceived = false;

  if (converted.returnPath.empty() && !converted.from.empty())
    converted.returnPath = converted.from;
  if (converted.from.empty() && !converted.returnPath.empty())
    converted.from = converted.returnPath;
  converted.sender = converted.from;
}

}  // namespace kv
