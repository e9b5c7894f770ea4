#include "host/mail_date.h"

#include <gtest/gtest.h>

#include "host/message_headers.h"

namespace kv::host {
namespace {

// 2003-06-02 15:01:02 UTC
constexpr std::int64_t kJune2 = 1054566062;

TEST(MailDateTest, ReadsTheCurrentAndObsoleteForms) {
  struct Case {
    const char* text;
    std::int64_t expected;
  };
  const Case cases[] = {
      {"Mon, 2 Jun 2003 08:01:02 -0700", kJune2},
      {"Mon, 02 Jun 2003 17:01:02 +0200 (CEST)", kJune2},
      {"2 Jun 2003 15:01:02 GMT", kJune2},
      {"Mon,2 Jun 2003 15:01:02 UT", kJune2},
      {"Mon, 2 Jun 03 11:01:02 EDT", kJune2},       // two-digit year, named zone
      {"Mon, 2 Jun 103 10:01:02 EST", kJune2},      // three-digit year
      {"Monday, 2 June 2003 8:01:02 PDT", kJune2},  // full names, one-digit hour
      {"Mon, 2-Jun-2003 15:01:02 +0000", kJune2},   // dashes
      {"Mon, 2 Jun 2003 15:01:02", kJune2},         // no zone: UTC
      {"Mon, 2 Jun 2003 15:01:02 MET", kJune2},     // unknown zone name: UTC
      {"Mon, 2 Jun 2003 15:01:02 Z", kJune2},
      {"Mon, 2 Jun 2003 20:31:02 +05:30", kJune2},
      {"Mon Jun  2 15:01:02 2003", kJune2},         // the C library's, and From_ lines' form
      {"Mon, 2 Jun 2003 15:01 +0000", kJune2 - 2},  // no seconds
      {" Mon, 2 (comment) Jun 2003 15:01:02 +0000", kJune2},
      {"Thu, 1 Jan 1970 00:00:00 +0000", 0},
      {"Tue, 29 Feb 2000 12:00:00 +0000", 951825600},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseMailDate(c.text), std::optional<std::int64_t>(c.expected)) << c.text;
  }
}

TEST(MailDateTest, RejectsGarbageAndFieldsOutOfRange) {
  for (const char* text :
       {"", "yesterday", "hello world 12:00", "Mon, 2 Jun 2003", "32 Jun 2003 10:00:00 +0000",
        "29 Feb 2001 10:00:00 +0000", "2 Foo 2003 10:00:00 +0000", "2 Jun 2003 24:00:00 +0000",
        "2 Jun 2003 10:60:00 +0000", "2 Jun 2003 10:00:00 +0099", "2 Jun 1800 10:00:00 +0000",
        "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20"}) {
    EXPECT_EQ(ParseMailDate(text), std::nullopt) << text;
  }
}

TEST(MessageTimeTest, DateFirstThenTheNewestReceivedDate) {
  MessageHeaders dated(
      "Received: from a by b; Tue, 3 Jun 2003 10:00:00 +0000\n"
      "Date: Mon, 2 Jun 2003 08:01:02 -0700\n\nbody\n");
  EXPECT_EQ(MessageTime(dated), kJune2);

  MessageHeaders undated(
      "Received: from a by b;\n Tue, 3 Jun 2003 10:00:00 +0000\n"
      "Received: from c (d; e) by f; Wed, 4 Jun 2003 10:00:00 +0000 (UTC)\n"
      "Received: from g by h; garbage\n"
      "Date: not a date\n\n");
  EXPECT_EQ(MessageTime(undated), 1054720800);

  EXPECT_EQ(MessageTime(MessageHeaders("Subject: none\n\nDate: Mon, 2 Jun 2003 08:01:02\n")),
            std::nullopt);
}

}  // namespace
}  // namespace kv::host
