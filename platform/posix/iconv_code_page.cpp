#include "platform/posix/iconv_code_page.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>

namespace kv::platform {
namespace {

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kMissingCharacter = '?';

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<std::uint8_t>(c) < 0x80; });
}

// The length of the well-formed UTF-8 character at `i`, or 1 when the bytes there are not one,
// so that one "?" stands for one character or one stray byte.
std::size_t Utf8CharacterLength(const std::string& text, std::size_t i) {
  auto lead = static_cast<std::uint8_t>(text[i]);
  std::size_t length = lead < 0xC2 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 1;
  if (length > text.size() - i) return 1;
  for (std::size_t k = 1; k < length; ++k) {
    if ((static_cast<std::uint8_t>(text[i + k]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

}  // namespace

// One iconv conversion descriptor, closed on destruction.
class IconvCodePage::Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : descriptor_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (valid()) iconv_close(descriptor_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool valid() const { return descriptor_ != reinterpret_cast<iconv_t>(-1); }

  // Converts `text`; at a sequence iconv rejects, `on_invalid` appends its replacement and says
  // how many input bytes to skip.
  template <typename OnInvalid>
  std::string Convert(const std::string& text, OnInvalid on_invalid) {
    std::string out;
    iconv(descriptor_, nullptr, nullptr, nullptr, nullptr);
    std::size_t done = 0;
    std::array<char, 512> chunk;
    while (done < text.size()) {
      char* in = const_cast<char*>(text.data()) + done;
      std::size_t in_left = text.size() - done;
      char* next = chunk.data();
      std::size_t out_left = chunk.size();
      std::size_t result = iconv(descriptor_, &in, &in_left, &next, &out_left);
      int error = errno;
      out.append(chunk.data(), static_cast<std::size_t>(next - chunk.data()));
      done = text.size() - in_left;
      if (result != static_cast<std::size_t>(-1) || error == E2BIG) continue;
      done += on_invalid(out, done);
    }
    return out;
  }

 private:
  iconv_t descriptor_;
};

IconvCodePage::IconvCodePage(std::string code_page)
    : code_page_(std::move(code_page)),
      to_utf8_(std::make_unique<Converter>("UTF-8", code_page_)),
      from_utf8_(std::make_unique<Converter>(code_page_, "UTF-8")) {
  std::string ascii(0x80, '\0');
  for (std::size_t i = 0; i < ascii.size(); ++i) ascii[i] = static_cast<char>(i);
  ascii_unchanged_ = ToUtf8(ascii) == ascii && FromUtf8(ascii) == ascii;
}

IconvCodePage::~IconvCodePage() = default;

bool IconvCodePage::valid() const { return to_utf8_->valid() && from_utf8_->valid(); }

std::string IconvCodePage::ToUtf8(const std::string& text) {
  if (ascii_unchanged_ && IsAscii(text)) return text;
  auto replace_byte = [](std::string& out, std::size_t) {
    out.append(kReplacementUtf8);
    return std::size_t{1};
  };
  if (!to_utf8_->valid()) {
    std::string out;
    for (char c : text) {
      if (static_cast<std::uint8_t>(c) < 0x80) {
        out.push_back(c);
      } else {
        replace_byte(out, 0);
      }
    }
    return out;
  }
  return to_utf8_->Convert(text, replace_byte);
}

std::string IconvCodePage::FromUtf8(const std::string& text) {
  if (ascii_unchanged_ && IsAscii(text)) return text;
  auto replace_character = [&text](std::string& out, std::size_t at) {
    out.push_back(kMissingCharacter);
    return Utf8CharacterLength(text, at);
  };
  if (!from_utf8_->valid()) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
      if (static_cast<std::uint8_t>(text[i]) < 0x80) {
        out.push_back(text[i++]);
      } else {
        i += replace_character(out, i);
      }
    }
    return out;
  }
  return from_utf8_->Convert(text, replace_character);
}

}  // namespace kv::platform
