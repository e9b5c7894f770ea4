// The resource script the Windows build compiles holds the string table and both dialog templates
// exactly as the tables give them, with the Win32 classes and styles each control needs.

#include "res/resource_script.h"

#include <gtest/gtest.h>

#include <sstream>

#include "res/dialogs.h"
#include "res/strings.h"

namespace kv::res {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& wanted) {
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

TEST(ResourceScript, QuotesTextAsTheResourceCompilerReadsIt) {
  EXPECT_EQ(QuoteResourceString("plain"), "\"plain\"");
  EXPECT_EQ(QuoteResourceString("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(QuoteResourceString("a\nb"), "\"a\\nb\"");
  EXPECT_EQ(QuoteResourceString("C:\\Mail"), "\"C:\\\\Mail\"");
  EXPECT_EQ(QuoteResourceString(""), "\"\"");
}

TEST(ResourceScript, HoldsEveryStringTheBitmapAndTheTemplatesAsSpecified) {
  const std::vector<std::string> lines = Lines(ResourceScript("/src/res/folders.bmp"));
  for (const StringEntry& entry : StringTable()) {
    EXPECT_TRUE(
        HasLine(lines, "  " + std::to_string(entry.id) + ", " + QuoteResourceString(entry.text)))
        << entry.id;
  }
  // Written out by hand from the templates' published layout: class, complete style, position.
  const char* expected[] = {
      "  126, \"Message storage is corrupted or cannot be found.\\nWould you like to browse for "
      "another message storage?\"",
      "  57344, \"Import messages\"",
      "145 BITMAP \"/src/res/folders.bmp\"",
      "134 DIALOG 0, 0, 166, 237",
      "147 DIALOG 0, 0, 311, 149",
      "STYLE 0x80C80080",
      "CAPTION \"Importing messages...\"",
      "CAPTION \"Location of Messages\"",
      "FONT 8, \"MS Sans Serif\"",
      "  CONTROL \"Please select the root folder to start import messages from \", -1, "
      "\"Static\", 0x50020000, 7, 6, 152, 19",
      "  CONTROL \"\", 1002, \"SysTreeView32\", 0x50810027, 7, 29, 152, 162",
      "  CONTROL \"Skip Empty Folders\", 1004, \"Button\", 0x50010003, 7, 198, 76, 10",
      "  CONTROL \"OK\", 1, \"Button\", 0x50010001, 55, 216, 50, 14",
      "  CONTROL \"Cancel\", 2, \"Button\", 0x50010000, 109, 216, 50, 14",
      "  CONTROL \"Select message location\", -1, \"Button\", 0x50000007, 7, 7, 297, 113",
      "  CONTROL \"Location\", -1, \"Button\", 0x50000007, 19, 38, 273, 43",
      "  CONTROL \"Talvon has determined that your messages are located in \", 1006, \"Static\", "
      "0x50020000, 19, 22, 273, 8",
      "  CONTROL \"\", 1005, \"Edit\", 0x50810880, 31, 54, 193, 14",
      "  CONTROL \"Browse...\", 3, \"Button\", 0x50010000, 231, 54, 50, 14",
      "  CONTROL \"If it is not the current location or you would like to import from different "
      "one, please click 'Browse...' and select a folder.\", -1, \"Static\", 0x50020000, 19, 92, "
      "273, 18",
      "  CONTROL \"Continue\", 1, \"Button\", 0x50010001, 200, 128, 50, 14",
      "  CONTROL \"Cancel\", 2, \"Button\", 0x50010000, 254, 128, 50, 14",
  };
  for (const char* line : expected) EXPECT_TRUE(HasLine(lines, line)) << line;

  // Nothing more: one CONTROL line per control of the tables.
  std::size_t controls = 0;
  for (const std::string& line : lines) controls += line.rfind("  CONTROL ", 0) == 0;
  std::size_t table_controls = 0;
  for (const DialogTemplate& dialog : DialogTemplates()) table_controls += dialog.controls.size();
  EXPECT_EQ(controls, table_controls);
  EXPECT_EQ(controls, 13u);
}

}  // namespace
}  // namespace kv::res
