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
  // (The defaults and the old disk's options: in every kvimport run of kvimport_cli_test and
  // old_disk_test.)
  EXPECT_EQ(Parse({"import", "--help"}).command_line->command, Command::kHelp);
}

// Unknown commands and options, missing or malformed values, options that do not go together.
TEST(CommandLineTest, ErrorsNameTheProblem) {
  const std::pair<std::vector<std::string_view>, const char*> cases[] = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command \"frobnicate\""},
      {{"list", "--filter"}, "--filter needs a value"},
      {{"list", "--quiet=yes", "--filter", "oe4"}, "takes no value"},
      {{"list", "--filter", "oe6"}, "unknown filter"},
      {{"list", "-f", "oe4", "-s", "x", "--bogus"}, "unknown option \"--bogus\""},
      {{"list", "-f", "oe4", "-s", "x", "--drive", "C"}, "--drive must look like C=/path"},
      {{"list", "-f", "oe4", "-s", "x", "--append"}, "--append belongs to import"},
      {{"list", "-f", "oe4", "--ui", "tty", "-s", "x"}, "are answered in the dialogs"},
      {{"import", "-f", "oe4", "-s", "x"}, "--to is required"},
      {{"import", "-f", "oe4", "-s", "x", "-t", "maildir:"}, "--to must be"},
      {{"import", "-f", "oe4", "-s", "x", "-t", "mbox:y", "--inbox", "I"}, "--inbox belongs to"},
      {{"list", "-f", "oe4", "-s", "x", "--inbox", "I"}, "--inbox belongs to"},
      {{"detect"}, "detect needs --disk DIR or --registry FILE"},
      {{"detect", "--disk", "d", "--to", "eml:x"}, "detect takes no --to"},
      {{"detect", "--disk", "d", "--filter", "pine"}, "unknown filter"},
      {{"list", "-f", "oe4", "-s", "x", "--json"}, "--json belongs to detect"},
      {{"list", "-f", "oe4", "-s", "x", "--user", "bob"}, "--user belongs to --disk"},
      {{"list", "-f", "oe4", "--registry", "r", "--disk", "d"}, "exclude each other"},
      {{"list", "-f", "oe4", "--disk="}, "--disk needs a value"},
  };
  for (const auto& [args, says] : cases) {
    ParseResult parsed = ParseCommandLine(args);
    EXPECT_FALSE(parsed.command_line) << says;
    EXPECT_NE(parsed.error.find(says), std::string::npos) << parsed.error;
  }
}

TEST(CommandLineTest, Destinations) {
  EXPECT_EQ(ParseDestination("maildir:~/Mail")->kind, DestinationKind::kMaildir);
  EXPECT_EQ(ParseDestination("eml:a:b")->path, "a:b");
  EXPECT_FALSE(ParseDestination("Maildir:x"));
  EXPECT_FALSE(ParseDestination("/plain/path"));
}

}  // namespace
}  // namespace kv::host
