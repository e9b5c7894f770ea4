// Taking one message apart: the header table, unfolding, the attachment lists, the HTML and rich
// text cuts, the folder hint and the sender fallback.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eudora/eudora_message.h"

namespace kv {
namespace {

constexpr const char* kSeparator = "From ???@??? Mon Dec 13 18:45:29 2010\r\n";

MessageFile Parsed(const std::string& content) {
  MessageFile message;
  message.SetContent(content);
  return message;
}

ConvertedMessage Convert(const std::string& headers, const std::string& body,
                         const std::string& folder = "Mail") {
  return ConvertMessageText(Parsed(kSeparator + headers + "\r\n" + body), folder);
}

using FieldList = std::vector<std::pair<std::string, std::string>>;

TEST(EudoraMessageFile, FieldsRunToTheLineBeforeTheNextFieldAndTheBodyFollowsTheEmptyLine) {
  struct Case {
    std::string content;
    std::optional<std::string> body;
    FieldList fields;
  };
  const Case cases[] = {
      {std::string(kSeparator) +
           "Subject: one\r\n\tfolded\r\nX-Mailer2: not a field\r\n:empty name\r\n"
           "X_Under-score:x\r\n\r\nBody: not a field\r\n",
       "Body: not a field\r\n",
       {{"Subject", " one\r\n\tfolded\r\nX-Mailer2: not a field"},
        {"", "empty name"},
        {"X_Under-score", "x"}}},
      {"Subject: a\r\nTo: b\r\n", std::nullopt, {{"Subject", " a"}, {"To", " b\r\n"}}},
      // One character after the empty line is no body; the empty line stays in the last value.
      {"To: b\r\n\r\nx", std::nullopt, {{"To", " b\r\n\r\nx"}}},
      {"To: b\r\n\r\nxy", "xy", {{"To", " b"}}},
      {"To: b\r\n\r\n", std::nullopt, {{"To", " b\r\n\r\n"}}},
      {"", std::nullopt, {}},
      // Line ends without CR: the value loses its last character in place of the CR.
      {"To: bc\nCc: d\n", std::nullopt, {{"To", " b"}, {"Cc", " d\n"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    const MessageFile message = Parsed(c.content);
    EXPECT_EQ(message.body(), c.body);
    FieldList fields;
    for (const HeaderField& field : message.headers()) {
      fields.emplace_back(field.fieldName, field.fieldValue);
    }
    EXPECT_EQ(fields, c.fields);
  }
}

TEST(EudoraMessageFile, TextEndsAtTheFirstNulAndFieldsPastTheThousandthAreCounted) {
  const std::string content = std::string("To: a\r\n\r\nbody") + '\0' + "lost\r\n";
  const MessageFile cut = Parsed(content);
  EXPECT_EQ(cut.nulOffset(), std::optional<std::size_t>(13));
  EXPECT_EQ(cut.contentSize(), content.size());
  EXPECT_EQ(cut.body(), std::optional<std::string_view>("body"));

  std::string many;
  for (int i = 0; i < 1003; ++i) many += "Received: " + std::to_string(i) + "\r\n";
  const MessageFile message = Parsed(many + "\r\nbody\r\n");
  ASSERT_EQ(message.headers().size(), kMaxHeaderFields);
  EXPECT_EQ(message.fieldsPastLimit(), 3u);
  EXPECT_EQ(message.headers().back().fieldValue,
            " 999\r\nReceived: 1000\r\nReceived: 1001\r\nReceived: 1002");
}

TEST(EudoraHeaderValue, UnfoldsAtEachLineEnd) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\r\n  b", "a b"},
      {"a \t\r\n\tb \r\n c", "a b c"},
      {"a\r\n", "a "},
      {"a\r\n\r\n  b", "a b"},
      {"plain", "plain"},
      {"lone\nline feed", "lone\nline feed"},
      {"", ""},
  };
  for (const auto& [folded, unfolded] : cases) EXPECT_EQ(UnfoldHeaderValue(folded), unfolded);
}

TEST(EudoraConversion, HeaderValuesAreTrimmedUnfoldedAndMatchedWithoutCase) {
  const ConvertedMessage message = Convert(
      "SUBJECT:   first\r\nfrom: A <a@example.com>\r\nTo: b@example.com,\r\n   "
      "c@example.com\r\nCC: d\r\nBcc: e\r\nDate: Sun, 12 Dec 2010\r\nReturn-Path: <r@example.com>"
      "\r\nSubject: second\r\n",
      "text\r\n");
  EXPECT_EQ(message.subject, "second");
  EXPECT_EQ(message.from, "A <a@example.com>");
  EXPECT_EQ(message.sender, message.from);
  EXPECT_EQ(message.to, "b@example.com, c@example.com");
  EXPECT_EQ(message.cc, "d");
  EXPECT_EQ(message.bcc, "e");
  EXPECT_EQ(message.date, "Sun, 12 Dec 2010");
  EXPECT_EQ(message.returnPath, "<r@example.com>");
  EXPECT_EQ(message.text(), "text\r\n");
  EXPECT_FALSE(message.isReceived);
  EXPECT_FALSE(message.html);

  // The sender falls back either way.
  EXPECT_EQ(Convert("From: a@example.com\r\n", "x\r\n").returnPath, "a@example.com");
  const ConvertedMessage only_return = Convert("Return-Path: <r@example.com>\r\n", "x\r\n");
  EXPECT_EQ(only_return.from, "<r@example.com>");
  EXPECT_EQ(only_return.sender, "<r@example.com>");
}

TEST(EudoraConversion, AttachmentLists) {
  struct Case {
    const char* what;
    std::string headers, body;
    std::string text;
    std::vector<std::string> attachments;
    std::size_t dropped = 0;
  };
  const Case cases[] = {
      // The marker begins at the line feed, so the CR before it stays with the text. An empty
      // name is left out; a name at the very end with no blank or line end after it is not taken.
      {"converted attachments",
       "Received: from x\r\n",
       "See the files.\r\n\r\nAttachment Converted: \"C:\\Eudora\\Attach\\a report.doc\"\r\n"
       "Attachment Converted: C:\\Eudora\\Attach\\b.xls\r\n"
       "Attachment Converted:   \t\"\"\r\n"
       "Attachment Converted: C:\\Eudora\\Attach\\last.txt",
       "See the files.\r\n\r",
       {"C:\\Eudora\\Attach\\a report.doc", "C:\\Eudora\\Attach\\b.xls"}},
      {"text after the first attachment line is counted; an unclosed quote ends the search",
       "",
       "Top\r\nAttachment Converted: \"a.doc\"\r\nMore text\r\nAttachment Converted: \"b\r\n",
       "Top\r",
       {"a.doc"},
       std::string("More text\r\n").size()},
      {"outgoing list",
       "X-Attachments: C:\\a.doc; C:\\b.doc\r\n",
       "x\r\n",
       "x\r\n",
       {"C:\\a.doc", "C:\\b.doc"}},
      {"one name with a blank",
       "X-Attachments: C:\\one file.doc\r\n",
       "x\r\n",
       "x\r\n",
       {"C:\\one file.doc"}},
      {"empty entries", "X-Attachments: a.doc;;  b.doc;\r\n", "x\r\n", "x\r\n", {"a.doc", "b.doc"}},
      {"folded, any case",
       "x-attachments: a.doc;\r\n b.doc\r\n",
       "x\r\n",
       "x\r\n",
       {"a.doc", "b.doc"}},
      {"received mail has no outgoing list",
       "X-Attachments: a.doc\r\nReceived: from x\r\n",
       "x\r\n",
       "x\r\n",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ConvertedMessage message = Convert(c.headers, c.body);
    EXPECT_EQ(message.text(), c.text);
    EXPECT_EQ(message.attachments, c.attachments);
    EXPECT_EQ(message.droppedTextBytes, c.dropped);
  }
  // Without a body the last field's value runs to the end, so its line end unfolds to a blank.
  const ConvertedMessage bodiless = ConvertMessageText(
      Parsed(std::string(kSeparator) + "Subject: s\r\nX-Attachments: a.doc\r\n"), "Mail");
  EXPECT_EQ(bodiless.subject, "s");
  EXPECT_EQ(bodiless.text(), "");
  EXPECT_EQ(bodiless.attachments, std::vector<std::string>{"a.doc "});
}

TEST(EudoraConversion, HtmlPartIsCutOutOfTheText) {
  struct Case {
    const char* body;
    std::string text;
    std::optional<std::string> html;
  };
  const Case cases[] = {
      {"Before\r\n<x-html>\r\n<b>bold</b>\r\n</x-html>\r\nAfter\r\n", "Before\r\n\r\nAfter",
       "\r\n<b>bold</b>\r\n"},
      {"<X-HTML><p>open to the end\r\n", "", "<p>open to the end\r\n"},
      {"intro <html><body>x</body></html> tail", "intro  tail", "<html><body>x</body></html>"},
      {"<HTML>unclosed", "", "<HTML>unclosed</html>"},
      {"<x-html>a</x-html><html>b</html>", "<html>b</html>", "a"},
      {"no markup\r\n", "no markup\r\n", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const ConvertedMessage message = Convert("", c.body);
    EXPECT_EQ(message.text(), c.text);
    EXPECT_EQ(message.html, c.html);
  }
}

TEST(EudoraConversion, RichTextMarkerAndFolderNameHint) {
  EXPECT_TRUE(Convert("", "<x-rich>bold</x-rich>\r\n").rich);
  EXPECT_FALSE(Convert("", "<X-RICH>bold</X-RICH>\r\n").rich) << "only the exact marker";

  const std::pair<const char*, bool> with_received[] = {
      {"In", true}, {"in", true}, {"Out", false}, {"out", false}, {"OUT", true}, {"Mail", true}};
  for (const auto& [folder, received] : with_received) {
    EXPECT_EQ(Convert("Received: x\r\n", "b\r\n", folder).isReceived, received) << folder;
  }
  EXPECT_TRUE(Convert("", "b\r\n", "In").isReceived);
  EXPECT_FALSE(Convert("", "b\r\n", "Mail").isReceived);
}

}  // namespace
}  // namespace kv
