// The header block scans: the status mark through each of its three doors (a file read as text,
// bytes in memory, the byte-wise scan the Outlook Express filters run while they copy), and the
// Return-Path question the byte-wise scan answers as well.

#include "eudora/status_header.h"

#include <gtest/gtest.h>

#include <string>

#include "eudora/message_header_scan.h"
#include "platform/fake/memory_file_system.h"

namespace kv {
namespace {

// The last whole header line of the status field with a value beginning with "1" sets the mark;
// a header block without its empty line is scanned to the end (the text scans give false),
// keeping a mark reached. The byte-wise scan is fed whole and one byte at a time (a CR LF split
// between blocks is still one line end).
TEST(StatusHeaderScan, EveryDoorFindsTheMarkAndTheByteScanTheReturnPath) {
  const std::string name = "x-kvnorvale-statusmsg";
  struct Case {
    std::string text;
    bool mark;
    bool whole;                       // the header block ends in an empty line
    std::optional<bool> return_path;  // nullopt: the text ended before the question was settled
  };
  const Case cases[] = {
      {"From: a@b\r\nX-KVNORVALE-STATUSMSG: 1\r\n\r\nbody\r\n", true, true, false},
      {name + ":10\n\n", true, true, false},
      {name + ": \t 1\n\n", true, true, false},
      {name + "=1\n\n", true, true, false},  // the character after the name is skipped
      {name + ":" + std::string(40, ' ') + "\t1\r\n\r\n", true, true, false},
      {name + ":\r1\r\n\r\n", true, true, false},
      {name + ":\v\f 1\n\n", true, true, false},  // every white space character goes
      {name + ": 0\n\n", false, true, false},
      {name + ":\n\n", false, true, false},
      {name + "\r\n\r\n", false, true, false},
      {name + ": 21\n\n", false, true, false},
      {name + ": 1\n" + name + ": 0\n\n", false, true, false},
      {name + ": 0\n" + name + ": 1\n\n", true, true, false},
      {name + ":0\r\nReturn-Path: <a@b>\r\n" + name + ":1\r\n\r\n", true, true, true},
      {"Subject: x\r\n\r\nReturn-Path: <a@b>\r\n" + name + ": 1\r\n", false, true, false},  // body
      {"Subject: x\n " + name + ": 1\n\t" + name + ": 1\n\n", false, true, false},  // folded
      {"Subject: x\r\n Return-Path: <a@b>\r\n " + name + ": 1\r\n\r\n", false, true, false},
      {name + "\n" + name + "s: 1\n\n", false, true, false},
      {"From: a@b\n" + name + ": 1", true, false, std::nullopt},
      {"", false, false, std::nullopt},
      {"Subject: x\r\r\n" + name + ": 1\r\n\x1a\r\n", true, false, std::nullopt},  // Ctrl-Z ends
      {"Subject: x\r\n\r\r\n" + name + ": 1\r\n\r\n", true, true, false},  // a lone CR is no end
      {"Return-Path: <a@b>\r\nSubject: x\r\n\r\nbody", false, true, true},
      {"Subject: x\r\nRETURN-PATH:x\n\nbody", false, true, true},
      {"return-path:\r\n\r\n", false, true, false},
      {"return-path:\r\r\n\r\n", false, true, true},
      {"Subject: x\r\nX-A: b\r\n", false, false, std::nullopt},
      {"Subject: x\r\nReturn-Path: <a@b>", false, false, true},
      {"Return-Path: <a@b>\r", false, false, true},
      {"\r\nReturn-Path: <a@b>\r\n", false, true, false},
      {"Subject: a\x1A\r\n\r\nReturn-Path: x", false, false, std::nullopt},
  };
  platform::MemoryFileSystem files;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    files.AddFile("C:\\TEMP\\m.TMP", c.text);
    bool mark = !c.mark;  // the opposite, so that a scan that forgets to set it shows
    EXPECT_EQ(ScanStatusHeader(files, "C:\\TEMP\\m.TMP", mark), c.whole);
    EXPECT_EQ(mark, c.mark);
    mark = !c.mark;
    EXPECT_EQ(ScanStatusHeaderText(c.text, mark), c.whole);
    EXPECT_EQ(mark, c.mark);

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.text.data());
    MessageHeaderScan whole, bytewise;
    whole.Feed(std::span(bytes, c.text.size()));
    for (std::size_t i = 0; i < c.text.size(); ++i) bytewise.Feed(std::span(bytes + i, 1));
    for (MessageHeaderScan* scan : {&whole, &bytewise}) {
      scan->Finish();
      EXPECT_EQ(scan->returnPath(), c.return_path);
      EXPECT_EQ(scan->statusMark(), c.mark);
    }
  }
  bool mark = true;
  EXPECT_FALSE(ScanStatusHeader(files, "C:\\TEMP\\absent.TMP", mark));
  EXPECT_FALSE(mark) << "a missing file clears the mark";
}

}  // namespace
}  // namespace kv
