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

std::vector<std::pair<std::string, std::string>> Fields(const MessageFile& message) {
  std::vector<std::pair<std::string, std::string>> fields;
  for (const HeaderField& field : message.headers()) {
    fields.emplace_back(field.fieldName, field.fieldValue);
  }
  return fields;
}

using FieldList = std::vector<std::pair<std::string, std::string>>;

TEST(EudoraMessageFile, FieldsRunToTheLineBeforeTheNextFieldAndTheBodyFollowsTheEmptyLine) {
  const MessageFile message =
      Parsed(std::string(kSeparator) +
             "Subject: one\r\n\tfolded\r\nX-Mailer2: not a field\r\n:empty name\r\n"
             "X_Under-score:x\r\n\r\nBody: not a field\r\n");
  EXPECT_EQ(Fields(message), (FieldList{{"Subject", " one\r\n\tfolded\r\nX-Mailer2: not a field"},
                                        {"", "empty name"},
                                        {"X_Under-score", "x"}}));
  ASSERT_TRUE(message.body());
  EXPECT_EQ(*message.body(), "Body: not a field\r\n");
}

TEST(EudoraMessageFile, WhereTheBodyStarts) {
  struct Case {
    const char* content;
    std::optional<std::string> body;
    FieldList fields;
  };
  const Case cases[] = {
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
    EXPECT_EQ(Fields(message), c.fields);
  }
}

TEST(EudoraMessageFile, TextEndsAtTheFirstNul) {
  const std::string content = std::string("To: a\r\n\r\nbody") + '\0' + "lost\r\n";
  const MessageFile message = Parsed(content);
  EXPECT_EQ(message.nulOffset(), std::optional<std::size_t>(13));
  EXPECT_EQ(message.contentSize(), content.size());
  EXPECT_EQ(message.body(), std::optional<std::string_view>("body"));
}

TEST(EudoraMessageFile, FieldsPastTheThousandthAreCountedNotRecognised) {
  std::string content;
  for (int i = 0; i < 1003; ++i) content += "Received: " + std::to_string(i) + "\r\n";
  content += "\r\nbody\r\n";
  const MessageFile message = Parsed(content);
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
  EXPECT_EQ(message.text, "text\r\n");
  EXPECT_FALSE(message.isReceived);
  EXPECT_FALSE(message.html);
}

TEST(EudoraConversion, SenderFallsBackEitherWay) {
  const ConvertedMessage only_from = Convert("From: a@example.com\r\n", "x\r\n");
  EXPECT_EQ(only_from.returnPath, "a@example.com");
  const ConvertedMessage only_return = Convert("Return-Path: <r@example.com>\r\n", "x\r\n");
  EXPECT_EQ(only_return.from, "<r@example.com>");
  EXPECT_EQ(only_return.sender, "<r@example.com>");
}

TEST(EudoraConversion, AttachmentLinesEndTheTextAndNameTheFiles) {
  const ConvertedMessage message =
      Convert("Received: from x\r\n",
              "See the files.\r\n\r\nAttachment Converted: \"C:\\Eudora\\Attach\\a report.doc\"\r\n"
              "Attachment Converted: C:\\Eudora\\Attach\\b.xls\r\n"
              "Attachment Converted:   \t\"\"\r\n"
              "Attachment Converted: C:\\Eudora\\Attach\\last.txt");
  // The marker begins at the line feed, so the CR before it stays with the text.
  EXPECT_EQ(message.text, "See the files.\r\n\r");
  EXPECT_EQ(message.attachments, (std::vector<std::string>{"C:\\Eudora\\Attach\\a report.doc",
                                                           "C:\\Eudora\\Attach\\b.xls"}))
      << "an empty name is left out; a name at the very end with no blank or line end after it "
         "is not collected";
  EXPECT_EQ(message.droppedTextBytes, 0u);
  EXPECT_TRUE(message.isReceived);
}

TEST(EudoraConversion, TextAfterTheFirstAttachmentLineIsCounted) {
  const ConvertedMessage message = Convert(
      "", "Top\r\nAttachment Converted: \"a.doc\"\r\nMore text\r\nAttachment Converted: \"b\r\n");
  EXPECT_EQ(message.text, "Top\r");
  EXPECT_EQ(message.attachments, std::vector<std::string>{"a.doc"})
      << "a quote that is never closed ends the search";
  EXPECT_EQ(message.droppedTextBytes, std::string("More text\r\n").size());
}

TEST(EudoraConversion, NoBodyNoAttachmentLinesButHeaderFields) {
  const ConvertedMessage message = ConvertMessageText(
      Parsed(std::string(kSeparator) + "Subject: s\r\nX-Attachments: a.doc\r\n"), "Mail");
  EXPECT_EQ(message.subject, "s");
  EXPECT_EQ(message.text, "");
  // The last field's value runs to the end of the text, so its line end unfolds to a blank.
  EXPECT_EQ(message.attachments, std::vector<std::string>{"a.doc "});
}

TEST(EudoraConversion, OutgoingAttachmentList) {
  struct Case {
    const char* headers;
    std::vector<std::string> attachments;
  };
  const Case cases[] = {
      {"X-Attachments: C:\\a.doc; C:\\b.doc\r\n", {"C:\\a.doc", "C:\\b.doc"}},
      {"X-Attachments: C:\\one file.doc\r\n", {"C:\\one file.doc"}},
      {"X-Attachments: a.doc;;  b.doc;\r\n", {"a.doc", "b.doc"}},
      {"x-attachments: a.doc;\r\n b.doc\r\n", {"a.doc", "b.doc"}},
      {"X-Attachments: a.doc\r\nReceived: from x\r\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    EXPECT_EQ(Convert(c.headers, "x\r\n").attachments, c.attachments);
  }
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
    EXPECT_EQ(message.text, c.text);
    EXPECT_EQ(message.html, c.html);
  }
}

TEST(EudoraConversion, RichTextIsRecognisedByItsExactMarker) {
  EXPECT_TRUE(Convert("", "<x-rich>bold</x-rich>\r\n").rich);
  EXPECT_FALSE(Convert("", "<X-RICH>bold</X-RICH>\r\n").rich);
}

TEST(EudoraConversion, FolderNameOverridesTheReceivedField) {
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
