#include "host/mboxrd.h"

#include <gtest/gtest.h>

namespace kv::host {
namespace {

std::string Quote(std::string_view message, std::size_t piece) {
  MboxrdQuoter quoter;
  std::string out;
  for (std::size_t pos = 0; pos < message.size(); pos += piece) {
    quoter.Feed(message.substr(pos, piece), out);
  }
  quoter.Finish(out);
  return out;
}

std::string Unquote(std::string_view quoted) {
  std::string out;
  std::size_t pos = 0;
  while (pos < quoted.size()) {
    std::size_t end = quoted.find('\n', pos);
    std::size_t stop = end == std::string_view::npos ? quoted.size() : end;
    out += UnquoteMboxrdLine(quoted.substr(pos, stop - pos));
    if (end != std::string_view::npos) out.push_back('\n');
    pos = stop + 1;
  }
  return out;
}

// Every From line is quoted however the message is cut into pieces; a line start held back at the
// end of the message is flushed.
TEST(MboxrdTest, QuotesEveryFromLineWhateverThePieces) {
  const std::pair<std::string, std::string> cases[] = {
      {"From: a@x\nSubject: From here\n\nFrom the start\n>From quoted\n>>From twice\n"
       "From\n>From\nFrom: header-like\n>> From spaced\nFromage\r\nFrom crlf\r\n>From ",
       "From: a@x\nSubject: From here\n\n>From the start\n>>From quoted\n>>>From twice\n"
       "From\n>From\nFrom: header-like\n>> From spaced\nFromage\r\n>From crlf\r\n>>From "},
      {">>Fro", ">>Fro"},
      {"x\n>", "x\n>"},
  };
  for (const auto& [message, expected] : cases) {
    for (std::size_t piece = 1; piece <= message.size(); ++piece) {
      std::string quoted = Quote(message, piece);
      ASSERT_EQ(quoted, expected) << "piece size " << piece;
      EXPECT_EQ(Unquote(quoted), message);
    }
  }
}

}  // namespace
}  // namespace kv::host
