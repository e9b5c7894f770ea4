#include "app/kernel_library.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(KernelLibrary, TrimRemovesBlanksTabsAndLineEndsAtBothEndsOnly) {
  std::string text = " \t\r\nC:\\Program Files\\Mail box \r\n\t ";
  kvTrimStr(text);
  EXPECT_EQ(text, "C:\\Program Files\\Mail box");

  std::string only_space = " \t\r\n";
  kvTrimStr(only_space);
  EXPECT_EQ(only_space, "");

  std::string untouched = "Inbox";
  kvTrimStr(untouched);
  EXPECT_EQ(untouched, "Inbox");
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
