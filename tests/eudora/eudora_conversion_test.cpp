// Taking one message apart: the header table, unfolding, the attachment lists, the HTML and rich
// text cuts, the folder hint and the sender fallback. What each message gives is in
// tests/golden/eudora/conversion.txt.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eudora/eudora_message.h"
#include "eudora_fixture.h"
#include "support/golden.h"

namespace kv::testing {
namespace {

constexpr const char* kSeparator = "From ???@??? Mon Dec 13 18:45:29 2010\r\n";

MessageFile Parsed(const std::string& content) {
  MessageFile message;
  message.SetContent(content);
  return message;
}

// A mailbox message: the separator line, the header block, an empty line and the body.
std::string Message(const std::string& headers, const std::string& body) {
  return kSeparator + headers + "\r\n" + body;
}

// What the parse finds (each field, the body, where a NUL cut the text) and what the conversion
// gives (every value that is not empty, the text, the HTML part, the attachments, the flags).
std::string Render(const std::string& content, const char* folder) {
  const MessageFile message = Parsed(content);
  std::string text;
  for (const HeaderField& field : message.headers()) {
    text += "field " + std::string(field.fieldName) + ":" + Escaped(field.fieldValue) + "\n";
  }
  if (message.body()) text += "body:\n" + Escaped(*message.body(), "    ");
  if (message.nulOffset()) {
    text += "NUL at " + std::to_string(*message.nulOffset()) + " of " +
            std::to_string(message.contentSize()) + " bytes\n";
  }
  const ConvertedMessage converted = ConvertMessageText(message, folder);
  const std::pair<const char*, const std::string*> values[] = {
      {"from", &converted.from}, {"sender", &converted.sender},
      {"to", &converted.to},     {"cc", &converted.cc},
      {"bcc", &converted.bcc},   {"subject", &converted.subject},
      {"date", &converted.date}, {"return-path", &converted.returnPath}};
  for (const auto& [name, value] : values) {
    if (!value->empty()) text += "-> " + std::string(name) + ": " + Escaped(*value) + "\n";
  }
  if (!converted.text().empty()) text += "-> text:\n" + Escaped(converted.text(), "    ");
  if (converted.html) text += "-> html:\n" + Escaped(*converted.html, "    ");
  for (const std::string& path : converted.attachments)
    text += "-> attachment: " + Escaped(path) + "\n";
  if (converted.droppedTextBytes) {
    text += "-> dropped text bytes: " + std::to_string(converted.droppedTextBytes) + "\n";
  }
  if (converted.rich) text += "-> rich\n";
  if (converted.isReceived) text += "-> received\n";
  return text;
}

TEST(EudoraConversion, MessagesComeApartIntoTheirValues) {
  struct Case {
    std::string what, content, folder = "Mail";
  };
  std::vector<Case> cases = {
      // A field runs to the line before the next field; the body follows the empty line.
      {"fields and body",
       std::string(kSeparator) +
           "Subject: one\r\n\tfolded\r\nX-Mailer2: not a field\r\n:empty name\r\n"
           "X_Under-score:x\r\n\r\nBody: not a field\r\n"},
      {"no empty line", "Subject: a\r\nTo: b\r\n"},
      // One character after the empty line is no body; the empty line stays in the last value.
      {"one character after the empty line", "To: b\r\n\r\nx"},
      {"two characters after the empty line", "To: b\r\n\r\nxy"},
      {"nothing after the empty line", "To: b\r\n\r\n"},
      {"empty", ""},
      // Line ends without CR: the value loses its last character in place of the CR.
      {"line feeds alone", "To: bc\nCc: d\n"},
      {"text ends at the first NUL", std::string("To: a\r\n\r\nbody") + '\0' + "lost\r\n"},
      // Values are trimmed and unfolded, names matched without case; the last field of a name wins.
      {"header values",
       Message("SUBJECT:   first\r\nfrom: A <a@example.com>\r\nTo: b@example.com,\r\n   "
               "c@example.com\r\nCC: d\r\nBcc: e\r\nDate: Sun, 12 Dec 2010\r\nReturn-Path: "
               "<r@example.com>\r\nSubject: second\r\n",
               "text\r\n")},
      // The sender falls back either way.
      {"From alone", Message("From: a@example.com\r\n", "x\r\n")},
      {"Return-Path alone", Message("Return-Path: <r@example.com>\r\n", "x\r\n")},
      // The marker begins at the line feed, so the CR before it stays with the text. An empty
      // name is left out; a name at the very end with no blank or line end after it is not taken.
      {"converted attachments",
       Message("Received: from x\r\n",
               "See the files.\r\n\r\nAttachment Converted: \"C:\\Eudora\\Attach\\a report.doc\""
               "\r\nAttachment Converted: C:\\Eudora\\Attach\\b.xls\r\n"
               "Attachment Converted:   \t\"\"\r\n"
               "Attachment Converted: C:\\Eudora\\Attach\\last.txt")},
      {"text after the first attachment line is counted; an unclosed quote ends the search",
       Message("",
               "Top\r\nAttachment Converted: \"a.doc\"\r\nMore text\r\nAttachment Converted: "
               "\"b\r\n")},
      {"outgoing list", Message("X-Attachments: C:\\a.doc; C:\\b.doc\r\n", "x\r\n")},
      {"one name with a blank", Message("X-Attachments: C:\\one file.doc\r\n", "x\r\n")},
      {"empty entries", Message("X-Attachments: a.doc;;  b.doc;\r\n", "x\r\n")},
      {"folded, any case", Message("x-attachments: a.doc;\r\n b.doc\r\n", "x\r\n")},
      {"received mail has no outgoing list",
       Message("X-Attachments: a.doc\r\nReceived: from x\r\n", "x\r\n")},
      // Without a body the last field's value runs to the end, so its line end unfolds to a blank.
      {"no body", std::string(kSeparator) + "Subject: s\r\nX-Attachments: a.doc\r\n"},
      {"x-html part", Message("", "Before\r\n<x-html>\r\n<b>bold</b>\r\n</x-html>\r\nAfter\r\n")},
      {"x-html open to the end", Message("", "<X-HTML><p>open to the end\r\n")},
      {"html part", Message("", "intro <html><body>x</body></html> tail")},
      {"html unclosed", Message("", "<HTML>unclosed")},
      {"x-html before html", Message("", "<x-html>a</x-html><html>b</html>")},
      {"no markup", Message("", "no markup\r\n")},
      {"rich text", Message("", "<x-rich>bold</x-rich>\r\n")},
      {"only the exact rich marker", Message("", "<X-RICH>bold</X-RICH>\r\n")},
      {"no Received, in In", Message("", "b\r\n"), "In"},
      {"no Received, in Mail", Message("", "b\r\n"), "Mail"},
  };
  // The folder named "In" or "in" makes a message received, "Out" or "out" sent, whatever its
  // headers say.
  for (const char* folder : {"In", "in", "Out", "out", "OUT", "Mail"}) {
    cases.push_back(
        {std::string("Received, in ") + folder, Message("Received: x\r\n", "b\r\n"), folder});
  }
  std::string listing;
  for (const Case& c : cases) {
    listing += "== " + c.what + " (folder " + c.folder + ")\ncontent:\n" +
               Escaped(c.content, "    ") + Render(c.content, c.folder.c_str());
  }
  ExpectGolden(listing, "eudora/conversion.txt");
}

TEST(EudoraMessageFile, FieldsPastTheThousandthAreCounted) {
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

}  // namespace
}  // namespace kv::testing
