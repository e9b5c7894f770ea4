#include "eudora/eudora_mailbox.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace kv {
namespace {

constexpr std::size_t kSeparatorLength = kMessageSeparator.size();

std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

BufferedFileWriter::BufferedFileWriter(std::unique_ptr<platform::WritableFile> file)
    : file_(std::move(file)), good_(file_ != nullptr) {
  buffer_.reserve(kBufferSize);
}

BufferedFileWriter::~BufferedFileWriter() { Close(); }

void BufferedFileWriter::Write(std::string_view bytes) {
  if (!good_) return;
  if (buffer_.size() + bytes.size() > kBufferSize) Flush();
  if (bytes.size() >= kBufferSize) {
    good_ = file_->Write(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return;
  }
  buffer_.append(bytes);
}

void BufferedFileWriter::Flush() {
  if (good_ && !buffer_.empty()) {
    good_ = file_->Write(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(buffer_.data()), buffer_.size()));
  }
  buffer_.clear();
}

bool BufferedFileWriter::Close() {
  if (!file_) return false;
  Flush();
  good_ = file_->Close() && good_;
  file_.reset();
  return good_;
}

void StringSink::Write(std::string_view bytes) {
  if (failed_) return;
  try {
    target_.append(bytes);
  } catch (const std::bad_alloc&) {
    failed_ = true;
  } catch (const std::length_error&) {
    failed_ = true;
  }
}

MailboxSplitter::MailboxSplitter(std::unique_ptr<platform::ReadableFile> file)
    : reader_(std::move(file)) {}

std::optional<std::uint64_t> MailboxSplitter::FindSeparator() {
  for (;;) {
    const std::string_view window = AsText(reader_.Peek(kSeparatorLength));
    if (window.empty()) return std::nullopt;
    const std::size_t found = window.find(kMessageSeparator);
    if (found != std::string_view::npos) {
      reader_.Advance(found);
      return reader_.Tell();
    }
    // A separator may begin in the window's last bytes and end in the next window.
    reader_.Advance(window.size() >= kSeparatorLength ? window.size() - (kSeparatorLength - 1)
                                                      : window.size());
  }
}

MailboxSplitter::Stop MailboxSplitter::CopyMessage(TextSink& out) {
  LineEnd end = CopyLine(out, /*stop_at_separator=*/false);
  while (end == LineEnd::kNewline) end = CopyLine(out, /*stop_at_separator=*/true);
  switch (end) {
    case LineEnd::kSeparator:
      return Stop::kSeparator;
    case LineEnd::kReadError:
      return Stop::kReadError;
    default:
      return Stop::kEndOfFile;
  }
}

MailboxSplitter::LineEnd MailboxSplitter::CopyLine(TextSink& out, bool stop_at_separator) {
  bool consumed_any = false;
  bool last_written_cr = false;
  auto write = [&](std::string_view bytes) {
    if (bytes.empty()) return;
    out.Write(bytes);
    last_written_cr = bytes.back() == '\r';
  };
  for (;;) {
    const std::string_view window = AsText(reader_.Peek(kSeparatorLength));
    if (window.empty()) {
      if (reader_.failed()) return LineEnd::kReadError;
      // The last line of the file ends without a line end; it is written with one.
      if (consumed_any) out.Write("\r\n");
      return LineEnd::kEndOfFile;
    }
    const void* newline = std::memchr(window.data(), '\n', window.size());
    const std::size_t line_part =
        newline != nullptr
            ? static_cast<std::size_t>(static_cast<const char*>(newline) - window.data())
            : window.size();
    if (stop_at_separator) {
      const std::size_t found = window.substr(0, line_part).find(kMessageSeparator);
      if (found != std::string_view::npos) {
        write(window.substr(0, found));
        reader_.Advance(found);
        return LineEnd::kSeparator;
      }
    }
    if (newline != nullptr) {
      write(window.substr(0, line_part));
      // CR LF stays CR LF, a lone LF becomes CR LF.
      out.Write(last_written_cr ? "\n" : "\r\n");
      reader_.Advance(line_part + 1);
      return LineEnd::kNewline;
    }
    // No line end in the window: write all of it but the bytes a separator could begin in.
    std::size_t safe = window.size();
    if (stop_at_separator && window.size() >= kSeparatorLength) safe -= kSeparatorLength - 1;
    write(window.substr(0, safe));
    reader_.Advance(safe);
    consumed_any = true;
  }
}

}  // namespace kv
