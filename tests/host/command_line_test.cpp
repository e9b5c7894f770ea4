#include "host/command_line.h"

#include <gtest/gtest.h>

namespace kv::host {
namespace {

ParseResult Parse(std::initializer_list<std::string_view> args) {
  std::vector<std::string_view> list(args);
  return ParseCommandLine(list);
}

TEST(CommandLineTest, ImportWithEveryOption) {
  ParseResult parsed =
      Parse({"import", "--filter=oe4", "--store", "/s", "--to", "maildir:/out", "--start",
             "Inbox/Old", "--keep-empty", "--append", "--quiet", "--code-page=CP1250", "--drive",
             "c=/mnt/c", "--inbox", "Posteingang", "--ui", "script"});
  ASSERT_TRUE(parsed.command_line) << parsed.error;
  const CommandLine& line = *parsed.command_line;
  EXPECT_EQ(line.command, Command::kImport);
  EXPECT_EQ(line.filter, "oe4");
  EXPECT_EQ(line.store, "/s");
  EXPECT_EQ(line.destination->kind, DestinationKind::kMaildir);
  EXPECT_EQ(line.destination->path, "/out");
  EXPECT_EQ(line.start, "Inbox/Old");
  EXPECT_TRUE(line.keep_empty && line.append && line.quiet);
  EXPECT_EQ(line.code_page, "CP1250");
  ASSERT_EQ(line.drives.size(), 1u);
  EXPECT_EQ(line.drives[0], (std::pair<char, std::string>{'C', "/mnt/c"}));
  EXPECT_EQ(line.inbox, "Posteingang");
  EXPECT_EQ(line.ui, UiMode::kScript);
}

TEST(CommandLineTest, DefaultsAndHelp) {
  ParseResult list = Parse({"list", "--filter", "eudora", "--store", "x"});
  ASSERT_TRUE(list.command_line);
  EXPECT_EQ(list.command_line->code_page, "WINDOWS-1252");
  EXPECT_EQ(list.command_line->inbox, "Inbox");
  EXPECT_FALSE(list.command_line->ui.has_value());
  EXPECT_EQ(Parse({"import", "--help"}).command_line->command, Command::kHelp);
}

TEST(CommandLineTest, ErrorsNameTheProblem) {
  EXPECT_NE(Parse({"list", "--filter"}).error.find("--filter needs a value"), std::string::npos);
  EXPECT_NE(Parse({"list", "--quiet=yes", "--filter", "oe4"}).error.find("takes no value"),
            std::string::npos);
  EXPECT_NE(Parse({"import", "--filter", "oe4", "--store", "x", "--to", "maildir:"})
                .error.find("--to must be"),
            std::string::npos);
  EXPECT_NE(Parse({"list", "--filter", "oe6"}).error.find("unknown filter"), std::string::npos);
}

TEST(CommandLineTest, Destinations) {
  EXPECT_EQ(ParseDestination("maildir:~/Mail")->kind, DestinationKind::kMaildir);
  EXPECT_EQ(ParseDestination("eml:a:b")->path, "a:b");
  EXPECT_FALSE(ParseDestination("Maildir:x"));
  EXPECT_FALSE(ParseDestination("/plain/path"));
}

}  // namespace
}  // namespace kv::host
