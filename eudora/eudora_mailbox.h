#pragma once
// Splitting a Eudora mailbox (".mbx") into messages. A mailbox is text: messages one after the
// other, each beginning at a line that contains the separator "From ???@???" anywhere in it, and
// running up to the next separator. Text before the first separator belongs to no message.
//
// The file is read in binary through a 64 KiB window and taken apart into lines as the C
// run-time's text mode would (a line ends at LF; a CR right before it belongs to the line end), so
// a mailbox with CR LF line ends (as Eudora writes them and as a copy keeps them) and one with LF
// ends split alike. Each message is written out with CR LF line ends to a sink (a file, streamed,
// or a string when the message is to be taken apart at once). Unlike text mode, a
// Ctrl-Z byte does not end the file, so nothing after one is lost.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/chunked_reader.h"
#include "platform/file_system.h"

namespace kv {

inline constexpr std::string_view kMessageSeparator = "From ???@???";

// Where a message's bytes go as the mailbox is split.
class TextSink {
 public:
  virtual ~TextSink() = default;
  virtual void Write(std::string_view bytes) = 0;
};

// Buffers writes to a file so that a message's many short lines cost few system calls.
class BufferedFileWriter final : public TextSink {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  explicit BufferedFileWriter(std::unique_ptr<platform::WritableFile> file);
  ~BufferedFileWriter();
  BufferedFileWriter(const BufferedFileWriter&) = delete;
  BufferedFileWriter& operator=(const BufferedFileWriter&) = delete;

  void Write(std::string_view bytes) override;
  // Flushes and closes; false when anything could not be written.
  bool Close();
  bool good() const { return good_; }

 private:
  void Flush();

  std::unique_ptr<platform::WritableFile> file_;
  std::string buffer_;
  bool good_ = true;
};

// Appends to a string the caller owns; failed() when memory ran out (the string then holds what
// fitted).
class StringSink final : public TextSink {
 public:
  explicit StringSink(std::string& target) : target_(target) {}
  void Write(std::string_view bytes) override;
  bool failed() const { return failed_; }

 private:
  std::string& target_;
  bool failed_ = false;
};

class MailboxSplitter {
 public:
  // Takes ownership of `file` (opened in binary mode); reading starts at offset 0.
  explicit MailboxSplitter(std::unique_ptr<platform::ReadableFile> file);

  // Moves to the start of the next separator, passing over everything before it. Its offset, or
  // nullopt when the file ends first or cannot be read (failed() tells which).
  std::optional<std::uint64_t> FindSeparator();

  enum class Stop {
    kSeparator,  // another separator follows: the position is at it
    kEndOfFile,  // the mailbox is finished
    kReadError,  // the mailbox could not be read further
  };
  // Copies the message at the position (which FindSeparator left at a separator) to `out`: the
  // separator's line from the separator on, CR LF, then each following line with CR LF, until a
  // line holding the separator, of which the text before the separator is written without a line
  // end. A last line without a line end gets one.
  Stop CopyMessage(TextSink& out);

  std::uint64_t position() const { return reader_.Tell(); }
  bool failed() const { return reader_.failed(); }

 private:
  enum class LineEnd { kNewline, kSeparator, kEndOfFile, kReadError };
  // Copies the rest of the current line; with `stop_at_separator`, stops at a separator in it.
  LineEnd CopyLine(TextSink& out, bool stop_at_separator);
  // Writes `span` with each lone LF made CR LF; `after_cr`: the byte before it was a CR.
  static void WriteWithCrLf(std::string_view span, bool after_cr, TextSink& out);

  ChunkedReader reader_;
};

}  // namespace kv
