#include "platform/fake/fake_environment.h"

#include <array>
#include <cstdint>

#include "platform/implementation_support.h"
#include "platform/text.h"

namespace kv::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kUndefined = 0;  // marks the bytes Windows-1252 does not define

// The characters of bytes 0x80-0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC,     kUndefined, 0x201A, 0x0192, 0x201E, 0x2026,     0x2020, 0x2021,
    0x02C6,     0x2030,     0x0160, 0x2039, 0x0152, kUndefined, 0x017D, kUndefined,
    kUndefined, 0x2018,     0x2019, 0x201C, 0x201D, 0x2022,     0x2013, 0x2014,
    0x02DC,     0x2122,     0x0161, 0x203A, 0x0153, kUndefined, 0x017E, 0x0178};

char32_t ByteToCharacter(std::uint8_t byte) {
  if (byte >= 0x80 && byte <= 0x9F) {
    char32_t c = kHighControls[byte - 0x80];
    return c == kUndefined ? kReplacement : c;
  }
  return byte;
}

std::optional<std::uint8_t> CharacterToByte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
  for (std::size_t k = 0; k < kHighControls.size(); ++k) {
    if (kHighControls[k] != kUndefined && kHighControls[k] == c) {
      return static_cast<std::uint8_t>(0x80 + k);
    }
  }
  return std::nullopt;
}

}  // namespace

FakeEnvironment::FakeEnvironment(std::map<std::string, std::string> variables) {
  for (auto& [name, value] : variables) Set(name, value);
}

void FakeEnvironment::Set(const std::string& name, const std::string& value) {
  variables_[ToLowerAscii(name)] = value;
}

std::string FakeEnvironment::ExpandEnvironmentStrings(const std::string& text) {
  return ExpandPercentVariables(text,
                                [this](const std::string& name) -> std::optional<std::string> {
                                  auto it = variables_.find(ToLowerAscii(name));
                                  if (it == variables_.end()) return std::nullopt;
                                  return it->second;
                                });
}

std::string Windows1252CodePage::ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) AppendUtf8(out, ByteToCharacter(static_cast<std::uint8_t>(c)));
  return out;
}

std::string Windows1252CodePage::FromUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::optional<char32_t> c = DecodeUtf8(text, i);
    std::optional<std::uint8_t> byte = c ? CharacterToByte(*c) : std::nullopt;
    out.push_back(byte ? static_cast<char>(*byte) : '?');
  }
  return out;
}

}  // namespace kv::platform
