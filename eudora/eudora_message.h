#pragma once
// Taking one Eudora message apart. Eudora stores a received message as its header block and a
// body from which it has already cut the attachments (noted as "Attachment Converted: PATH" lines)
// and in which it marks an HTML body with "<x-html>" ... "</x-html>"; an outgoing message lists
// its attachments in an "X-Attachments" header field. The conversion gives the host the main
// header values, the plain text, the HTML part, an unrecognised rich-text body, and the attachment
// paths.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace kv {

inline constexpr std::size_t kMaxHeaderFields = 1000;
inline constexpr std::string_view kAttachmentMarker = "\nAttachment Converted: ";

// One recognised header field: views into the MessageFile's text.
struct HeaderField {
  std::string_view fieldName;   // the name, without the colon
  std::string_view fieldValue;  // from after the colon to the end of the field's last line
};

// One extracted message held in memory, with its header fields found.
//
// The text is the file's bytes after a blank and a line feed (so that the first line, like every
// other, follows a line feed), up to the first NUL byte. The body is what follows the first empty
// line (CR LF CR LF). A header field is a line that starts with a run of letters, "-" and "_" (it
// may be empty) directly followed by ":"; its value runs to the end of the line before the next
// field, so folded lines and lines that are no field stay inside it with their CR LF. At most
// kMaxHeaderFields fields are recognised; the last one's value runs to the end of the header block.
class MessageFile {
 public:
  // What the text begins with before the file's bytes.
  static constexpr std::string_view kLeadIn = " \n";

  // Parses `content` as if read from a file.
  void SetContent(std::string_view content);
  // Takes over and parses `text`: kLeadIn followed by the bytes a file would hold (the lead-in is
  // added when it is missing). Saves copying a large message.
  void Adopt(std::string&& text);
  // Gives the text's memory back for the next message, leaving the message empty (the views it
  // handed out end with it).
  std::string ReleaseBuffer();

  const std::vector<HeaderField>& headers() const { return headers_; }
  // The text after the first empty line; nullopt when the message has none.
  const std::optional<std::string_view>& body() const { return body_; }
  // Where the first NUL byte of the file lies when it holds one: the text ends there.
  std::optional<std::size_t> nulOffset() const { return nul_offset_; }
  std::size_t contentSize() const { return content_size_; }
  // Fields after the kMaxHeaderFields-th that were not recognised.
  std::size_t fieldsPastLimit() const { return fields_past_limit_; }

 private:
  void Parse();

  std::string buffer_;  // " \n", then the file's bytes
  std::size_t length_ = 0;
  std::size_t content_size_ = 0;
  std::optional<std::size_t> nul_offset_;
  std::vector<HeaderField> headers_;
  std::optional<std::string_view> body_;
  std::size_t fields_past_limit_ = 0;
};

// A header value as one line: at each CR LF, trailing white space before it and leading white
// space after it are dropped and the two sides joined by one blank; the text after the last CR LF
// is kept as it is ("a" CR LF "  b" gives "a b"; a value ending in CR LF ends in a blank).
std::string UnfoldHeaderValue(std::string_view text);

// What a message gives the host, before any file is written.
struct ConvertedMessage {
  std::string from, to, subject, date, returnPath, cc, bcc, sender;
  // The "Attachment Converted:" names in text order, then the "X-Attachments" pieces.
  std::vector<std::string> attachments;
  bool isReceived = false;
  // The message text: the body up to the first attachment line, the HTML part cut out. Copied
  // only when an HTML part is cut out of it; otherwise a view into the MessageFile's text, valid
  // as long as that message's text and this object (not a moved-from copy) live.
  std::string_view text() const { return textIsCopy ? std::string_view(textCopy) : textView; }
  std::string_view textView;
  std::string textCopy;
  bool textIsCopy = false;
  // The HTML part: between "<x-html>" and "</x-html>", or "<html>" ... "</html>" with both tags.
  std::optional<std::string> html;
  // The text holds "<x-rich>": it is to be saved as a file of its own.
  bool rich = false;
  // Bytes of body text after the first attachment line that are no attachment line; they are not
  // part of `text`.
  std::size_t droppedTextBytes = 0;
};

// Converts `message`, found in the folder whose last display path component is `folderName`
// ("In" or "in" makes the message a received one, "Out" or "out" a sent one, whatever its headers
// say). The result holds its own copy of the text and may outlive `message`.
ConvertedMessage ConvertMessageText(const MessageFile& message, std::string_view folderName);
// The same into `converted`, whose strings keep their memory from message to message; its text
// may be a view into `message` (see ConvertedMessage::text).
void ConvertMessageText(const MessageFile& message, std::string_view folderName,
                        ConvertedMessage& converted);

}  // namespace kv
