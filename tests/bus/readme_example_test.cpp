// The README's Python example, run as it stands against the server: the example a reader copies
// must work.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "bus/bus_test_support.h"

namespace kv::bus::testing {
namespace {

constexpr const char* kSystemPython = "/usr/bin/python3";

// The first ```python block after `heading` in the README.
std::string PythonExample(const std::string& heading) {
  std::ifstream file(std::string(KV_SOURCE_DIR) + "/README.md");
  std::stringstream text;
  text << file.rdbuf();
  std::string readme = text.str();
  std::string::size_type section = readme.find(heading);
  if (section == std::string::npos) return "";
  std::string::size_type start = readme.find("```python\n", section);
  if (start == std::string::npos) return "";
  start += std::string("```python\n").size();
  std::string::size_type end = readme.find("```", start);
  return end == std::string::npos ? "" : readme.substr(start, end - start);
}

TEST(ReadmeExample, PythonCreatesAFilterOverTheBus) {
  if (RunProgram({kSystemPython, "-c", "import dbus"}).status != 0) {
    GTEST_SKIP() << "python3-dbus is not installed";
  }
  std::string example = PythonExample("## The server on the D-Bus session bus");
  ASSERT_FALSE(example.empty());
  ASSERT_EQ(RunProgram({KvfltrsPath()}).status, 0);
  ProgramResult run = RunProgram({kSystemPython, "-c", example});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Microsoft Outlook Express 4 2 0\n");
}

}  // namespace
}  // namespace kv::bus::testing
