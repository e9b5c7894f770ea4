// The header block questions answered from a message's bytes: the Return-Path rule, and the status
// header rule checked against the file-based scan the other filters run on the same bytes, fed
// whole and one byte at a time (so that CR LF split between blocks still counts as one line end).

#include "oe5/message_header_scan.h"

#include <gtest/gtest.h>

#include "eudora/status_header.h"
#include "support/fake_services.h"

namespace kv::testing {
namespace {

struct Case {
  const char* what;
  std::string text;
  std::optional<bool> return_path;
  bool mark;
};

const std::string kName = "x-kvnorvale-statusmsg";

const Case kCases[] = {
    {"Return-Path in the header block", "Return-Path: <a@b>\r\nSubject: x\r\n\r\nbody", true,
     false},
    {"any capitals", "Subject: x\r\nRETURN-PATH:x\n\nbody", true, false},
    {"only after the empty line", "Subject: x\r\n\r\nReturn-Path: <a@b>\r\n", false, false},
    {"the key alone is not longer than the key", "return-path:\r\n\r\n", false, false},
    {"a continuation line", "Subject: x\r\n Return-Path: <a@b>\r\n\r\n", false, false},
    {"no empty line", "Subject: x\r\nX-A: b\r\n", std::nullopt, false},
    {"no line end at all", "Subject: x", std::nullopt, false},
    {"a last line without line end", "Subject: x\r\nReturn-Path: <a@b>", true, false},
    {"a CR at the very end stays in the line", "Return-Path: <a@b>\r", true, false},
    {"an empty text", "", std::nullopt, false},
    {"an empty first line", "\r\nReturn-Path: <a@b>\r\n", false, false},
    {"Ctrl-Z ends the text", "Subject: a\x1A\r\n\r\nReturn-Path: x", std::nullopt, false},
    {"status 1", "X-KVNorvale-StatusMsg: 1\r\n\r\n", false, true},
    {"status 10", kName + ": 10\r\n\r\n", false, true},
    {"status 0", kName + ": 0\r\n\r\n", false, false},
    {"status empty", kName + ":\r\n\r\n", false, false},
    {"status without a blank", kName + ":1\r\n\r\n", false, true},
    {"status after many blanks and a tab", kName + ":" + std::string(40, ' ') + "\t1\r\n\r\n",
     false, true},
    {"status after a lone CR", kName + ":\r1\r\n\r\n", false, true},
    {"the name alone", kName + "\r\n\r\n", false, false},
    {"1 then 0", kName + ": 1\r\n" + kName + ": 0\r\n\r\n", false, false},
    {"0 then 1 with Return-Path between",
     kName + ": 0\r\nReturn-Path: <a@b>\r\n" + kName + ": 1\r\n\r\n", true, true},
    {"status in the body", "Subject: x\r\n\r\n" + kName + ": 1\r\n", false, false},
    {"status as continuation", "Subject: x\r\n " + kName + ": 1\r\n\r\n", false, false},
    {"status without an empty line", "Subject: x\r\n" + kName + ": 1", std::nullopt, true},
};

TEST(MessageHeaderScan, AnswersFromTheBytesAsTheFileScansDo) {
  FakeServices services;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.text.data());
    MessageHeaderScan whole;
    whole.Feed(std::span(bytes, c.text.size()));
    whole.Finish();
    MessageHeaderScan bytewise;
    for (std::size_t i = 0; i < c.text.size(); ++i) bytewise.Feed(std::span(bytes + i, 1));
    bytewise.Finish();
    for (const MessageHeaderScan* scan : {&whole, &bytewise}) {
      EXPECT_EQ(scan->returnPath(), c.return_path);
      EXPECT_EQ(scan->statusMark(), c.mark);
      EXPECT_TRUE(scan->done());
    }
    // The status header scan on the file gives the same mark.
    services.files.AddFile("C:\\m.txt", c.text);
    bool mark = !c.mark;
    ScanStatusHeader(services.files, "C:\\m.txt", mark);
    EXPECT_EQ(mark, c.mark);
  }
}

TEST(MessageHeaderScan, BytesAfterTheHeaderBlockChangeNothing) {
  MessageHeaderScan scan;
  const std::string head = "Subject: x\r\n\r\n";
  const std::string body = "Return-Path: late\r\n" + kName + ": 1\r\n";
  scan.Feed(std::span(reinterpret_cast<const std::uint8_t*>(head.data()), head.size()));
  EXPECT_TRUE(scan.done());
  scan.Feed(std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()));
  scan.Finish();
  EXPECT_EQ(scan.returnPath(), false);
  EXPECT_FALSE(scan.statusMark());
}

}  // namespace
}  // namespace kv::testing
