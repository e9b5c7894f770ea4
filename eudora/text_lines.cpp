#include "eudora/text_lines.h"

namespace kv {

TextLineReader::Result TextLineReader::Next(std::string& line, std::size_t max_length) {
  line.clear();
  bool read_any = false;
  for (;;) {
    if (position_ == size_) {
      if (ended_) return read_any ? Result::kLine : Result::kEnd;
      std::optional<std::size_t> count = file_.Read(buffer_);
      if (!count) return Result::kError;
      size_ = *count;
      position_ = 0;
      if (size_ == 0) {
        ended_ = true;
        continue;
      }
    }
    read_any = true;
    const std::uint8_t byte = buffer_[position_++];
    if (byte == '\n') return Result::kLine;
    if (line.size() < max_length) line.push_back(static_cast<char>(byte));
  }
}

}  // namespace kv
