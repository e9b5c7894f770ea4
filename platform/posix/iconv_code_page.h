#pragma once
// Conversion between a store's single-byte code page and UTF-8 with iconv. The code page is named
// as iconv knows it ("WINDOWS-1252", "CP1250", "ISO-8859-2" ...). Bytes the code page does not
// define (0x81 in Windows-1252) read as U+FFFD; characters it lacks, and malformed UTF-8, are
// written as "?". A conversion never stops early.

#include <memory>
#include <string>

#include "platform/environment.h"

namespace kv::platform {

class IconvCodePage final : public CodePage {
 public:
  explicit IconvCodePage(std::string code_page = "WINDOWS-1252");
  ~IconvCodePage() override;
  IconvCodePage(const IconvCodePage&) = delete;
  IconvCodePage& operator=(const IconvCodePage&) = delete;

  // False when iconv does not know the code page; then only ASCII converts and every other byte
  // or character is replaced.
  bool valid() const;
  const std::string& name() const { return code_page_; }

  std::string ToUtf8(const std::string& text) override;
  std::string FromUtf8(const std::string& text) override;

 private:
  class Converter;
  std::string code_page_;
  std::unique_ptr<Converter> to_utf8_;
  std::unique_ptr<Converter> from_utf8_;
  // The code page keeps ASCII as it is (as every Windows code page does): text of ASCII alone,
  // most names and paths, needs no conversion.
  bool ascii_unchanged_ = false;
};

}  // namespace kv::platform
