// Splitting mailboxes into messages and walking a store: separators, items, summary states, and
// what the walk reports when a mailbox or its summary lets it down.

#include "eudora/eudora_mailbox.h"

#include <gtest/gtest.h>

#include "eudora_fixture.h"
#include "support/golden.h"

namespace kv::testing {
namespace {

constexpr const char* kSep = "From ???@??? Mon Dec 13 18:45:29 2010";

struct Split {
  std::vector<std::uint64_t> starts;
  std::vector<std::string> messages;
};

// Splits `bytes` as the filter does, each message into a memory file.
Split SplitMailbox(const std::string& bytes) {
  platform::MemoryFileSystem files;
  files.AddFile("C:\\m.mbx", bytes);
  MailboxSplitter splitter(files.OpenForReading("C:\\m.mbx"));
  Split split;
  for (std::optional<std::uint64_t> start; (start = splitter.FindSeparator());) {
    BufferedFileWriter out(files.OpenForWriting("C:\\out"));
    const MailboxSplitter::Stop stop = splitter.CopyMessage(out);
    EXPECT_TRUE(out.Close());
    split.starts.push_back(*start);
    split.messages.push_back(files.Contents("C:\\out").value());
    if (stop != MailboxSplitter::Stop::kSeparator || split.messages.size() > 100) break;
  }
  return split;
}

// Each mailbox's messages with where they start: tests/golden/eudora/split.txt.
TEST(EudoraMailboxSplit, SeparatorRules) {
  const std::string s = kSep;
  const std::pair<const char*, std::string> cases[] = {
      {"three messages", s + "\r\nA: 1\r\n\r\none\r\n" + s + "\r\ntwo\r\n" + s + "\r\nthree\r\n"},
      {"separator in the middle of a line", s + "\r\nfirst\r\ntail " + s + " rest\r\nsecond\r\n"},
      {"text before the first separator", "junk\r\nmore " + s + "\r\nbody\r\n"},
      {"line feeds alone", s + "\nbody\n\nend"},
      {"a lone CR stays, Ctrl-Z is text", s + "\r\na\rb\x1A" + "c\r\r\n"},
      {"two separators on the first line", s + " " + s + "\r\nx\r\n"},
      {"separator cut by the end", s + "\r\nx\r\nFrom ???@"},
      {"no separator", "From someone@example.com\r\n"},
      {"empty", ""},
  };
  std::string listing;
  for (const auto& [what, mailbox] : cases) {
    listing += std::string("== ") + what + "\n";
    const Split split = SplitMailbox(mailbox);
    for (std::size_t i = 0; i < split.starts.size(); ++i) {
      listing +=
          "at " + std::to_string(split.starts[i]) + ":\n" + Escaped(split.messages[i], "    ");
    }
  }
  ExpectGolden(listing, "eudora/split.txt");
}

// Lines and separators that straddle the reader's 64 KiB window, in every position near it.
TEST(EudoraMailboxSplit, LongLinesAcrossTheReadWindow) {
  const std::string s = kSep;
  for (std::size_t shift = 0; shift < 16; ++shift) {
    const std::string first =
        s + "\r\n" + std::string(ChunkedReader::kWindowSize - 60 + shift, 'x');
    const std::string mailbox = first + s + "\r\n" + std::string(200000, 'y') + "\r\n";
    const Split split = SplitMailbox(mailbox);
    ASSERT_EQ(split.messages.size(), 2u) << shift;
    EXPECT_EQ(split.messages[0], first) << shift;
    EXPECT_EQ(split.starts[1], first.size()) << shift;
    EXPECT_EQ(split.messages[1], s + "\r\n" + std::string(200000, 'y') + "\r\n") << shift;

    // Short lines ending in CR LF and in LF alone, whose ends fall on every side of the window's.
    std::string lines, expected;
    for (std::size_t i = 0; lines.size() < ChunkedReader::kWindowSize + 100; ++i) {
      lines += i % 2 == 0 ? "ab\r\n" : "c\n";
      expected += i % 2 == 0 ? "ab\r\n" : "c\r\n";
    }
    const Split mixed = SplitMailbox(std::string(shift, 'j') + s + "\r\n" + lines + s + "\r\n");
    ASSERT_EQ(mixed.messages.size(), 2u) << shift;
    EXPECT_EQ(mixed.messages[0], s + "\r\n" + expected) << shift;
  }
}

// Every property of every message (tests/golden/eudora/walk.txt): the summary's state of each
// kind; sent messages' header values, text, HTML part and attachment lists (each message's HTML
// side file replaces the previous one's; only the body files and the last side files stay in the
// temporary folder); a rich-text message with the status mark; and the message options: the
// summary's priority, encoding and MIME bytes, kept by a message without a summary, and the
// settings file's values when the store's first message has none.
TEST_F(EudoraFilterTest, EveryPropertyOfEveryMessage) {
  EudoraStore store;
  std::vector<EudoraMessage> first = EudoraMessages({kEudoraRead});
  first[0].priority = 1;
  first[0].encoding = '=';
  first[0].mime = 5;
  store.AddMailbox("", "Mail", first);
  store.AddMailbox("", "Loose", EudoraMessages({kEudoraRead}), /*with_toc=*/false);
  store.AddMailbox(
      "", "Out",
      {{EudoraTestMessage(1,
                          "Cc: c@example.com\r\nBcc: b@example.com\r\nX-Attachments: "
                          "C:\\Docs\\a.doc; C:\\Docs\\b.pdf\r\n",
                          "<x-html><p>Hi</p></x-html>\r\nText\r\n"),
        kEudoraSent},
       {EudoraTestMessage(3, "X-Attachments: b.doc\r\n", "<x-html>b</x-html>"), kEudoraSent}});
  store.AddMailbox("", "Rich",
                   {{EudoraTestMessage(2, "X-KVNorvale-StatusMsg: 1\r\n",
                                       "<x-rich>rich</x-rich>\r\n"
                                       "Attachment Converted: \"C:\\Eudora\\Attach\\c d.txt\"\r\n"),
                     kEudoraRead}});
  std::vector<EudoraMessage> states;
  for (const std::uint8_t state : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 200}) {
    states.emplace_back(EudoraTestMessage(static_cast<int>(states.size()) + 1), state);
  }
  store.AddMailbox("", "States", states);
  store.SetSettingsFileName("Eudora.ini");
  store.SetSetting("UseQuotedPrintable", "0");
  store.SetSetting("SendMIME", " 0 ");
  store.AddTo(files, kEudoraDir);
  ui.AnswerMessageBox(platform::kIdYes);
  ASSERT_TRUE(Find());
  std::string listing = Listing();

  filter = NewFilter();
  files.Delete("C:\\Eudora\\Mail.toc");
  ui.AnswerMessageBox(platform::kIdYes);
  ASSERT_TRUE(Find("Mail"));
  listing += "== without Mail.toc\n" + Listing();
  ExpectGolden(listing, "eudora/walk.txt");
}

// A mailbox "Mail" between two good ones, its summary or mailbox damaged one way per case; each
// case's items and diagnostics are in tests/golden/eudora/damage.txt. A summary that is missing or
// disagrees with its mailbox is reported once, and the messages it does not cover get the state
// their text gives, marked unknown; a mailbox that cannot be opened ends the import.
TEST_F(EudoraFilterTest, DamagedSummariesAndMailboxesAreReported) {
  const std::vector<EudoraMessage> three = EudoraMessages({kEudoraRead, kEudoraRead, kEudoraRead});
  const std::vector<EudoraMessage> two(three.begin(), three.begin() + 2);
  const std::string mbx = EudoraMailboxFile(three);
  const std::string one = EudoraMailboxFile(EudoraMessages({kEudoraRead}));
  const std::string one_toc = EudoraTocFile("Mail", 4, EudoraMessages({kEudoraRead}));
  struct Case {
    const char* what;
    std::optional<std::string> toc, mbx;  // nullopt: the file is missing
  };
  const Case cases[] = {
      {"no summary", std::nullopt,
       EudoraMailboxFile({{EudoraTestMessage(1, "Received: from x\r\n")}, three[1]})},
      {"summary shorter than the mailbox", EudoraTocFile("Mail", 4, two), mbx},
      {"summary cut inside a record", EudoraTocFile("Mail", 4, three).substr(0, 600), mbx},
      {"summary longer than the mailbox", EudoraTocFile("Mail", 4, three), EudoraMailboxFile(two)},
      {"a message the summary does not know", EudoraTocFile("Mail", 4, two),
       EudoraMailboxFile({three[0], {EudoraTestMessage(10)}, three[1]})},
      {"mailbox missing", one_toc, std::nullopt},
      {"text before the first separator", one_toc, "garbage\r\n" + one},
      {"no separator at all", one_toc, "From: someone\r\n"},
      {"NUL in a message", one_toc, one.substr(0, 60) + '\0' + one.substr(60)},
  };
  EudoraStore store;
  store.AddMailbox("", "A", EudoraMessages({kEudoraRead}));
  store.AddMapLine("", "Mail,Mail.mbx,S,N");
  store.AddMailbox("", "C", EudoraMessages({kEudoraRead}));
  store.AddTo(files, kEudoraDir);
  std::string listing;
  for (const Case& c : cases) {
    files.Delete("C:\\Eudora\\Mail.toc");
    files.Delete("C:\\Eudora\\Mail.mbx");
    if (c.toc) files.AddFile("C:\\Eudora\\Mail.toc", *c.toc);
    if (c.mbx) files.AddFile("C:\\Eudora\\Mail.mbx", *c.mbx);
    if (!c.toc || !c.mbx) ui.AnswerMessageBox(platform::kIdYes);  // go on with what is there
    filter = NewFilter();
    ASSERT_TRUE(Find()) << c.what;
    listing += std::string("== ") + c.what + "\n" + Listing(/*brief=*/true);
  }
  ExpectGolden(listing, "eudora/damage.txt");
}

}  // namespace
}  // namespace kv::testing
