#include "eudora/status_header.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/memory_file_system.h"

namespace kv {
namespace {

class StatusHeaderScan : public ::testing::Test {
 protected:
  // Scans a file holding `text`; the mark starts out set so that a scan that forgets to clear it
  // shows.
  bool Scan(const std::string& text) {
    files.AddFile("C:\\TEMP\\m.TMP", text);
    mark = true;
    return ScanStatusHeader(files, "C:\\TEMP\\m.TMP", mark);
  }

  platform::MemoryFileSystem files;
  bool mark = false;
};

TEST_F(StatusHeaderScan, LastWholeHeaderLineWithAValueBeginningWithOneSetsTheMark) {
  struct Case {
    const char* text;
    bool mark;
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
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(Scan(c.text)) << c.text;
    EXPECT_EQ(mark, c.mark) << c.text;
  }
}

TEST_F(StatusHeaderScan, HeaderBlockWithoutEndIsScannedToTheEnd) {
  EXPECT_FALSE(Scan("From: a@b\nx-kvnorvale-statusmsg: 1"));
  EXPECT_TRUE(mark) << "the mark reached stays";
  EXPECT_FALSE(Scan(""));
  EXPECT_FALSE(mark);
}

TEST_F(StatusHeaderScan, MissingFileLeavesTheMarkCleared) {
  mark = true;
  EXPECT_FALSE(ScanStatusHeader(files, "C:\\TEMP\\absent.TMP", mark));
  EXPECT_FALSE(mark);
}

}  // namespace
}  // namespace kv
