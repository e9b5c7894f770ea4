#include "host/message_text.h"

#include <gtest/gtest.h>

#include <vector>

namespace kv::host {
namespace {

// Line ends and state headers come out the same however the message is cut into pieces: a CR at
// the end of one piece and its LF at the start of the next, a header line split in two.
TEST(MessageTextTest, PiecesOfAnySizeGiveTheSameText) {
  struct Case {
    std::string message;
    std::int32_t state;
    std::string expected;
  };
  const Case cases[] = {
      {"A: 1\r\nStatus: U\r\n continued\r\nB: 2\r\n\r\nbody\r\rend\r\n", 2,
       "A: 1\nB: 2\nStatus: RO\n\nbody\r\rend\n"},
      {"Subject: x\n\nStatus: in the body\n", 6, "Subject: x\nStatus: O\n\nStatus: in the body\n"},
      {"Subject: all header\r\nX-status: A", 1, "Subject: all header\nStatus: RO\nX-Status: T\n"},
      {"", 0, "Status: RO\n"},
  };
  for (const Case& c : cases) {
    for (std::size_t piece = 1; piece <= c.message.size() + 1; ++piece) {
      SCOPED_TRACE(c.message + " in pieces of " + std::to_string(piece));
      LineEndConverter line_ends(true);
      StateHeaderWriter headers(c.state);
      std::string converted, out;
      for (std::size_t at = 0; at < c.message.size(); at += piece) {
        line_ends.Feed(std::string_view(c.message).substr(at, piece), converted);
        headers.Feed(converted, out);
        converted.clear();
      }
      line_ends.Finish(converted);
      headers.Feed(converted, out);
      headers.Finish(out);
      EXPECT_EQ(out, c.expected);
    }
  }
}

// The conversion of a whole message gives what the converter gives, wherever a CR falls against
// the blocks it works in, and in the bytes it takes one by one at the end; with 128-bit vectors as
// with 256-bit ones, whichever the processor would take.
TEST(MessageTextTest, WholeMessageConversionMatchesTheConverter) {
  std::vector<char> out(400);
  for (const std::string tail : {"a\r\nb\r\r\nc\rd\r\n\r\n", "\r\r\r\n\n\r", "x\r"}) {
    for (std::size_t lead = 0; lead <= 40; ++lead) {
      std::string message;
      for (int copy = 0; copy < 4; ++copy) {
        message += std::string(lead, 'm') + tail + std::string(lead % 19, 'e') + tail;
      }
      std::string expected;
      LineEndConverter converter(true);
      converter.Feed(message, expected);
      converter.Finish(expected);
      for (bool wide : {false, HasWideVectors()}) {
        EXPECT_EQ(std::string_view(out.data(), CrLfToLf(message, out.data(), wide)), expected)
            << lead << (wide ? " wide" : "");
      }
    }
  }
}

}  // namespace
}  // namespace kv::host
