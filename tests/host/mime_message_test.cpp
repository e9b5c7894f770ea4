// Whole MIME messages rebuilt from the pieces a filter hands over, read back with Python's email
// package: the same header values, body, HTML part and attachment bytes, in the expected
// structure; and the small rules under it (charsets, embedded image lines, their references).

#include "host/mime_message.h"

#include <gtest/gtest.h>

#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_file_system.h"
#include "support/golden.h"
#include "support/python_email.h"
#include "support/transcript.h"

namespace kv::host {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using kv::testing::ParseWithPython;
using kv::testing::ReadFile;

class MimeMessageTest : public ::testing::Test {
 protected:
  MimeMessageTest() {
    fs::create_directories(root.path() / "store" / "ATTACH");
    fs::create_directories(root.path() / "store" / "embedded");
    fs::create_directories(root.path() / "drive-d" / "Mail");
  }

  // A file the filter wrote into its temporary folder.
  std::string Temp(const std::string& name, const std::string& bytes) {
    return root.Write("tmp/" + name, bytes).string();
  }

  Json Build(const MessageParts& parts) {
    const fs::path output = root.path() / "message.eml";
    result = WriteMimeMessage(parts, finder, MimeBuildOptions{"windows-1252", &code_page}, output);
    EXPECT_TRUE(result.written) << result.error;
    Json parsed = ParseWithPython(output);
    if (!parsed.is_null()) {
      EXPECT_EQ(parsed["defects"], Json::array()) << ReadFile(output);
    }
    return parsed;
  }

  kv::testing::TempDir root;
  platform::IconvCodePage code_page{"WINDOWS-1252"};
  platform::PosixFileSystem files{platform::PosixFileSystem::Options{
      {{'D', (root.path() / "drive-d").string()}}, "WINDOWS-1252"}};
  AttachmentFinder finder{files, code_page, root.path() / "store"};
  MimeBuildResult result;
};

TEST_F(MimeMessageTest, EveryPieceComesBackFromAMailLibrary) {
  const std::string body =
      "Hello Zo\xEB,\r\n\r\nsee the picture.\r\n\r\n"
      "Embedded Content: logo.gif: 00000001,277bfd3a,00000000,00000000\r\n"
      "Embedded Content: Loose Picture.jpg: 00000001,00000bad,00000000,00000000"
      "\r\n\r";
  const std::string html =
      "\r\n<html><body><img src=\"cid:part1.08010409.03060503@arlut.utexas.edu\""
      ">\r\n<p>Caf\xC3\xA9</p></body></html>\r\n\r\n";
  const std::string logo = std::string("GIF89a\x01\x00\x00\x0d\x0a", 11);
  const std::string loose = std::string("\xFF\xD8\xFF\x00jpeg\r\n", 9);
  const std::string report = std::string("report\r\nwith \x00 and lone \n", 24);
  const std::string sheet = "a;b\n1;2\n";
  root.Write("store/embedded/LOGO.GIF", logo);
  root.Write("store/embedded/Loose Picture.jpg", loose);
  root.Write("drive-d/Mail/report.doc", report);
  root.Write("store/ATTACH/Sheet.csv", sheet);

  MessageParts parts;
  parts.from = "Zo\xC3\xAB Mart\xC3\xADn <zoe@example.com>";
  parts.sender = parts.from;
  parts.to =
      "Ada Reader <ada@example.org>, \"Team, all\" <team@example.com>, b@example.com, "
      "c@example.com, d@example.com";
  parts.cc = "=?iso-8859-1?Q?Zo=EB?= <z@example.com>";
  parts.bcc = "ada@example.org";
  parts.subject = "Caf\xC3\xA9 and =?utf-8?B?8J+Ngw==?= on Friday";
  parts.date = "Tue, 3 Aug 1999 09:12:31 +0200";
  parts.return_path = "<zoe@example.com>";
  parts.body_file = Temp("body.TMP", body);
  parts.html_file = Temp("text.htm", html);
  parts.rich_file = Temp("text.msg", "<x-rich>styled</x-rich>");
  parts.attachments = {"D:\\Mail\\report.doc",
                       "c:\\eudora\\attach\\sheet.csv ",
                       "C:\\Eudora\\Attach\\lost.doc",
                       parts.html_file,
                       parts.rich_file,
                       "D:\\Mail\\report.doc"};
  const Json parsed = Build(parts);
  if (parsed.is_null()) GTEST_SKIP() << "python3 is not installed";

  EXPECT_EQ(parsed["raw_headers"]["date"], parts.date);
  EXPECT_FALSE(parsed["headers"].contains("sender")) << "the same as From";
  EXPECT_EQ(result.missing, std::vector<std::string>{"C:\\Eudora\\Attach\\lost.doc"});
  kv::testing::ExpectGolden(kv::testing::DescribedMessage(parsed), "host/mime-every-piece.txt");
}

// Texts without attachments: the charset each needs, HTML alone when the text is blank, both as
// alternatives otherwise. A text that is the whole message ends with a line end, as every line of
// a message does; lone line feeds become CR LF at every offset within an eight-byte word. A
// subject the store held in UTF-8 (handed over as Windows-1252 text turned into UTF-8, "Ã©")
// comes back as UTF-8.
TEST_F(MimeMessageTest, SimpleShapes) {
  const std::tuple<std::string, std::optional<std::string>, std::string> cases[] = {
      {"Just text.\r\n", std::nullopt, ""},                // plain ASCII
      {"\xE3\x81\x93\xE3\x82\x93\r\n", std::nullopt, ""},  // UTF-8
      {"", std::nullopt, ""},
      {" \r\n", "<p>only html</p>", ""},
      {"text", "<p>html</p>", ""},
      {"1\n12\r\n123\r\n1234567\r\n12345678\n\r\nabcdefghijklmnop\nend", std::nullopt, ""},
      {"x", std::nullopt, code_page.ToUtf8("Caf\xC3\xA9")},
  };
  std::string text;
  for (const auto& [body, html, subject] : cases) {
    MessageParts parts;
    parts.subject = subject;
    parts.body_file = Temp("body.TMP", body);
    if (html) parts.html_file = Temp("text.htm", *html);
    const Json parsed = Build(parts);
    if (parsed.is_null()) GTEST_SKIP() << "python3 is not installed";
    text += "---\n" + kv::testing::DescribedMessage(parsed);
    EXPECT_TRUE(result.missing.empty());
  }
  kv::testing::ExpectGolden(text, "host/mime-simple-shapes.txt");
}

TEST_F(MimeMessageTest, UnreadableBodyAndMissingImagesAreNamed) {
  MessageParts parts;
  parts.body_file = "/nonexistent/body.TMP";
  parts.html_file = Temp("text.htm", "<img src=\"cid:gone@x\">");
  const fs::path output = root.path() / "m.eml";
  result = WriteMimeMessage(parts, finder, {}, output);
  ASSERT_TRUE(result.written);
  EXPECT_EQ(result.missing, std::vector<std::string>{"/nonexistent/body.TMP"});
  EXPECT_NE(ReadFile(output).find("/nonexistent/body.TMP"), std::string::npos);

  result = WriteMimeMessage(parts, finder, {}, root.path() / "missing-folder" / "m.eml");
  EXPECT_FALSE(result.written);
  EXPECT_FALSE(result.error.empty());
}

TEST(MimeRules, CharsetsAndEmbeddedImageLines) {
  EXPECT_EQ(MimeCharsetName("WINDOWS-1252"), "windows-1252");
  EXPECT_EQ(MimeCharsetName("CP1250"), "windows-1250");
  EXPECT_EQ(MimeCharsetName("ISO-8859-15"), "iso-8859-15");
  EXPECT_EQ(TextCharset("\xED\xA0\x80", "koi8-r"), "koi8-r") << "a surrogate is no UTF-8";
  EXPECT_EQ(TextCharset("\xC0\xAF", "koi8-r"), "koi8-r") << "an overlong form is no UTF-8";

  // The reference of a real Eudora store's embedded image (the other: EveryPieceComesBack...).
  EXPECT_EQ(ContentIdReference("merged_girl.jpg"), 0x586425e8u);

  const std::vector<EmbeddedContent> lines = EmbeddedContentLines(
      "text\r\nEmbedded Content: Appointment reminder from Austi.jpg: "
      "00000001,586425e8,00000000,00000000\r\n Embedded Content: not at the start: 1,2\r\n"
      "Embedded Content: a: b.gif: 00000001,0000000f\nEmbedded Content: no numbers");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].name, "Appointment reminder from Austi.jpg");
  EXPECT_EQ(lines[0].reference, 0x586425e8u);
  EXPECT_EQ(lines[1].name, "a: b.gif");
  EXPECT_EQ(lines[1].reference, 15u);
}

}  // namespace
}  // namespace kv::host
