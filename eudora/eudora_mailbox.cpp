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
  switch (CopyLine(out, /*stop_at_separator=*/false)) {
    case LineEnd::kNewline:
      break;
    case LineEnd::kReadError:
      return Stop::kReadError;
    default:
      return Stop::kEndOfFile;
  }
  // The rest runs to the next separator, wherever it lies in a line: found in the window as a
  // whole, and what comes before it copied in spans as large as the window.
  bool after_cr = false;   // the last byte written is a CR
  bool line_open = false;  // the last line written has no line end yet
  for (;;) {
    const std::string_view window = AsText(reader_.Peek(kSeparatorLength));
    if (window.empty()) {
      if (reader_.failed()) return Stop::kReadError;
      // The last line of the file ends without a line end; it is written with one.
      if (line_open) out.Write("\r\n");
      return Stop::kEndOfFile;
    }
    const std::size_t found = window.find(kMessageSeparator);
    // Without a separator, all of the window but the bytes one could begin in.
    std::string_view span = window;
    if (found != std::string_view::npos) {
      span = window.substr(0, found);
    } else if (window.size() >= kSeparatorLength) {
      span = window.substr(0, window.size() - (kSeparatorLength - 1));
    }
    WriteWithCrLf(span, after_cr, out);
    if (!span.empty()) {
      after_cr = span.back() == '\r';
      line_open = span.back() != '\n';
    }
    reader_.Advance(span.size());
    if (found != std::string_view::npos) return Stop::kSeparator;
  }
}

void MailboxSplitter::WriteWithCrLf(std::string_view span, bool after_cr, TextSink& out) {
  // Eudora writes CR LF: a span whose every LF follows a CR is written as it is.
  const auto* bytes = reinterpret_cast<const unsigned char*>(span.data());
  std::size_t lf = 0, crlf = 0;
  constexpr std::size_t kBlock = 64;  // small counters over fixed blocks: vector code
  std::size_t i = 0;
  for (; i + kBlock < span.size(); i += kBlock) {
    unsigned char block_lf = 0, block_crlf = 0;
    for (std::size_t k = 1; k <= kBlock; ++k) {
      block_lf += bytes[i + k] == '\n';
      block_crlf += (bytes[i + k - 1] == '\r') & (bytes[i + k] == '\n');
    }
    lf += block_lf;
    crlf += block_crlf;
  }
  // Byte 0 has no byte before it in the span: it is looked at on its own below.
  for (++i; i < span.size(); ++i) {
    lf += static_cast<std::size_t>(bytes[i] == '\n');
    crlf += static_cast<std::size_t>(bytes[i - 1] == '\r' && bytes[i] == '\n');
  }
  const bool first_lone = !span.empty() && span.front() == '\n' && !after_cr;
  if (lf == crlf && !first_lone) return out.Write(span);
  // A lone LF becomes CR LF.
  for (std::size_t at = 0; at < span.size();) {
    const std::size_t newline = span.find('\n', at);
    if (newline == std::string_view::npos) return out.Write(span.substr(at));
    const bool cr = newline > 0 ? span[newline - 1] == '\r' : after_cr;
    out.Write(span.substr(at, newline - at));
    out.Write(cr ? "\n" : "\r\n");
    at = newline + 1;
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
