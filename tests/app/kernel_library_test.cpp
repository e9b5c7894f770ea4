#include "app/kernel_library.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(KernelLibrary, TrimRemovesBlanksTabsAndLineEndsAtBothEndsOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {" \t\r\nC:\\Program Files\\Mail box \r\n\t ", "C:\\Program Files\\Mail box"},
      {" \t\r\n", ""},
      {"Inbox", "Inbox"}};
  for (auto [text, trimmed] : cases) {
    kvTrimStr(text);
    EXPECT_EQ(text, trimmed);
  }
}

TEST(KernelLibrary, DefaultOptionsFillTheWholeRecordAndSucceed) {
  _MSG_OPTIONS options;
  options.bytes.fill(0xEE);
  ASSERT_EQ(CDefaultOptions::get_DefaultMesOptions(&options), 0);
  // Every byte is the library's own default, none is left as the caller's garbage.
  for (std::uint8_t byte : options.bytes) EXPECT_NE(byte, 0xEE);
  EXPECT_NE(CDefaultOptions::get_DefaultMesOptions(nullptr), 0);
}

}  // namespace
}  // namespace kv
