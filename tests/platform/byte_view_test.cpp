#include "platform/byte_view.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace kv {
namespace {

TEST(ByteView, ReadsIntegersInBothByteOrders) {
  const std::vector<std::uint8_t> bytes{0x00, 0x7F, 0x00, 0x7F, 0xFF, 0x01, 0x02, 0x03, 0x04};
  ByteView view(bytes);
  EXPECT_EQ(view.u32le(0), 0x7F007F00u);
  EXPECT_EQ(view.u32be(0), 0x007F007Fu);
  EXPECT_EQ(view.u16le(4), 0x01FFu);
  EXPECT_EQ(view.u16be(4), 0xFF01u);
  EXPECT_EQ(view.u64le(1), 0x04030201FF7F007Fu);
  EXPECT_EQ(view.u8(8), 0x04u);
}

TEST(ByteView, RefusesReadsThatLeaveTheView) {
  const std::vector<std::uint8_t> bytes(6, 0xAB);
  ByteView view(bytes);
  EXPECT_TRUE(view.u32le(2).has_value());
  EXPECT_FALSE(view.u32le(3).has_value());
  EXPECT_FALSE(view.u8(6).has_value());
  EXPECT_FALSE(view.u64le(0).has_value());
  // Offsets near the top of the address range must not wrap around into the view.
  EXPECT_FALSE(view.u32le(SIZE_MAX - 1).has_value());
  EXPECT_FALSE(view.u64le(SIZE_MAX - 2).has_value());
  EXPECT_FALSE(view.Sub(4, SIZE_MAX).has_value());
  EXPECT_FALSE(view.Sub(SIZE_MAX, 1).has_value());
  EXPECT_FALSE(view.From(7).has_value());
  ASSERT_TRUE(view.From(6).has_value());
  EXPECT_TRUE(view.From(6)->empty());
}

TEST(ByteView, FindsWholeWordsOnlyAtTheirSteps) {
  // 0x7F007F00 stands at offset 2 (not a step of 4 from 0) and at offset 8; the last three bytes
  // hold only part of a word.
  const std::vector<std::uint8_t> bytes{0xAA, 0xAA, 0x00, 0x7F, 0x00, 0x7F, 0xAA, 0xAA,
                                        0x00, 0x7F, 0x00, 0x7F, 0x00, 0x7F, 0x00};
  ByteView view(bytes);
  EXPECT_EQ(view.FindU32le(0x7F007F00), 8u);
  EXPECT_EQ(view.FindU32le(0x7F007F00, 2), 2u);
  EXPECT_EQ(view.FindU32le(0x7F007F00, 9), std::nullopt);
  EXPECT_EQ(view.FindU32le(0x7F007F00, 12), std::nullopt);
  EXPECT_EQ(view.FindU32le(0x7F007F00, SIZE_MAX - 1), std::nullopt);

  // Runs and scatterings of the marker's bytes at every alignment, against comparing every step.
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint8_t> noise(random() % 200);
    for (std::uint8_t& byte : noise)
      byte = std::array<std::uint8_t, 3>{0x00, 0x7F, 0xAA}[random() % 3];
    const ByteView in(noise);
    const std::size_t from = random() % 8;
    std::optional<std::size_t> expected;
    for (std::size_t i = from; !expected && in.Contains(i, 4); i += 4) {
      if (in.u32le(i) == 0x7F007F00u) expected = i;
    }
    ASSERT_EQ(in.FindU32le(0x7F007F00, from), expected) << round;
  }
}

TEST(ByteView, ZeroTerminatedFieldsStopAtTheFieldEnd) {
  const std::vector<std::uint8_t> bytes{'I', 'n', 'b', 'o', 'x', 0, 'z', 'A', 'B', 'C'};
  ByteView view(bytes);
  EXPECT_EQ(view.CString(0, 8), "Inbox");
  // No NUL inside the field: the whole field is the text, nothing past it is read.
  EXPECT_EQ(view.CString(7, 3), "ABC");
  EXPECT_FALSE(view.CString(7, 4).has_value());
}

}  // namespace
}  // namespace kv
