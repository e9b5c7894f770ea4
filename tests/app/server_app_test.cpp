// Start-up of the server process against an activation layer that records what it is asked.

#include "app/server_app.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "support/fake_services.h"

namespace kv {
namespace {

class RecordingActivation final : public ObjectActivation {
 public:
  explicit RecordingActivation(const ResourceManager& resource_manager)
      : resource_manager_(resource_manager) {}

  bool Initialize() override {
    calls.push_back(resource_manager_.module_state() != nullptr ? "initialize"
                                                                : "initialize before resources");
    return initialize_result;
  }
  bool RegisterServerClass(const FilterClass& filter_class) override {
    calls.push_back("register " + std::string(filter_class.prog_id));
    return false;  // a failure start-up must not report
  }
  bool UnregisterClass(const FilterClass& filter_class) override {
    calls.push_back("unregister " + std::string(filter_class.prog_id));
    return false;
  }
  bool RegisterFactories(std::span<const FilterClassFactory> factories) override {
    std::string call = "factories";
    for (const FilterClassFactory& factory : factories) {
      call += " " + std::string(factory.filter_class().prog_id);
    }
    calls.push_back(call);
    return false;  // ignored: the process serves what it can
  }

  bool initialize_result = true;
  std::vector<std::string> calls;

 private:
  const ResourceManager& resource_manager_;
};

const std::string kAllProgIds =
    " KVFLTRS.EUDORAIMPORTMSG KVFLTRS.NETSCAPEIMPORTMSG KVFLTRS.OE5IMPORTMSG KVFLTRS.OEIMPORTMSG";

// Initialisation, then `verb` for each class.
std::vector<std::string> EachClass(const std::string& verb) {
  std::vector<std::string> calls = {"initialize"};
  for (const FilterClass& filter_class : FilterClasses()) {
    calls.push_back(verb + " " + std::string(filter_class.prog_id));
  }
  return calls;
}

class StartUp : public ::testing::Test, public testing::FakeServices {
 protected:
  StartUp() { ui.set_report_unanswered(false); }

  bool Start(std::vector<std::string_view> args) {
    CMessageImportApp app(resource_manager, activation, ui);
    return app.InitInstance(args);
  }

  ResourceManager resource_manager;
  RecordingActivation activation{resource_manager};
};

TEST_F(StartUp, EachCommandLineServesRegistersOrUnregisters) {
  const std::vector<std::string> serve = {"initialize", "factories" + kAllProgIds};

  // Each row: command lines and what every one of them does.
  const std::pair<std::vector<std::vector<std::string_view>>, std::vector<std::string>> cases[] = {
      // Serving wins over removal.
      {{{"-Embedding"},
        {"/Embedding"},
        {"/automation"},
        {"-AUTOMATION"},
        {"/Unregister", "-Embedding"}},
       serve},
      // A word without "/" or "-" is no switch.
      {{{}, {"Embedding"}, {"/Register"}, {"--Embedding"}}, EachClass("register")},
      {{{"/Unregister"}, {"-UNREGISTER"}, {"-unregserver"}, {"file.txt", "/UnRegServer"}},
       EachClass("unregister")},
  };
  for (const auto& [command_lines, calls] : cases) {
    for (const std::vector<std::string_view>& args : command_lines) {
      std::string shown;
      for (std::string_view arg : args) shown += std::string(arg) + " ";
      activation.calls.clear();
      EXPECT_EQ(Start(args), calls == serve) << shown;
      EXPECT_EQ(activation.calls, calls) << shown;
    }
  }
  // Registration and removal are silent whatever they returned.
  EXPECT_TRUE(ui.transcript().empty());
}

TEST_F(StartUp, AnUnreachableActivationServiceIsReportedAndEndsTheProcess) {
  activation.initialize_result = false;
  EXPECT_FALSE(Start({"-Embedding"}));
  EXPECT_EQ(activation.calls, std::vector<std::string>{"initialize"});
  ASSERT_FALSE(ui.transcript().empty());
  EXPECT_EQ(ui.transcript().front(),
            "message: Import messages: OLE initialization failed.  Make sure that the OLE "
            "libraries are the correct version.");
  EXPECT_FALSE(Start({}));
  EXPECT_EQ(activation.calls.size(), 2u) << "nothing is registered without the service";
}

// kvimport names a class by its short name (FindFilterClass also takes its ProgID and class name);
// the server's factories answer only what a client of the object model gives: the ProgID or the
// braced class ID. Both ignore case; a duplicate name would find the wrong class.
TEST(ClassFactories, EachClassIsFoundByTheNamesItsCallersGive) {
  EXPECT_EQ(FilterClasses().size(), 4u);
  std::vector<FilterClassFactory> factories(FilterClasses().begin(), FilterClasses().end());
  for (const FilterClassFactory& factory : factories) {
    const FilterClass& filter_class = factory.filter_class();
    const std::string_view prog_id = filter_class.prog_id, clsid = filter_class.clsid;
    EXPECT_TRUE(clsid.size() == 38 && clsid.starts_with("{")) << clsid;
    for (std::string_view name : {prog_id, filter_class.class_name, filter_class.short_name}) {
      EXPECT_EQ(FindFilterClass(name), &filter_class) << name;
    }
    for (const std::string& name : {std::string(prog_id), platform::ToLowerAscii(prog_id),
                                    std::string(clsid), platform::ToLowerAscii(clsid)}) {
      EXPECT_EQ(FindFactory(factories, name), &factory) << name;
    }
    // Not the host tool's short names, not class names, not a class ID without its braces.
    for (std::string_view name :
         {filter_class.short_name, filter_class.class_name, clsid.substr(1, 36)}) {
      EXPECT_EQ(FindFactory(factories, name), nullptr) << name;
    }
  }
  ASSERT_NE(FindFilterClass("kvfltrs.oeimportmsg"), nullptr);
  EXPECT_EQ(FindFilterClass("kvfltrs.oeimportmsg")->class_name, "SCOEMsgFilter");
  EXPECT_EQ(FindFilterClass("OE4")->prog_id, "KVFLTRS.OEIMPORTMSG");
  EXPECT_EQ(FindFilterClass("outlook"), nullptr);
  EXPECT_EQ(FindFactory(factories, ""), nullptr);
  EXPECT_EQ(FindFactory(factories, "KVFLTRS.OEIMPORTMSG "), nullptr);
}

}  // namespace
}  // namespace kv
