// The filter interface over the bus: the same answers as in-process, an interface that matches the
// repository's description (as gdbus reads it), and clients the project did not write (busctl,
// the README's Python example).

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "app/filter_classes.h"
#include "app/process_state.h"
#include "bus/bus_names.h"
#include "bus/bus_test_support.h"
#include "bus/remote_filter.h"
#include "bus/remote_session.h"
#include "bus/ui_agent_bus.h"
#include "support/temp_dir.h"

namespace kv::bus::testing {
namespace {

using kv::testing::ReadFile;

// Every answer of one object driven through all eleven methods without a store.
std::vector<std::string> Drive(ImportFilter& filter) {
  std::vector<std::string> answers;
  auto note = [&](const std::string& what, const auto& value) {
    std::ostringstream text;
    text << what << "=" << value;
    answers.push_back(text.str());
  };
  filter.SetParent(0);
  note("GetName", filter.GetName());
  note("GetType", filter.GetType());
  note("IsEnableSetPath", filter.IsEnableSetPath());
  for (std::string path : {"", "!!!NextFolder", "!!!nextfolder", "C:\\Mail", "Grüße"}) {
    filter.SetPath(path);
    note("SetPath", path);
  }
  note("IsSystemFound", filter.IsSystemFound());
  note("GoFirst", filter.GoFirst());
  note("GoNext", filter.GoNext());
  note("GetItemStatus", filter.GetItemStatus());
  note("GetItemExStatus", filter.GetItemExStatus());
  for (std::int16_t code : {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 20, 21, 22, 30, 31, 40, 600, 600, -1}) {
    // A filter that makes its temporary file when it is created names it before any item; each
    // object has its own unique name, so only its form is compared.
    static const std::regex unique_name(R"re([0-9A-F]+\.TMP$)re");
    note("GetSubItem " + std::to_string(code),
         std::regex_replace(filter.GetSubItem(code).value_or("(null)"), unique_name, "#.TMP"));
  }
  note("GetType", filter.GetType());
  return answers;
}

class FilterOverTheBus : public ::testing::TestWithParam<FilterClass> {};

TEST_P(FilterOverTheBus, TheElevenMethodsAnswerAsInProcess) {
  ASSERT_TRUE(Register());
  // In-process, over the services the server gives its objects, with every dialog cancelled as
  // the server cancels it while no user-interface agent is known.
  ResetProcessState();
  ui::ScriptedUserInterface ui;
  ui.set_report_unanswered(false);
  ServerServices local(ui);
  std::vector<std::string> expected = Drive(*GetParam().create(local.services));

  Client client;
  RemoteImportFilter remote(client.connection(), std::string(GetParam().prog_id));
  EXPECT_EQ(Drive(remote), expected);
  EXPECT_EQ(remote.failure(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(AllClasses, FilterOverTheBus,
                         ::testing::ValuesIn(FilterClasses().begin(), FilterClasses().end()),
                         [](const auto& info) { return std::string(info.param.short_name); });

// "Interface.Member(in types)->(out types)" for each method and signal of our interfaces in
// introspection XML. A member's arguments follow it up to the next member or interface.
std::set<std::string> Members(const std::string& xml) {
  std::set<std::string> members;
  std::string interface, member, in, out;
  auto finish = [&] {
    if (!member.empty() && interface.starts_with("org.kvnorvale.")) {
      members.insert(interface + "." + member + "(" + in + ")->(" + out + ")");
    }
    member = in = out = "";
  };
  static const std::regex tag_re(R"re(<(interface|method|signal|arg)\b([^>]*)>)re");
  static const std::regex name_re(R"re( name="([^"]*)")re"), type_re(R"re( type="([^"]*)")re");
  for (std::sregex_iterator tag(xml.begin(), xml.end(), tag_re), end; tag != end; ++tag) {
    const std::string kind = (*tag)[1], attributes = (*tag)[2];
    std::smatch value;
    if (kind == "arg") {
      std::regex_search(attributes, value, type_re);
      (attributes.find(R"( direction="out")") != std::string::npos ? out : in) += value[1];
      continue;
    }
    finish();
    std::regex_search(attributes, value, name_re);
    (kind == "interface" ? interface : member) = value[1];
  }
  finish();
  return members;
}

std::set<std::string> Introspect(const std::string& destination, const std::string& path) {
  ProgramResult result = RunProgram(
      {"gdbus", "introspect", "--session", "--xml", "--dest", destination, "--object-path", path});
  EXPECT_EQ(result.status, 0) << result.err;
  return Members(result.out);
}

TEST(InterfaceDescription, TheServersObjectsMatchTheRepositorysXml) {
  ASSERT_TRUE(Register());
  std::set<std::string> expected =
      Members(ReadFile(std::string(KV_SOURCE_DIR) + "/bus/org.kvnorvale.Kvfltrs.xml"));
  ASSERT_TRUE(expected.contains("org.kvnorvale.Kvfltrs.ImportFilter.GetSubItem(n)->(s)"));
  ASSERT_TRUE(expected.contains("org.kvnorvale.Kvfltrs.ImportFilter.SetPath(s)->(s)"));

  // The factory, an object (every class's objects are made alike) and a host's agent.
  ui::ScriptedUserInterface front;
  ServerServices host_services(front);
  RemoteSession host("KVFLTRS.OEIMPORTMSG", {}, front, 1, host_services.diagnostics,
                     host_services.code_page);
  std::set<std::string> served = Introspect(kServiceName, kFactoryPath);
  served.merge(Introspect(host.filter().server(), host.filter().path()));
  served.merge(Introspect(host.connection().getUniqueName(), UiAgentObject::kDefaultPath));
  EXPECT_EQ(served, expected);
}

TEST(ForeignClients, BusctlAndTheReadmesPythonExampleCallTheServer) {
  ASSERT_TRUE(Register());
  ProgramResult refused = RunProgram({"busctl", "--user", "call", kServiceName, kFactoryPath,
                                      kFactoryInterface, "CreateInstance", "s", "KVFLTRS.NONE"});
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("KVFLTRS.NONE"), std::string::npos) << refused.err;

  // The example a reader of the README copies must work as it stands.
  const std::string python = "/usr/bin/python3";
  if (RunProgram({python, "-c", "import dbus"}).status != 0) {
    GTEST_SKIP() << "python3-dbus is not installed";
  }
  // The first python block after its heading.
  const std::string readme = ReadFile(std::string(KV_SOURCE_DIR) + "/README.md"), fence = "```";
  const auto start = readme.find(fence + "python\n", readme.find("## The server on the D-Bus"));
  ASSERT_NE(start, std::string::npos);
  const auto code = start + fence.size() + 7;
  ProgramResult run =
      RunProgram({python, "-c", readme.substr(code, readme.find(fence, code) - code)});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Microsoft Outlook Express 4 2 0\n");
}

}  // namespace
}  // namespace kv::bus::testing
