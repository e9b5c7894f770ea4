#include "platform/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kv::platform {
namespace {

// Every character of `text` as DecodeUtf8 reads it, 0xFFFFFFFF standing for a rejected byte.
std::vector<char32_t> DecodeAll(std::string_view text) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < text.size();) out.push_back(DecodeUtf8(text, i).value_or(~0u));
  return out;
}

TEST(Text, DecodesUtf8AndRejectsWhatIsNotStrictUtf8) {
  constexpr char32_t kBad = ~0u;
  const struct {
    std::string text;
    std::vector<char32_t> expected;
  } cases[] = {
      {"a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", {'a', 0xE4, 0x20AC, 0x1F600}},
      {"\xC0\x80", {kBad, kBad}},            // overlong NUL
      {"\xE0\x80\xAF", {kBad, kBad, kBad}},  // overlong "/"
      {"\xF0\x80\x80\xAF", {kBad, kBad, kBad, kBad}},
      {"\xED\xA0\x80", {kBad, kBad, kBad}},            // a surrogate
      {"\xF4\x90\x80\x80", {kBad, kBad, kBad, kBad}},  // beyond U+10FFFF
      {"\xE2\x82", {kBad, kBad}},                      // cut at the end
      {"\x80z", {kBad, 'z'}},                          // a stray continuation byte
      {"\xC3z", {kBad, 'z'}},                          // a lead byte without its continuation
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeAll(c.text), c.expected) << c.text;
}

TEST(Text, EncodesWhatItDecodesAndReplacesWhatUtf8CannotCarry) {
  std::string out;
  for (char32_t c : {char32_t{'a'}, char32_t{0xE4}, char32_t{0x20AC}, char32_t{0x1F600}}) {
    AppendUtf8(out, c);
  }
  EXPECT_EQ(out, "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");
  out.clear();
  AppendUtf8(out, 0xD800);
  AppendUtf8(out, 0x110000);
  EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Text, FoldsOnlyAsciiCaseAndTrimsOnlyBlanks) {
  EXPECT_TRUE(EqualsIgnoringCase("Store Root", "store ROOT"));
  EXPECT_FALSE(EqualsIgnoringCase("\xC4", "\xE4"));  // Windows-1252 letters compare as bytes
  EXPECT_FALSE(EqualsIgnoringCase("Inbox", "Inbox "));
  // Letters fold to lower case before an unsigned comparison: "_" sorts before letters, and a
  // high byte after every ASCII character.
  EXPECT_TRUE(LessIgnoringCase("_x", "Ax"));
  EXPECT_TRUE(LessIgnoringCase("inbox", "INBOXES"));
  EXPECT_TRUE(LessIgnoringCase("z", "\xE4"));
  EXPECT_FALSE(LessIgnoringCase("B", "a"));
  EXPECT_EQ(TrimBlanks(" \t\r\nIn box\n "), "In box");
  EXPECT_EQ(TrimBlanks("\v x \f"), "\v x \f");
  EXPECT_EQ(TrimBlanks(" \r\n"), "");
}

}  // namespace
}  // namespace kv::platform
