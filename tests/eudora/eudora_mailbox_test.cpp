// Splitting mailboxes into messages and walking a store: separators, items, summary states, and
// what the walk reports when a mailbox or its summary lets it down.

#include "eudora/eudora_mailbox.h"

#include <gtest/gtest.h>

#include "eudora_fixture.h"

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

TEST(EudoraMailboxSplit, SeparatorRules) {
  const std::string s = kSep;
  struct Case {
    const char* what;
    std::string mailbox;
    std::vector<std::uint64_t> starts;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"three messages",
       s + "\r\nA: 1\r\n\r\none\r\n" + s + "\r\ntwo\r\n" + s + "\r\nthree\r\n",
       {0, 52, 96},
       {s + "\r\nA: 1\r\n\r\none\r\n", s + "\r\ntwo\r\n", s + "\r\nthree\r\n"}},
      {"separator in the middle of a line",
       s + "\r\nfirst\r\ntail " + s + " rest\r\nsecond\r\n",
       {0, 51},
       {s + "\r\nfirst\r\ntail ", s + " rest\r\nsecond\r\n"}},
      {"text before the first separator",
       "junk\r\nmore " + s + "\r\nbody\r\n",
       {11},
       {s + "\r\nbody\r\n"}},
      {"line feeds alone", s + "\nbody\n\nend", {0}, {s + "\r\nbody\r\n\r\nend\r\n"}},
      {"a lone CR stays, Ctrl-Z is text",
       s + "\r\na\rb\x1A" + "c\r\r\n",
       {0},
       {s + "\r\na\rb\x1A" + "c\r\r\n"}},
      {"two separators on the first line",
       s + " " + s + "\r\nx\r\n",
       {0},
       {s + " " + s + "\r\nx\r\n"}},
      {"separator cut by the end", s + "\r\nx\r\nFrom ???@", {0}, {s + "\r\nx\r\nFrom ???@\r\n"}},
      {"no separator", "From someone@example.com\r\n", {}, {}},
      {"empty", "", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Split split = SplitMailbox(c.mailbox);
    EXPECT_EQ(split.starts, c.starts);
    EXPECT_EQ(split.messages, c.messages);
  }
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

class EudoraWalkTest : public EudoraFilterTest {
 protected:
  std::string Path(const std::string& relative) const {
    return std::string(kEudoraDir) + "\\" + relative;
  }
};

TEST_F(EudoraWalkTest, SummaryStateGivesTheMessageState) {
  const std::pair<std::uint8_t, std::int32_t> cases[] = {
      {0, 6}, {1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 1}, {6, 1}, {7, 1}, {8, 0}, {9, 1}, {200, 1}};
  std::vector<EudoraMessage> messages;
  for (const auto& [state, expected] : cases) {
    messages.emplace_back(EudoraTestMessage(static_cast<int>(messages.size()) + 1), state);
  }
  EudoraStore store;
  store.AddMailbox("", "Mail", messages);
  PutStore(store);
  ASSERT_TRUE(Find());
  const std::vector<EudoraItem> items = Walk();
  ASSERT_EQ(items.size(), std::size(cases));
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].state, cases[i].second) << "state " << int{cases[i].first};
    EXPECT_EQ(items[i].subject, "Message " + std::to_string(i + 1));
    EXPECT_EQ(items[i].status, 0);
  }
  EXPECT_TRUE(diagnostics.entries().empty()) << ::testing::PrintToString(Reports());
}

TEST_F(EudoraWalkTest, MessagesComeApartIntoTheirProperties) {
  EudoraStore store;
  store.AddMailbox("", "Out",
                   {{EudoraTestMessage(1,
                                       "Cc: c@example.com\r\nBcc: b@example.com\r\nX-Attachments: "
                                       "C:\\Docs\\a.doc; C:\\Docs\\b.pdf\r\n",
                                       "<x-html><p>Hi</p></x-html>\r\nText\r\n"),
                     kEudoraSent}});
  store.AddMailbox("", "Mail",
                   {{EudoraTestMessage(2, "X-KVNorvale-StatusMsg: 1\r\n",
                                       "<x-rich>rich</x-rich>\r\n"
                                       "Attachment Converted: \"C:\\Eudora\\Attach\\c d.txt\"\r\n"),
                     kEudoraRead}});
  PutStore(store);
  ASSERT_TRUE(Find());
  const std::vector<EudoraItem> items = Walk();
  ASSERT_EQ(items.size(), 2u);

  const EudoraItem& sent = items[0];
  EXPECT_EQ(sent.from, "Sender 1 <sender1@example.com>");
  EXPECT_EQ(sent.return_path, "<sender1@example.com>");
  EXPECT_EQ(sent.to, "reader@example.com");
  EXPECT_EQ(sent.cc, "c@example.com");
  EXPECT_EQ(sent.bcc, "b@example.com");
  EXPECT_EQ(sent.date, "Sun, 12 Dec 2010 23:42:55 -0600");
  EXPECT_EQ(sent.state, 0);
  EXPECT_EQ(sent.body, "Text");
  EXPECT_EQ(sent.html, "<p>Hi</p>");
  EXPECT_FALSE(sent.rich);
  EXPECT_EQ(sent.attachments,
            (std::vector<std::string>{"C:\\Docs\\a.doc", "C:\\Docs\\b.pdf", "C:\\TEMP\\text.htm"}));

  const EudoraItem& rich = items[1];
  EXPECT_EQ(rich.status, kItemHasStatusMark);
  EXPECT_EQ(rich.body, "Message type was not recognized.\nMessage saved as attachment.");
  EXPECT_EQ(rich.rich, "<x-rich>rich</x-rich>\r");
  EXPECT_FALSE(rich.html);
  EXPECT_EQ(rich.attachments,
            (std::vector<std::string>{"C:\\Eudora\\Attach\\c d.txt", "C:\\TEMP\\text.msg"}));
}

// Each message's attachment list ends with empty values until the next item; only the body
// files handed over and the last HTML side file stay in the temporary folder.
TEST_F(EudoraWalkTest, AttachmentCursorAndTemporaryFiles) {
  EudoraStore store;
  store.AddMailbox(
      "", "In",
      {{EudoraTestMessage(1, "X-Attachments: a.doc\r\n", "<x-html>a</x-html>"), kEudoraSent},
       {EudoraTestMessage(2, "X-Attachments: b.doc\r\n", "<x-html>b</x-html>"), kEudoraSent}});
  PutStore(store);
  ASSERT_TRUE(Find());
  std::vector<std::string> kept = {"C:\\TEMP\\text.htm"};
  for (const char* attachment : {"a.doc", "b.doc"}) {
    ASSERT_TRUE(attachment[0] == 'a' ? filter->GoFirst() : filter->GoNext());
    EXPECT_EQ(filter->GetSubItem(kSubItemNextAttachment), attachment);
    EXPECT_EQ(filter->GetSubItem(kSubItemNextAttachment), "C:\\TEMP\\text.htm");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(filter->GetSubItem(kSubItemNextAttachment), "");
    kept.push_back(filter->GetSubItem(kSubItemBodyFile).value_or(""));
  }
  EXPECT_FALSE(filter->GoNext());
  EXPECT_FALSE(filter->GoNext());
  std::vector<std::string> temp_files;
  for (const std::string& path : files.ListFiles()) {
    if (path.starts_with("C:\\TEMP\\")) temp_files.push_back(path);
  }
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(temp_files, kept);
  EXPECT_EQ(files.Contents("C:\\TEMP\\text.htm"), "b");
}

// A summary that is missing or disagrees with its mailbox is reported once; the messages it does
// not cover get the state their text gives, marked unknown.
TEST_F(EudoraWalkTest, MissingOrDisagreeingSummaryIsReportedOnce) {
  const std::vector<EudoraMessage> three = EudoraMessages({kEudoraRead, kEudoraRead, kEudoraRead});
  const std::vector<EudoraMessage> two(three.begin(), three.begin() + 2);
  const std::string mbx = EudoraMailboxFile(three);
  struct Case {
    const char* what;
    std::optional<std::string> toc;
    std::string mbx;
    std::vector<std::int32_t> states;
    std::string report;
  };
  const Case cases[] = {
      {"no summary",
       std::nullopt,
       EudoraMailboxFile({{EudoraTestMessage(1, "Received: from x\r\n")}, three[1]}),
       {kStateUnknown | kStateReceived, kStateUnknown},
       "Mail: C:\\Eudora\\Mail.toc: summary file missing or unreadable; lost: whether each "
       "message of the mailbox was read, replied to or sent, and its priority"},
      {"summary shorter than the mailbox",
       EudoraTocFile("Mail", 4, two),
       mbx,
       {2, 2, 8},
       "Mail: C:\\Eudora\\Mail.toc at offset 540: the summary ends before the record of message "
       "3; lost: the read, replied and sent state and the priority of message 3 and every later "
       "one of the mailbox"},
      {"summary cut inside a record",
       EudoraTocFile("Mail", 4, three).substr(0, 600),
       mbx,
       {2, 2, 8},
       "Mail: C:\\Eudora\\Mail.toc at offset 540: the summary ends before"},
      {"summary longer than the mailbox",
       EudoraTocFile("Mail", 4, three),
       EudoraMailboxFile(two),
       {2, 2},
       "Mail: C:\\Eudora\\Mail.toc: the summary lists 3 messages, the mailbox holds 2"},
      {"a message the summary does not know",
       EudoraTocFile("Mail", 4, two),
       EudoraMailboxFile({three[0], {EudoraTestMessage(10)}, three[1]}),
       {2, 2, 8},
       "Mail: C:\\Eudora\\Mail.toc at offset 322: summary record 2 places its message at offset "
       "218 (218 bytes), the mailbox has it at 218 (223 bytes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    diagnostics.Clear();
    files.AddFile(Path("descmap.pce"), "Mail,Mail.mbx,S,N\r\n");
    files.AddFile(Path("Mail.mbx"), c.mbx);
    files.Delete(Path("Mail.toc"));
    if (c.toc) {
      files.AddFile(Path("Mail.toc"), *c.toc);
    } else {
      ui.AnswerMessageBox(platform::kIdYes);  // go on with the incomplete store
    }
    filter = NewFilter();
    ASSERT_TRUE(Find());
    std::vector<std::int32_t> states;
    for (const EudoraItem& item : Walk()) states.push_back(item.state);
    EXPECT_EQ(states, c.states);
    ASSERT_EQ(diagnostics.entries().size(), 1u) << ::testing::PrintToString(Reports());
    EXPECT_TRUE(Reports()[0].starts_with(c.report)) << Reports()[0];
  }
}

TEST_F(EudoraWalkTest, DamagedMailboxesAreReported) {
  EudoraStore store;
  store.AddMailbox("", "A", EudoraMessages({kEudoraRead}));
  store.AddMailbox("", "B", EudoraMessages({kEudoraRead}));
  store.AddMailbox("", "C", EudoraMessages({kEudoraRead}));
  struct Case {
    const char* what;
    std::optional<std::string> b_mailbox;  // nullopt: the file is missing
    std::vector<std::string> folders;
    std::string report;
  };
  const std::string message = EudoraMailboxFile(EudoraMessages({kEudoraRead}));
  const Case cases[] = {
      {"mailbox missing",
       std::nullopt,
       {"A"},
       "B: C:\\Eudora\\B.mbx: mailbox cannot be opened; the import ends here; lost: this mailbox "
       "and 1 later folder of the walk"},
      {"text before the first separator",
       "garbage\r\n" + message,
       {"A", "B", "C"},
       "B: C:\\Eudora\\B.mbx at offset 0: text before the first message separator \"From "
       "???@???\"; lost: 9 bytes of text"},
      {"no separator at all",
       "From: someone\r\n",
       {"A", "C"},
       "B: C:\\Eudora\\B.mbx at offset 0: no message separator \"From ???@???\" in the mailbox; "
       "lost: 15 bytes of text"},
      {"NUL in a message",
       message.substr(0, 60) + '\0' + message.substr(60),
       {"A", "B", "C"},
       "B: C:\\Eudora\\B.mbx at offset 60: a NUL byte in message 1 ends its text; lost: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PutStore(store);
    if (c.b_mailbox) {
      files.AddFile(Path("B.mbx"), *c.b_mailbox);
    } else {
      files.Delete(Path("B.mbx"));
      ui.AnswerMessageBox(platform::kIdYes);
    }
    diagnostics.Clear();
    filter = NewFilter();
    ASSERT_TRUE(Find());
    EXPECT_EQ(Folders(Walk()), c.folders);
    ASSERT_FALSE(diagnostics.entries().empty());
    EXPECT_TRUE(Reports()[0].starts_with(c.report)) << Reports()[0];
  }
}

TEST_F(EudoraWalkTest, TemporaryFilesThatCannotBeWrittenStopTheImport) {
  EudoraStore store;
  store.AddMailbox("", "Mail", {{EudoraTestMessage(1, "", std::string(5000, 'z')), kEudoraRead}});
  PutStore(store);
  Faulty().faults().write_budget = 4096;
  ASSERT_TRUE(Find());
  EXPECT_FALSE(filter->GoFirst());
  ASSERT_EQ(diagnostics.entries().size(), 1u);
  EXPECT_EQ(diagnostics.entries()[0].kind, platform::DiagnosticKind::kOutputFailure);
  for (const std::string& path : files.ListFiles()) EXPECT_FALSE(path.starts_with("C:\\TEMP\\"));
  EXPECT_EQ(faulty.OpenCount(), 0);
}

}  // namespace
}  // namespace kv::testing
