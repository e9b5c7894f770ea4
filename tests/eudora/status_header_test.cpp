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

TEST_F(StatusHeaderScan, ValueBeginningWithOneSetsTheMarkWhateverTheCase) {
  EXPECT_TRUE(Scan("From: a@b\r\nX-KVNORVALE-STATUSMSG: 1\r\n\r\nbody\r\n"));
  EXPECT_TRUE(mark);
  EXPECT_TRUE(Scan("x-kvnorvale-statusmsg:10\n\n"));
  EXPECT_TRUE(mark);
  EXPECT_TRUE(Scan("x-kvnorvale-statusmsg: \t 1\n\n"));
  EXPECT_TRUE(mark);
  // The character after the name is skipped whatever it is.
  EXPECT_TRUE(Scan("x-kvnorvale-statusmsg=1\n\n"));
  EXPECT_TRUE(mark);
}

TEST_F(StatusHeaderScan, OtherValuesClearTheMark) {
  EXPECT_TRUE(Scan("x-kvnorvale-statusmsg: 0\n\n"));
  EXPECT_FALSE(mark);
  EXPECT_TRUE(Scan("x-kvnorvale-statusmsg:\n\n"));
  EXPECT_FALSE(mark);
  EXPECT_TRUE(Scan("x-kvnorvale-statusmsg: 21\n\n"));
  EXPECT_FALSE(mark);
  // The last matching line decides.
  EXPECT_TRUE(Scan("x-kvnorvale-statusmsg: 1\nx-kvnorvale-statusmsg: 0\n\n"));
  EXPECT_FALSE(mark);
  EXPECT_TRUE(Scan("x-kvnorvale-statusmsg: 0\nx-kvnorvale-statusmsg: 1\n\n"));
  EXPECT_TRUE(mark);
}

TEST_F(StatusHeaderScan, OnlyWholeHeaderLinesCount) {
  // In the body, after the empty line.
  EXPECT_TRUE(Scan("Subject: x\r\n\r\nx-kvnorvale-statusmsg: 1\r\n"));
  EXPECT_FALSE(mark);
  // A folded continuation line, even one naming the field.
  EXPECT_TRUE(Scan("Subject: x\n x-kvnorvale-statusmsg: 1\n\tx-kvnorvale-statusmsg: 1\n\n"));
  EXPECT_FALSE(mark);
  // Exactly the name with nothing after it, and a longer field name sharing the prefix.
  EXPECT_TRUE(Scan("x-kvnorvale-statusmsg\nx-kvnorvale-statusmsgs: 1\n\n"));
  EXPECT_FALSE(mark);
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
