// The resource script the Windows build compiles holds the string table and both dialog templates
// exactly as the tables give them, with the Win32 classes and styles each control needs.

#include "res/resource_script.h"

#include <gtest/gtest.h>

#include "support/golden.h"

namespace kv::res {
namespace {

TEST(ResourceScript, QuotesTextAsTheResourceCompilerReadsIt) {
  EXPECT_EQ(QuoteResourceString("plain"), "\"plain\"");
  EXPECT_EQ(QuoteResourceString("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(QuoteResourceString("a\nb"), "\"a\\nb\"");
  EXPECT_EQ(QuoteResourceString("C:\\Mail"), "\"C:\\\\Mail\"");
  EXPECT_EQ(QuoteResourceString(""), "\"\"");
}

// The whole script, checked once line by line against the templates' published layout: each
// control's class, complete style and position, and every string of the table.
TEST(ResourceScript, HoldsEveryStringTheBitmapAndTheTemplates) {
  kv::testing::ExpectGolden(ResourceScript("/src/res/folders.bmp"), "res/resource-script.txt");
}

}  // namespace
}  // namespace kv::res
