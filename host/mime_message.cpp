#include "host/mime_message.h"

#include <errno.h>
#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "host/message_text.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kEmbeddedLine = "Embedded Content: ";
constexpr std::uint64_t kReferenceModulus = 2147483629;  // 2^31 - 19
// RFC 5322's limit on a line, without its CR LF; longer lines need an encoding.
constexpr std::size_t kMaxLineLength = 998;
// A text with more non-ASCII bytes than one in this many is sent in base64, else quoted-printable.
constexpr std::size_t kQuotedPrintableRatio = 6;
// How much of a text attachment is read to tell its charset.
constexpr std::size_t kCharsetProbeSize = 1 << 20;
// Folders below the store where Eudora keeps attachments and embedded images.
constexpr std::string_view kAttachFolder = "attach";
constexpr std::string_view kEmbeddedFolder = "embedded";

void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

// Owns one GObject reference.
template <typename T>
class Ref {
 public:
  explicit Ref(T* object = nullptr) : object_(object) {}
  ~Ref() {
    if (object_ != nullptr) g_object_unref(object_);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      if (object_ != nullptr) g_object_unref(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_;
};

// A string GMime allocated.
struct GFreeString {
  explicit GFreeString(char* text) : text_(text) {}
  ~GFreeString() { g_free(text_); }
  GFreeString(const GFreeString&) = delete;
  GFreeString& operator=(const GFreeString&) = delete;
  const char* get() const { return text_ != nullptr ? text_ : ""; }

 private:
  char* text_;
};

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldAscii(x) == FoldAscii(y);
         });
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

bool IsRegularFile(const fs::path& path) {
  std::error_code error;
  return !path.empty() && fs::is_regular_file(path, error);
}

// Closes a descriptor it owns.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The file's bytes, read in as few calls as its size allows; nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const fs::path& path, std::size_t limit = SIZE_MAX) {
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return std::nullopt;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return std::nullopt;
  std::string bytes;
  // Room for the size the file has now and one byte more, so that a file that grew shows.
  const std::size_t expected =
      std::min<std::size_t>(limit, static_cast<std::size_t>(std::max<off_t>(status.st_size, 0)));
  bytes.resize(expected < limit ? expected + 1 : expected);
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (filled >= limit) break;
      bytes.resize(std::min<std::size_t>(limit, filled + 64 * 1024));
    }
    const ssize_t count = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;
    if (count == 0) break;
    filled += static_cast<std::size_t>(count);
  }
  bytes.resize(filled);
  return bytes;
}

std::string_view LastComponent(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string LowerExtension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string extension(name.substr(dot + 1));
  for (char& c : extension) c = FoldAscii(c);
  return extension;
}

// The content type for a file name: common types by extension, else application/octet-stream.
std::pair<const char*, const char*> ContentTypeFor(std::string_view name) {
  struct Known {
    const char* extension;
    const char* type;
    const char* subtype;
  };
  static constexpr Known kKnown[] = {
      {"txt", "text", "plain"},
      {"csv", "text", "csv"},
      {"htm", "text", "html"},
      {"html", "text", "html"},
      {"gif", "image", "gif"},
      {"jpg", "image", "jpeg"},
      {"jpeg", "image", "jpeg"},
      {"png", "image", "png"},
      {"bmp", "image", "bmp"},
      {"tif", "image", "tiff"},
      {"tiff", "image", "tiff"},
      {"pdf", "application", "pdf"},
      {"rtf", "application", "rtf"},
      {"zip", "application", "zip"},
      {"doc", "application", "msword"},
      {"xls", "application", "vnd.ms-excel"},
      {"ppt", "application", "vnd.ms-powerpoint"},
      {"wav", "audio", "wav"},
      {"mp3", "audio", "mpeg"},
  };
  const std::string extension = LowerExtension(name);
  for (const Known& known : kKnown) {
    if (extension == known.extension) return {known.type, known.subtype};
  }
  return {"application", "octet-stream"};
}

// What decides how a text is sent, found in one pass over its bytes as the filter wrote them (CR
// LF or LF line ends). A CR right before an LF belongs to the line end; any other CR is a lone one
// and makes the text need an encoding, as do NUL bytes, bytes beyond ASCII and long lines.
struct TextTraits {
  std::size_t non_ascii = 0;
  std::size_t unix_length = 0;  // the length with each CR LF counted as one LF
  bool lone_lf = false;         // some LF has no CR before it
  bool plain = true;            // sent as it is (7bit)
};

// True when a line, without its line end, is longer than kMaxLineLength. Only the last LF of each
// stretch of kMaxLineLength + 1 bytes is looked for, so a text of short lines costs one search per
// stretch rather than one per line.
bool HasLongLine(std::string_view text) {
  constexpr std::size_t kWindow = kMaxLineLength + 1;
  std::size_t at = 0;  // where a line begins
  while (text.size() - at > kMaxLineLength) {
    const void* last = ::memrchr(text.data() + at, '\n', kWindow);
    if (last != nullptr) {
      at = static_cast<std::size_t>(static_cast<const char*>(last) - text.data()) + 1;
      continue;
    }
    // No LF in the stretch: only a CR LF right after kMaxLineLength bytes keeps the line short.
    if (text.size() - at > kWindow && text[at + kMaxLineLength] == '\r' &&
        text[at + kWindow] == '\n') {
      at += kWindow + 1;
      continue;
    }
    return true;
  }
  return false;
}

TextTraits Traits(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t non_ascii = 0, nul = 0, cr = 0, lf = 0, crlf = 0;
  // Counted in blocks of a fixed size with small counters, a loop the compiler turns into vector
  // code; the block also looks at the byte after it, for a CR LF across its end.
  constexpr std::size_t kBlock = 64;
  std::size_t i = 0;
  for (; i + kBlock < size; i += kBlock) {
    unsigned char block_non_ascii = 0, block_nul = 0, block_cr = 0, block_lf = 0, block_crlf = 0;
    for (std::size_t k = 0; k < kBlock; ++k) {
      const unsigned char byte = bytes[i + k];
      block_non_ascii += byte >> 7;
      block_nul += byte == 0;
      block_cr += byte == '\r';
      block_lf += byte == '\n';
      block_crlf += (byte == '\r') & (bytes[i + k + 1] == '\n');
    }
    non_ascii += block_non_ascii;
    nul += block_nul;
    cr += block_cr;
    lf += block_lf;
    crlf += block_crlf;
  }
  for (; i < size; ++i) {
    non_ascii += bytes[i] >> 7;
    nul += static_cast<std::size_t>(bytes[i] == 0);
    cr += static_cast<std::size_t>(bytes[i] == '\r');
    lf += static_cast<std::size_t>(bytes[i] == '\n');
    crlf += static_cast<std::size_t>(bytes[i] == '\r' && i + 1 < size && bytes[i + 1] == '\n');
  }
  TextTraits traits;
  traits.non_ascii = non_ascii;
  traits.unix_length = size - crlf;
  traits.lone_lf = lf > crlf;
  traits.plain = non_ascii == 0 && nul == 0 && cr == crlf && !HasLongLine(text);
  return traits;
}

GMimeContentEncoding TextEncoding(const TextTraits& traits) {
  if (traits.plain) return GMIME_CONTENT_ENCODING_7BIT;
  return traits.non_ascii * kQuotedPrintableRatio > traits.unix_length
             ? GMIME_CONTENT_ENCODING_BASE64
             : GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
}

std::string Charset(std::string_view bytes, const TextTraits& traits,
                    const std::string& code_page_charset) {
  if (traits.non_ascii == 0) return "us-ascii";
  if (IsValidUtf8(bytes)) return "utf-8";
  return code_page_charset;
}

// A growing byte buffer whose new room is not cleared first (it is written at once).
class ByteBuffer {
 public:
  // Room for `count` more bytes after the used ones.
  char* Extend(std::size_t count) {
    if (capacity_ - size_ < count) {
      const std::size_t capacity = std::max(size_ + count, capacity_ * 2);
      std::unique_ptr<char[]> data = std::make_unique_for_overwrite<char[]>(capacity);
      if (size_ > 0) std::memcpy(data.get(), data_.get(), size_);
      data_ = std::move(data);
      capacity_ = capacity;
    }
    return data_.get() + size_;
  }
  void Commit(std::size_t count) { size_ += count; }
  void Append(std::string_view bytes) {
    if (bytes.empty()) return;
    std::memcpy(Extend(bytes.size()), bytes.data(), bytes.size());
    size_ += bytes.size();
  }
  std::string_view view() const { return std::string_view(data_.get(), size_); }
  void clear() { size_ = 0; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// The buffers a message is made in, kept from message to message (per thread), so that once the
// largest message has been seen, making one costs no fresh memory.
struct MessageBuffers {
  ByteBuffer out;      // the message, written to its file in large pieces
  ByteBuffer scratch;  // a text with LF line ends, or encoded text with LF line ends
};

MessageBuffers& Buffers() {
  thread_local MessageBuffers buffers;
  return buffers;
}

// A message's bytes on their way to its file, with the line ends the target wants.
class MessageOutput {
 public:
  // Writes what has gathered once it is this large.
  static constexpr std::size_t kFlushSize = 256 * 1024;

  // `write` takes each piece; false when it could not be written.
  using Writer = std::function<bool(std::string_view)>;

  MessageOutput(const Writer& write, bool crlf, MessageBuffers& buffers)
      : write_(write), crlf_(crlf), out_(buffers.out), scratch_(buffers.scratch) {
    out_.clear();
  }

  bool crlf() const { return crlf_; }
  ByteBuffer& out() { return out_; }
  ByteBuffer& scratch() { return scratch_; }
  bool failed() const { return failed_; }
  bool EndsWithNewline() const {
    return out_.view().empty() ? ends_with_newline_ : out_.view().back() == '\n';
  }

  void Append(std::string_view bytes) {
    out_.Append(bytes);
    Written();
  }
  void NewLine() { Append(crlf_ ? "\r\n" : "\n"); }
  // Appends `text`, whose lines end in LF, with the message's line ends.
  void AppendLines(std::string_view text) {
    if (!crlf_) return Append(text);
    char* to = out_.Extend(text.size() + text.size() / 8 + 2);
    std::size_t length = 0;
    std::size_t room = text.size() + text.size() / 8 + 2;
    for (std::size_t at = 0; at < text.size();) {
      const void* found = std::memchr(text.data() + at, '\n', text.size() - at);
      const std::size_t end =
          found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                           : text.size();
      if (room - length < end - at + 2) {
        out_.Commit(length);
        room = (text.size() - at) * 2 + 2;
        to = out_.Extend(room);
        length = 0;
      }
      std::memcpy(to + length, text.data() + at, end - at);
      length += end - at;
      if (found != nullptr) {
        to[length++] = '\r';
        to[length++] = '\n';
      }
      at = end + 1;
    }
    out_.Commit(length);
    Written();
  }
  // Writes what has gathered; false when the file cannot be written.
  bool Flush() {
    const std::string_view bytes = out_.view();
    if (!bytes.empty()) {
      ends_with_newline_ = bytes.back() == '\n';
      if (!failed_ && !write_(bytes)) failed_ = true;
    }
    out_.clear();
    return !failed_;
  }

 private:
  void Written() {
    if (out_.view().size() >= kFlushSize) Flush();
  }

  const Writer& write_;
  bool crlf_;
  ByteBuffer& out_;
  ByteBuffer& scratch_;
  bool failed_ = false;
  bool ends_with_newline_ = true;
};

// Appends `text`, whose every CR is one of a CR LF, to `target` without its CRs.
void AppendWithoutCr(std::string_view text, ByteBuffer& target) {
  target.Commit(CrLfToLf(text, target.Extend(text.size())));
}

// Writes a plain text with the message's line ends: the filter's CR LF (every CR of a plain text
// is one) stays or becomes LF, a lone LF stays or becomes CR LF.
void WritePlainText(std::string_view text, const TextTraits& traits, MessageOutput& out) {
  if (out.crlf() ? !traits.lone_lf : traits.unix_length == text.size()) return out.Append(text);
  if (!out.crlf()) {
    AppendWithoutCr(text, out.out());
    return out.Append({});
  }
  out.scratch().clear();
  AppendWithoutCr(text, out.scratch());
  out.AppendLines(out.scratch().view());
}

// Encodes `bytes` (base64 or quoted-printable, GMime's encoders with LF line ends) into the
// message. `bytes` may not lie in the output's scratch buffer when the message has CR LF ends.
void WriteEncodedPiece(GMimeEncoding& state, std::string_view bytes, bool last,
                       MessageOutput& out) {
  ByteBuffer& target = out.crlf() ? out.scratch() : out.out();
  if (out.crlf()) target.clear();
  const std::size_t room = g_mime_encoding_outlen(&state, bytes.size()) + 16;
  char* to = target.Extend(room);
  const std::size_t length = last ? g_mime_encoding_flush(&state, bytes.data(), bytes.size(), to)
                                  : g_mime_encoding_step(&state, bytes.data(), bytes.size(), to);
  target.Commit(length);
  if (out.crlf()) {
    out.AppendLines(target.view());
  } else {
    out.Append({});
  }
}

// A text part's content: the bytes as the filter wrote them, sent as the encoding says.
void WriteText(std::string_view text, const TextTraits& traits, GMimeContentEncoding encoding,
               MessageOutput& out) {
  if (encoding == GMIME_CONTENT_ENCODING_7BIT) return WritePlainText(text, traits, out);
  GMimeEncoding state;
  g_mime_encoding_init_encode(&state, encoding);
  // Base64 carries the bytes as they are; quoted-printable encodes the lines, whose ends it
  // writes itself, so it gets the text with each CR LF made LF (a lone CR stays and is encoded).
  std::string unix_text;
  if (encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE && traits.unix_length != text.size()) {
    unix_text.resize(text.size());
    unix_text.resize(CrLfToLf(text, unix_text.data()));
    text = unix_text;
  }
  constexpr std::size_t kPiece = 57 * 1024;  // whole base64 lines
  do {
    const std::string_view piece = text.substr(0, kPiece);
    text.remove_prefix(piece.size());
    WriteEncodedPiece(state, piece, text.empty(), out);
  } while (!text.empty());
}

// A file's bytes in base64, read in pieces as they are written; false when it cannot be read.
bool WriteFileBase64(int fd, MessageOutput& out) {
  GMimeEncoding state;
  g_mime_encoding_init_encode(&state, GMIME_CONTENT_ENCODING_BASE64);
  constexpr std::size_t kPiece = 57 * 1152;  // whole base64 lines
  std::array<char, kPiece> piece;
  for (;;) {
    const ssize_t count = ::read(fd, piece.data(), piece.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    WriteEncodedPiece(state, std::string_view(piece.data(), static_cast<std::size_t>(count)),
                      count == 0, out);
    if (count == 0) return true;
  }
}

// What the parts hold, kept beside GMime's tree, which only gives their headers: texts (views of
// texts the caller keeps) and open attachment files.
struct PartContent {
  GMimeObject* part = nullptr;
  GMimeContentEncoding encoding = GMIME_CONTENT_ENCODING_DEFAULT;
  std::string_view text;
  TextTraits traits;
  int fd = -1;  // an attachment file, read when it is written
};

class PartContents {
 public:
  PartContents() = default;
  PartContents(const PartContents&) = delete;
  PartContents& operator=(const PartContents&) = delete;
  ~PartContents() {
    for (const PartContent& content : contents_) {
      if (content.fd >= 0) ::close(content.fd);
    }
  }
  void Add(PartContent content) { contents_.push_back(content); }
  const PartContent* Find(GMimeObject* part) const {
    for (const PartContent& content : contents_) {
      if (content.part == part) return &content;
    }
    return nullptr;
  }

 private:
  std::vector<PartContent> contents_;
};

// A text part holding `bytes` as they are, labelled with their charset (`code_page_charset` when
// they are neither ASCII nor UTF-8). `bytes` must outlive the writing of the message.
Ref<GMimePart> TextPart(const char* subtype, std::string_view bytes,
                        const std::string& code_page_charset, PartContents& contents) {
  Ref<GMimePart> part(g_mime_part_new_with_type("text", subtype));
  const TextTraits traits = Traits(bytes);
  g_mime_object_set_content_type_parameter(GMIME_OBJECT(part.get()), "charset",
                                           Charset(bytes, traits, code_page_charset).c_str());
  const GMimeContentEncoding encoding = TextEncoding(traits);
  g_mime_part_set_content_encoding(part.get(), encoding);
  contents.Add({GMIME_OBJECT(part.get()), encoding, bytes, traits, -1});
  return part;
}

// An attachment part named `file_name`, with its type by the name and, for a text type, the
// charset its first bytes (`probe`) show; its content is added apart.
Ref<GMimePart> AttachmentPart(const std::string& file_name, std::string_view probe,
                              const std::string& code_page_charset, bool inline_part) {
  const auto [type, subtype] = ContentTypeFor(file_name);
  Ref<GMimePart> part(g_mime_part_new_with_type(type, subtype));
  if (std::string_view(type) == "text") {
    g_mime_object_set_content_type_parameter(
        GMIME_OBJECT(part.get()), "charset",
        TextCharset(probe.substr(0, kCharsetProbeSize), code_page_charset).c_str());
  }
  g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
  g_mime_part_set_filename(part.get(), file_name.c_str());
  g_mime_object_set_disposition(GMIME_OBJECT(part.get()), inline_part
                                                              ? GMIME_DISPOSITION_INLINE
                                                              : GMIME_DISPOSITION_ATTACHMENT);
  return part;
}

// An attachment read from `path` when the message is written, never held whole in memory.
Ref<GMimePart> FilePart(const fs::path& path, const std::string& file_name,
                        const std::string& code_page_charset, bool inline_part,
                        PartContents& contents) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Ref<GMimePart>();
  const bool text = std::string_view(ContentTypeFor(file_name).first) == "text";
  Ref<GMimePart> part =
      AttachmentPart(file_name, text ? ReadWholeFile(path, kCharsetProbeSize).value_or("") : "",
                     code_page_charset, inline_part);
  contents.Add({GMIME_OBJECT(part.get()), GMIME_CONTENT_ENCODING_BASE64, {}, {}, fd});
  return part;
}

// An attachment whose bytes are held in memory (a file the filter wrote); `bytes` must outlive
// the writing of the message.
Ref<GMimePart> HeldPart(std::string_view bytes, const std::string& file_name,
                        const std::string& code_page_charset, PartContents& contents) {
  Ref<GMimePart> part = AttachmentPart(file_name, bytes, code_page_charset, false);
  contents.Add({GMIME_OBJECT(part.get()), GMIME_CONTENT_ENCODING_BASE64, bytes, {}, -1});
  return part;
}

void WriteHeaders(GMimeObject* object, GMimeFormatOptions* format, MessageOutput& out) {
  GFreeString headers(g_mime_object_get_headers(object, format));
  out.Append(headers.get());
}

// Writes what follows the header block of `object`, laid out as GMime lays it out: a multipart's
// first boundary line right after its header block, every later one after a line end that
// belongs to it, and the closing one on a line of its own.
bool WriteBody(GMimeObject* object, const PartContents& contents, GMimeFormatOptions* format,
               MessageOutput& out) {
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const std::string_view boundary = g_mime_multipart_get_boundary(multipart);
    const int count = g_mime_multipart_get_count(multipart);
    for (int i = 0; i < count; ++i) {
      GMimeObject* child = g_mime_multipart_get_part(multipart, i);
      if (i > 0) out.NewLine();
      out.Append("--");
      out.Append(boundary);
      out.NewLine();
      WriteHeaders(child, format, out);
      out.NewLine();
      if (!WriteBody(child, contents, format, out)) return false;
    }
    out.NewLine();
    out.Append("--");
    out.Append(boundary);
    out.Append("--");
    out.NewLine();
    return true;
  }
  const PartContent* content = contents.Find(object);
  if (content == nullptr) return true;
  if (content->fd >= 0) return WriteFileBase64(content->fd, out);
  WriteText(content->text, content->traits, content->encoding, out);
  return true;
}

// The "cid:" references of an HTML text, as written after "cid:" up to a quote, blank or bracket.
std::vector<std::string> ContentIdReferences(std::string_view html) {
  std::vector<std::string> references;
  for (std::size_t colon = html.find(':', 3); colon != std::string_view::npos;
       colon = html.find(':', colon + 1)) {
    if (!EqualsIgnoringCase(html.substr(colon - 3, 3), "cid")) continue;
    const std::size_t start = colon + 1;
    const std::size_t end = html.find_first_of("\"'<> \t\r\n)", start);
    references.emplace_back(
        html.substr(start, end == std::string_view::npos ? html.size() - start : end - start));
  }
  return references;
}

// The header value as the store held it: when its bytes in the code page are UTF-8, they were
// UTF-8 in the store too.
std::string StoredText(const std::string& value, platform::CodePage* code_page) {
  if (code_page == nullptr || IsAscii(value)) return value;
  const std::string bytes = code_page->FromUtf8(value);
  if (code_page->ToUtf8(bytes) == value && !IsAscii(bytes) && IsValidUtf8(bytes)) return bytes;
  return value;
}

// Appends the header line `name`: `raw_value` to `block`, with CR LF line ends when `crlf`. An
// ASCII value is written as the store held it (only folded where it is long), so that encoded
// words and addresses come back unchanged, and without GMime's header objects, which would parse
// every address; a value with other characters is encoded by GMime (addresses parsed, names and
// text as encoded words).
void AppendHeader(std::string& block, const char* name, const std::string& raw_value,
                  bool addresses, platform::CodePage* code_page, GMimeFormatOptions* format,
                  bool crlf) {
  const std::string value(Trim(StoredText(raw_value, code_page)));
  if (value.empty()) return;
  const bool control = std::any_of(value.begin(), value.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 && c != '\t';
  });
  if (IsAscii(value) && !control) {
    const std::string line = std::string(name) + ": " + value;
    GFreeString folded(addresses
                           ? g_mime_utils_structured_header_fold(nullptr, nullptr, line.c_str())
                           : g_mime_utils_unstructured_header_fold(nullptr, nullptr, line.c_str()));
    std::string_view text = folded.get();
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    for (std::size_t at = 0;;) {
      const std::size_t end = text.find('\n', at);
      block.append(text.substr(at, end - at));
      block.append(crlf ? "\r\n" : "\n");
      if (end == std::string_view::npos) return;
      at = end + 1;
    }
  }
  Ref<GMimeMessage> scratch(g_mime_message_new(FALSE));
  g_mime_object_set_header(GMIME_OBJECT(scratch.get()), name, value.c_str(), "utf-8");
  GFreeString text(g_mime_object_get_headers(GMIME_OBJECT(scratch.get()), format));
  block.append(text.get());
}

// A boundary that depends only on the message, so that importing a store twice writes the same
// bytes: a hash of what the message holds (which its text cannot foresee) and the multipart's
// number. "=-" never occurs in quoted-printable or base64 text.
std::string Boundary(const std::string& digest, std::size_t number) {
  return "=-" + digest.substr(0, 24) + "-" + std::to_string(number);
}

GMimeObject* Multipart(const char* subtype, const std::string& digest,
                       std::vector<Ref<GMimeObject>>& keep) {
  GMimeMultipart* multipart = g_mime_multipart_new_with_subtype(subtype);
  g_mime_multipart_set_boundary(multipart, Boundary(digest, keep.size()).c_str());
  keep.emplace_back(GMIME_OBJECT(multipart));
  return GMIME_OBJECT(multipart);
}

// A 128-bit hash of the texts and file names a message is built from, in hexadecimal.
std::string PartsDigest(const MessageParts& parts, std::string_view body,
                        const std::optional<std::string_view>& html) {
  std::unique_ptr<XXH3_state_t, XXH_errorcode (*)(XXH3_state_t*)> state(XXH3_createState(),
                                                                        XXH3_freeState);
  XXH3_128bits_reset(state.get());
  auto add = [&](std::string_view text) {
    XXH3_128bits_update(state.get(), text.data(), text.size());
    XXH3_128bits_update(state.get(), "", 1);
  };
  for (const std::string* value : {&parts.from, &parts.to, &parts.subject, &parts.date, &parts.cc,
                                   &parts.bcc, &parts.return_path, &parts.sender}) {
    add(*value);
  }
  add(body);
  add(html.value_or(""));
  // Names only: the files the filter wrote lie in a temporary folder named anew on every run.
  for (const std::string& attachment : parts.attachments) add(LastComponent(attachment));
  const XXH128_hash_t hash = XXH3_128bits_digest(state.get());
  char hex[33];
  std::snprintf(hex, sizeof hex, "%016llx%016llx", static_cast<unsigned long long>(hash.high64),
                static_cast<unsigned long long>(hash.low64));
  return hex;
}

bool IsBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

}  // namespace

AttachmentFinder::AttachmentFinder(platform::FileSystem& files, platform::CodePage& code_page,
                                   fs::path store_folder)
    : files_(files), code_page_(code_page), store_folder_(std::move(store_folder)) {}

std::optional<fs::path> AttachmentFinder::Find(std::string_view path) const {
  const std::string trimmed(Trim(path));
  if (trimmed.empty()) return std::nullopt;
  if (trimmed.front() == '/' && IsRegularFile(trimmed)) return fs::path(trimmed);
  const fs::path translated = files_.NativePath(code_page_.FromUtf8(trimmed));
  if (IsRegularFile(translated)) return translated;
  return FindByName(LastComponent(trimmed), kAttachFolder);
}

std::optional<fs::path> AttachmentFinder::FindEmbedded(std::string_view name) const {
  if (std::optional<fs::path> found = FindByName(Trim(name), kEmbeddedFolder)) return found;
  return Find(name);
}

const std::vector<AttachmentFinder::ListedFolder>& AttachmentFinder::Listed(
    std::string_view folder) const {
  if (auto found = listed_.find(folder); found != listed_.end()) return found->second;
  std::vector<ListedFolder>& listed = listed_[std::string(folder)];
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(store_folder_, error)) {
    if (entry.is_directory(error) && EqualsIgnoringCase(entry.path().filename().string(), folder)) {
      ListedFolder& listing = listed.emplace_back(ListedFolder{entry.path(), {}});
      for (const auto& file : fs::directory_iterator(entry.path(), error)) {
        listing.names.push_back(file.path().filename().string());
      }
    }
  }
  return listed;
}

std::optional<fs::path> AttachmentFinder::FindByName(std::string_view name,
                                                     std::string_view folder) const {
  if (name.empty() || store_folder_.empty()) return std::nullopt;
  std::vector<fs::path> candidates;
  for (const ListedFolder& listing : Listed(folder)) {
    candidates.push_back(listing.path / std::string(name));
    for (const std::string& file : listing.names) {
      if (EqualsIgnoringCase(file, name)) candidates.push_back(listing.path / file);
    }
  }
  for (const fs::path& candidate : candidates) {
    if (IsRegularFile(candidate)) return candidate;
  }
  return std::nullopt;
}

std::string MimeCharsetName(std::string_view code_page) {
  std::string name(code_page);
  for (char& c : name) c = FoldAscii(c);
  if (name.size() == 6 && name.starts_with("cp125")) return "windows-" + name.substr(2);
  return name;
}

std::string TextCharset(std::string_view bytes, const std::string& code_page_charset) {
  if (IsAscii(bytes)) return "us-ascii";
  if (IsValidUtf8(bytes)) return "utf-8";
  return code_page_charset;
}

std::vector<EmbeddedContent> EmbeddedContentLines(std::string_view body) {
  std::vector<EmbeddedContent> found;
  // The marker is rare: searching for it costs less than taking every line apart.
  for (std::size_t at = body.find(kEmbeddedLine); at != std::string_view::npos;
       at = body.find(kEmbeddedLine, at + 1)) {
    if (at != 0 && body[at - 1] != '\n') continue;
    std::string_view line = body.substr(at, body.find('\n', at) - at);
    line.remove_prefix(kEmbeddedLine.size());
    const std::size_t colon = line.rfind(": ");
    if (colon == std::string_view::npos) continue;
    EmbeddedContent content{std::string(line.substr(0, colon)), 0};
    const std::string_view numbers = line.substr(colon + 2);
    const std::size_t comma = numbers.find(',');
    if (comma != std::string_view::npos) {
      content.reference = static_cast<std::uint32_t>(
          std::strtoul(std::string(numbers.substr(comma + 1, 8)).c_str(), nullptr, 16));
    }
    found.push_back(std::move(content));
  }
  return found;
}

std::uint32_t ContentIdReference(std::string_view content_id) {
  std::uint64_t value = 0;
  for (char c : content_id) {
    value = (value * 256 + static_cast<unsigned char>(c)) % kReferenceModulus;
  }
  return static_cast<std::uint32_t>(value + 1);
}

MimeBuildResult WriteMimeMessage(const MessageParts& parts, const AttachmentFinder& finder,
                                 const MimeBuildOptions& options, const fs::path& output) {
  const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    MimeBuildResult result;
    result.error = "cannot create " + output.string();
    return result;
  }
  return WriteMimeMessage(parts, finder, options, fd, output);
}

namespace {

// Makes the message and hands its bytes to `write` in pieces; `result.written` when every piece
// was taken and every attachment file read.
MimeBuildResult BuildMessage(const MessageParts& parts, const AttachmentFinder& finder,
                             const MimeBuildOptions& options, const MessageOutput::Writer& write) {
  InitGMime();
  MimeBuildResult result;
  std::vector<Ref<GMimeObject>> keep;  // every part made, released with the message
  PartContents contents;

  // The bytes of a file the filter wrote: held in memory when it is, else read from disk into
  // `storage`.
  auto held = [&](const std::string& path) -> std::optional<std::string_view> {
    if (options.held == nullptr || path.empty()) return std::nullopt;
    if (std::optional<std::string_view> bytes = options.held->HeldBytes(path)) return bytes;
    if (options.code_page == nullptr) return std::nullopt;
    return options.held->HeldBytes(options.code_page->FromUtf8(path));
  };
  auto read_text = [&](const std::string& path,
                       std::optional<std::string>& storage) -> std::optional<std::string_view> {
    if (Trim(path).empty()) return std::nullopt;
    if (std::optional<std::string_view> bytes = held(path)) return bytes;
    std::optional<fs::path> local = finder.Find(path);
    storage = local ? ReadWholeFile(*local) : std::nullopt;
    if (!storage) result.missing.push_back(path);
    return storage;
  };
  std::optional<std::string> body_storage, html_storage;
  const std::string_view body = read_text(parts.body_file, body_storage).value_or("");
  const std::optional<std::string_view> html = read_text(parts.html_file, html_storage);
  // Only a multipart needs it, for its boundaries.
  std::optional<std::string> digest_text;
  auto digest = [&]() -> const std::string& {
    if (!digest_text) digest_text = PartsDigest(parts, body, html);
    return *digest_text;
  };

  std::unique_ptr<GMimeFormatOptions, void (*)(GMimeFormatOptions*)> format(
      g_mime_format_options_new(), g_mime_format_options_free);
  g_mime_format_options_set_newline_format(
      format.get(), options.unix_line_ends ? GMIME_NEWLINE_FORMAT_UNIX : GMIME_NEWLINE_FORMAT_DOS);
  // The message's own header fields, ahead of the block GMime gives from MIME-Version on.
  std::string top_headers;
  auto header = [&](const char* name, const std::string& value, bool addresses) {
    AppendHeader(top_headers, name, value, addresses, options.code_page, format.get(),
                 !options.unix_line_ends);
  };
  header("Return-Path", parts.return_path, true);
  header("Date", parts.date, false);
  header("From", parts.from, true);
  if (parts.sender != parts.from) header("Sender", parts.sender, true);
  header("Subject", parts.subject, false);
  header("To", parts.to, true);
  header("Cc", parts.cc, true);
  header("Bcc", parts.bcc, true);
  Ref<GMimeMessage> message(g_mime_message_new(FALSE));
  GMimeObject* top = GMIME_OBJECT(message.get());
  g_mime_object_set_header(top, "MIME-Version", "1.0", nullptr);

  // Embedded images: related to the HTML when it refers to them, else attachments.
  std::vector<std::pair<std::string, fs::path>> related;  // content id, file
  std::vector<std::pair<std::string, fs::path>> loose;    // name, file
  const std::vector<std::string> references =
      html ? ContentIdReferences(*html) : std::vector<std::string>{};
  for (const EmbeddedContent& content : EmbeddedContentLines(body)) {
    std::optional<fs::path> file = finder.FindEmbedded(content.name);
    if (!file) {
      result.missing.push_back(content.name);
      continue;
    }
    auto reference = std::find_if(references.begin(), references.end(), [&](const std::string& id) {
      return ContentIdReference(id) == content.reference || EqualsIgnoringCase(id, content.name);
    });
    if (reference != references.end()) {
      related.emplace_back(*reference, *file);
    } else {
      loose.emplace_back(content.name, *file);
    }
  }

  // The body, with the HTML as its alternative.
  GMimeObject* text_node = nullptr;
  Ref<GMimePart> plain;
  Ref<GMimePart> html_part;
  if (!html || !IsBlank(body)) {
    plain = TextPart("plain", body, options.code_page_charset, contents);
    text_node = GMIME_OBJECT(plain.get());
  }
  if (html) {
    html_part = TextPart("html", *html, options.code_page_charset, contents);
    GMimeObject* html_node = GMIME_OBJECT(html_part.get());
    if (!related.empty()) {
      html_node = Multipart("related", digest(), keep);
      g_mime_object_set_content_type_parameter(html_node, "type", "text/html");
      g_mime_multipart_add(GMIME_MULTIPART(html_node), GMIME_OBJECT(html_part.get()));
      for (const auto& [content_id, file] : related) {
        Ref<GMimePart> image =
            FilePart(file, file.filename().string(), options.code_page_charset, true, contents);
        if (!image) {
          result.missing.push_back(file.string());
          continue;
        }
        g_mime_part_set_content_id(image.get(), content_id.c_str());
        g_mime_multipart_add(GMIME_MULTIPART(html_node), GMIME_OBJECT(image.get()));
      }
    }
    if (text_node != nullptr) {
      GMimeObject* alternative = Multipart("alternative", digest(), keep);
      g_mime_multipart_add(GMIME_MULTIPART(alternative), text_node);
      g_mime_multipart_add(GMIME_MULTIPART(alternative), html_node);
      text_node = alternative;
    } else {
      text_node = html_node;
    }
  }

  // Attachments: the files the list names, each once, the HTML file left out (it is the
  // alternative) and the rich-text file under a name that says what it is.
  std::vector<Ref<GMimePart>> attached;
  std::set<std::string> seen;
  auto attach = [&](const std::string& path, std::optional<std::string> shown_name) {
    const std::string name =
        shown_name.value_or(std::string(LastComponent(std::string(Trim(path)))));
    Ref<GMimePart> part;
    if (std::optional<std::string_view> bytes = held(path)) {
      part = HeldPart(*bytes, name, options.code_page_charset, contents);
    } else if (std::optional<fs::path> local = finder.Find(path)) {
      part = FilePart(*local, name, options.code_page_charset, false, contents);
    }
    if (!part) {
      result.missing.push_back(path);
      return;
    }
    attached.push_back(std::move(part));
  };
  for (const std::string& path : parts.attachments) {
    if (Trim(path).empty() || !seen.insert(path).second) continue;
    if (path == parts.html_file) continue;
    if (path == parts.rich_file) continue;
    attach(path, std::nullopt);
  }
  if (!Trim(parts.rich_file).empty()) attach(parts.rich_file, "message.txt");
  for (const auto& [name, file] : loose) {
    Ref<GMimePart> image = FilePart(file, name, options.code_page_charset, false, contents);
    if (image) {
      attached.push_back(std::move(image));
    } else {
      result.missing.push_back(name);
    }
  }

  Ref<GMimePart> note;
  std::string note_text;  // outlives the writing
  if (!result.missing.empty()) {
    note_text = "Attachments of this message that could not be found when it was imported:\n";
    for (const std::string& missing : result.missing) note_text += "  " + missing + "\n";
    note = TextPart("plain", note_text, "utf-8", contents);
    g_mime_object_set_disposition(GMIME_OBJECT(note.get()), GMIME_DISPOSITION_INLINE);
  }

  GMimeObject* root = text_node;
  if (!attached.empty() || note) {
    root = Multipart("mixed", digest(), keep);
    g_mime_multipart_add(GMIME_MULTIPART(root), text_node);
    for (const Ref<GMimePart>& part : attached) {
      g_mime_multipart_add(GMIME_MULTIPART(root), GMIME_OBJECT(part.get()));
    }
    if (note) g_mime_multipart_add(GMIME_MULTIPART(root), GMIME_OBJECT(note.get()));
  }
  g_mime_message_set_mime_part(message.get(), root);

  // GMime gives the header blocks; the contents are written here, each text in one pass with the
  // target's line ends, attachments read in pieces as they are written.
  MessageOutput out(write, !options.unix_line_ends, Buffers());
  out.Append(top_headers);
  WriteHeaders(top, format.get(), out);
  out.NewLine();
  const bool read = WriteBody(root, contents, format.get(), out);
  // Every line of a message ends in a line end, its last one too.
  if (!out.EndsWithNewline()) out.NewLine();
  result.written = out.Flush() && read;
  return result;
}

}  // namespace

MimeBuildResult WriteMimeMessage(const MessageParts& parts, const AttachmentFinder& finder,
                                 const MimeBuildOptions& options, int fd, const fs::path& output) {
  Descriptor owned_fd(fd);
  MimeBuildResult result = BuildMessage(parts, finder, options, [&](std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t count = ::write(owned_fd.get(), bytes.data(), bytes.size());
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
  });
  result.written = result.written && ::close(owned_fd.release()) == 0;
  if (!result.written) result.error = "cannot write " + output.string();
  return result;
}

MimeBuildResult WriteMimeMessage(const MessageParts& parts, const AttachmentFinder& finder,
                                 const MimeBuildOptions& options, platform::WritableFile& file,
                                 const std::string& output) {
  MimeBuildResult result = BuildMessage(parts, finder, options, [&](std::string_view bytes) {
    return file.Write(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  });
  result.written = file.Close() && result.written;
  if (!result.written) result.error = "cannot write " + output;
  return result;
}

}  // namespace kv::host
