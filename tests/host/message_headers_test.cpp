#include "host/message_headers.h"

#include <gtest/gtest.h>

namespace kv::host {
namespace {

TEST(MessageHeadersTest, UnfoldsAndStopsAtTheEmptyLine) {
  MessageHeaders headers(
      "Subject: first\r\n  second\r\n"
      "not a header line\r\n"
      "X-Two: 1\r\nx-two: 2\r\n"
      "\r\n"
      "From: body@example.com\r\n");
  EXPECT_EQ(headers.First("subject"), "first second");
  EXPECT_EQ(headers.Values("X-TWO"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(headers.First("From"), std::nullopt);
}

TEST(MessageHeadersTest, ExtractsTheAddress) {
  EXPECT_EQ(ExtractAddress("\"Doe, Jane\" <jane@example.com>"), "jane@example.com");
  EXPECT_EQ(ExtractAddress("jane@example.com (Jane Doe)"), "jane@example.com");
  EXPECT_EQ(ExtractAddress("Jane Doe jane@example.com"), "jane@example.com");
  EXPECT_EQ(ExtractAddress("<>"), "");
  EXPECT_EQ(ExtractAddress("local user"), "localuser");
}

TEST(MessageHeadersTest, EnvelopeSenderPrefersReturnPath) {
  EXPECT_EQ(EnvelopeSender(MessageHeaders("From: A <a@x>\nReturn-Path: <b@y>\n\n")), "b@y");
  EXPECT_EQ(EnvelopeSender(MessageHeaders("Return-Path: <>\nFrom: A <a@x>\n\n")), "a@x");
  EXPECT_EQ(EnvelopeSender(MessageHeaders("Subject: x\n\n")), "MAILER-DAEMON");
}

}  // namespace
}  // namespace kv::host
