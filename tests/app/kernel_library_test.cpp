#include "app/kernel_library.h"

#include <gtest/gtest.h>

#include <array>

namespace kv {
namespace {

TEST(KernelLibrary, DefaultOptionsAreVersionOneNormalPriorityAndZeros) {
  _MSG_OPTIONS options;
  options.bytes.fill(0xEE);
  ASSERT_EQ(CDefaultOptions::get_DefaultMesOptions(&options), 0);
  std::array<std::uint8_t, 160> expected{};
  expected[0] = 1;  // record version, little-endian
  expected[2] = 3;  // normal priority, little-endian
  EXPECT_EQ(options.bytes, expected);
  EXPECT_NE(CDefaultOptions::get_DefaultMesOptions(nullptr), 0);
}

}  // namespace
}  // namespace kv
