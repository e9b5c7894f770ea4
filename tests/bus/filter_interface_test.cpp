// The filter interface over the bus: the same answers as in-process, an interface that matches the
// repository's description, and clients the project did not write.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

#include "app/filter_classes.h"
#include "app/process_state.h"
#include "bus/bus_names.h"
#include "bus/bus_test_support.h"
#include "bus/remote_filter.h"
#include "bus/ui_agent_bus.h"
#include "platform/posix/iconv_code_page.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_temp_files.h"
#include "platform/registry.h"
#include "ui/scripted_ui.h"

namespace kv {
// Test names show the class, not the table row's bytes.
void PrintTo(const FilterClass& filter_class, std::ostream* out) { *out << filter_class.prog_id; }
}  // namespace kv

namespace kv::bus::testing {
namespace {

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

class FilterOverTheBus : public ::testing::TestWithParam<FilterClass> {
 protected:
  void SetUp() override { ASSERT_EQ(RunProgram({KvfltrsPath()}).status, 0); }
  Client client;
};

TEST_P(FilterOverTheBus, TheElevenMethodsAnswerAsInProcess) {
  // In-process, over the services the server gives its objects, with every dialog cancelled as
  // the server cancels it while no user-interface agent is known.
  ResetProcessState();
  platform::IconvCodePage code_page;
  platform::PosixFileSystem files;
  platform::PosixTempFiles temp;
  platform::PosixEnvironment environment;
  platform::MemoryRegistry registry;
  ui::ScriptedUserInterface ui;
  ui.set_report_unanswered(false);
  platform::DiagnosticLog diagnostics;
  platform::Services services{registry, files, temp, environment, code_page, ui, diagnostics};
  std::unique_ptr<ImportFilter> local = GetParam().create(services);
  std::vector<std::string> expected = Drive(*local);

  RemoteImportFilter remote(client.connection(), std::string(GetParam().prog_id));
  EXPECT_EQ(Drive(remote), expected);
  EXPECT_EQ(remote.failure(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(AllClasses, FilterOverTheBus,
                         ::testing::ValuesIn(FilterClasses().begin(), FilterClasses().end()),
                         [](const auto& info) { return std::string(info.param.short_name); });

// "Interface.Member(in types)->(out types)" for each method and signal of the two server
// interfaces in introspection XML.
std::set<std::string> Members(const std::string& xml) {
  std::set<std::string> members;
  std::regex interface_re(R"re(<interface name="([^"]+)">([\s\S]*?)</interface>)re");
  std::regex member_re(R"re(<(method|signal) name="([^"]+)"\s*(/>|>([\s\S]*?)</\1>))re");
  std::regex arg_re(R"re(<arg\b([^>]*)/>)re");
  std::regex type_re(R"re(type="([^"]+)")re");
  std::regex direction_re(R"re(direction="([^"]+)")re");
  for (std::sregex_iterator i(xml.begin(), xml.end(), interface_re), end; i != end; ++i) {
    std::string interface = (*i)[1];
    if (!interface.starts_with("org.kvnorvale.")) continue;
    std::string body = (*i)[2];
    for (std::sregex_iterator m(body.begin(), body.end(), member_re); m != end; ++m) {
      std::string in, out, args = (*m)[4];
      for (std::sregex_iterator a(args.begin(), args.end(), arg_re); a != end; ++a) {
        std::string attributes = (*a)[1];
        std::smatch type, direction;
        std::regex_search(attributes, type, type_re);
        bool is_out =
            std::regex_search(attributes, direction, direction_re) && direction[1] == "out";
        (is_out ? out : in) += type[1];
      }
      members.insert(interface + "." + std::string((*m)[2]) + "(" + in + ")->(" + out + ")");
    }
  }
  return members;
}

std::string Introspect(const std::string& path) {
  ProgramResult result = RunProgram(
      {"gdbus", "introspect", "--session", "--xml", "--dest", kServiceName, "--object-path", path});
  EXPECT_EQ(result.status, 0) << result.err;
  return result.out;
}

TEST(InterfaceDescription, TheServersObjectsMatchTheRepositorysXml) {
  ASSERT_EQ(RunProgram({KvfltrsPath()}).status, 0);
  std::ifstream file(InterfaceFile());
  std::string described((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::set<std::string> expected = Members(described);
  ASSERT_TRUE(expected.contains("org.kvnorvale.Kvfltrs.ImportFilter.GetSubItem(n)->(s)"));
  ASSERT_TRUE(expected.contains("org.kvnorvale.Kvfltrs.ImportFilter.SetPath(s)->(s)"));

  Client client;
  std::set<std::string> served = Members(Introspect(kFactoryPath));
  for (const FilterClass& filter_class : FilterClasses()) {
    std::string path = client.CreateInstance(std::string(filter_class.prog_id));
    std::set<std::string> members = Members(Introspect(path));
    served.insert(members.begin(), members.end());
    client.Release(path);
  }
  // The agent interface, as a host exports it.
  auto host = sdbus::createSessionBusConnection();
  host->enterEventLoopAsync();
  ui::ScriptedUserInterface front;
  LocalDialogAgent agent(front, 1);
  UiAgentObject agent_object(*host, agent);
  ProgramResult agent_xml =
      RunProgram({"gdbus", "introspect", "--session", "--xml", "--dest", host->getUniqueName(),
                  "--object-path", UiAgentObject::kDefaultPath});
  std::set<std::string> members = Members(agent_xml.out);
  served.insert(members.begin(), members.end());
  EXPECT_EQ(served, expected);
  host->leaveEventLoop();
}

TEST(ForeignClients, GdbusAndBusctlCallGetNameAndGetType) {
  ASSERT_EQ(RunProgram({KvfltrsPath()}).status, 0);
  Client client;  // holds the object while the other programs call it
  std::string path = client.CreateInstance("KVFLTRS.OEIMPORTMSG");

  ProgramResult name =
      RunProgram({"gdbus", "call", "--session", "--dest", kServiceName, "--object-path", path,
                  "--method", std::string(kFilterInterface) + ".GetName"});
  EXPECT_EQ(name.status, 0) << name.err;
  EXPECT_EQ(name.out, "('Microsoft Outlook Express 4',)\n");

  ProgramResult type =
      RunProgram({"busctl", "--user", "call", kServiceName, path, kFilterInterface, "GetType"});
  EXPECT_EQ(type.status, 0) << type.err;
  EXPECT_EQ(type.out, "n 2\n");

  ProgramResult refused = RunProgram({"busctl", "--user", "call", kServiceName, kFactoryPath,
                                      kFactoryInterface, "CreateInstance", "s", "KVFLTRS.NONE"});
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("KVFLTRS.NONE"), std::string::npos) << refused.err;
  client.Release(path);
}

}  // namespace
}  // namespace kv::bus::testing
