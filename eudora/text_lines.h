#pragma once
// Line-by-line reading of a small text file (a folder map, a settings file) that tells the end of
// the file from a read error, which platform::ReadLine does not.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace kv {

class TextLineReader {
 public:
  enum class Result { kLine, kEnd, kError };

  // `file` must outlive the reader. Opened in text mode, CR LF already reads as LF.
  explicit TextLineReader(platform::ReadableFile& file) : file_(file) {}

  // The next line without its LF (or the rest of the file when no LF follows); bytes past
  // `max_length` are dropped. kEnd when nothing is left, kError when the file cannot be read.
  Result Next(std::string& line, std::size_t max_length);

 private:
  platform::ReadableFile& file_;
  std::uint8_t buffer_[4096];
  std::size_t size_ = 0;
  std::size_t position_ = 0;
  bool ended_ = false;
};

}  // namespace kv
