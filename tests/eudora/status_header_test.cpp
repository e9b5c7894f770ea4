#include "eudora/status_header.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/memory_file_system.h"

namespace kv {
namespace {

// The last whole header line of the status field with a value beginning with "1" sets the mark;
// a header block without its empty line is scanned to the end (false), keeping a mark reached.
TEST(StatusHeaderScan, LastWholeHeaderLineWithAValueBeginningWithOneSetsTheMark) {
  struct Case {
    const char* text;
    bool mark;
    bool whole = true;  // the header block ends in an empty line
  };
  const Case cases[] = {
      {"From: a@b\r\nX-KVNORVALE-STATUSMSG: 1\r\n\r\nbody\r\n", true},
      {"x-kvnorvale-statusmsg:10\n\n", true},
      {"x-kvnorvale-statusmsg: \t 1\n\n", true},
      {"x-kvnorvale-statusmsg=1\n\n", true},  // the character after the name is skipped
      {"x-kvnorvale-statusmsg: 0\n\n", false},
      {"x-kvnorvale-statusmsg:\n\n", false},
      {"x-kvnorvale-statusmsg: 21\n\n", false},
      {"x-kvnorvale-statusmsg: 1\nx-kvnorvale-statusmsg: 0\n\n", false},
      {"x-kvnorvale-statusmsg: 0\nx-kvnorvale-statusmsg: 1\n\n", true},
      {"Subject: x\r\n\r\nx-kvnorvale-statusmsg: 1\r\n", false},  // in the body
      {"Subject: x\n x-kvnorvale-statusmsg: 1\n\tx-kvnorvale-statusmsg: 1\n\n", false},  // folded
      {"x-kvnorvale-statusmsg\nx-kvnorvale-statusmsgs: 1\n\n", false},
      {"From: a@b\nx-kvnorvale-statusmsg: 1", true, false},
      {"", false, false},
      {"Subject: x\r\r\nx-kvnorvale-statusmsg: 1\r\n\x1a\r\n", true, false},  // Ctrl-Z ends
      {"Subject: x\r\n\r\r\nx-kvnorvale-statusmsg: 1\r\n\r\n", true},         // a lone CR is no end
  };
  platform::MemoryFileSystem files;
  for (const Case& c : cases) {
    files.AddFile("C:\\TEMP\\m.TMP", c.text);
    bool mark = true;  // set, so that a scan that forgets to clear it shows
    EXPECT_EQ(ScanStatusHeader(files, "C:\\TEMP\\m.TMP", mark), c.whole) << c.text;
    EXPECT_EQ(mark, c.mark) << c.text;
    // Held in memory, the same bytes scan alike.
    mark = true;
    EXPECT_EQ(ScanStatusHeaderText(c.text, mark), c.whole) << c.text;
    EXPECT_EQ(mark, c.mark) << c.text;
  }
  bool mark = true;
  EXPECT_FALSE(ScanStatusHeader(files, "C:\\TEMP\\absent.TMP", mark));
  EXPECT_FALSE(mark) << "a missing file clears the mark";
}

}  // namespace
}  // namespace kv
