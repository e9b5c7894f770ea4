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

std::vector<std::string> EachClass(const std::string& verb) {
  std::vector<std::string> calls;
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
  std::vector<std::string> serve = {"initialize", "factories" + kAllProgIds};
  std::vector<std::string> register_all = EachClass("register");
  register_all.insert(register_all.begin(), "initialize");
  std::vector<std::string> unregister_all = EachClass("unregister");
  unregister_all.insert(unregister_all.begin(), "initialize");

  struct Case {
    std::vector<std::string_view> args;
    bool serves;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {{"-Embedding"}, true, serve},
      {{"/Embedding"}, true, serve},
      {{"/automation"}, true, serve},
      {{"-AUTOMATION"}, true, serve},
      {{"/Unregister", "-Embedding"}, true, serve},  // serving wins over removal
      {{}, false, register_all},
      {{"Embedding"}, false, register_all},  // a word without "/" or "-" is no switch
      {{"/Register"}, false, register_all},
      {{"--Embedding"}, false, register_all},
      {{"/Unregister"}, false, unregister_all},
      {{"-unregserver"}, false, unregister_all},
      {{"file.txt", "/UnRegServer"}, false, unregister_all},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (std::string_view arg : c.args) shown += std::string(arg) + " ";
    activation.calls.clear();
    EXPECT_EQ(Start(c.args), c.serves) << shown;
    EXPECT_EQ(activation.calls, c.calls) << shown;
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

TEST(ClassFactories, EachAnswersItsProgIdOrBracedClassIdInAnyCase) {
  std::vector<FilterClassFactory> factories(FilterClasses().begin(), FilterClasses().end());
  for (const FilterClassFactory& factory : factories) {
    const FilterClass& filter_class = factory.filter_class();
    std::string lower_clsid = platform::ToLowerAscii(filter_class.clsid);
    EXPECT_EQ(FindFactory(factories, filter_class.prog_id), &factory);
    EXPECT_EQ(FindFactory(factories, platform::ToLowerAscii(filter_class.prog_id)), &factory);
    EXPECT_EQ(FindFactory(factories, filter_class.clsid), &factory);
    EXPECT_EQ(FindFactory(factories, lower_clsid), &factory);
    // Only the names a client of the object model gives: not the host tool's short names, not
    // class names, not a class ID without its braces.
    EXPECT_EQ(FindFactory(factories, filter_class.short_name), nullptr);
    EXPECT_EQ(FindFactory(factories, filter_class.class_name), nullptr);
    EXPECT_EQ(FindFactory(factories, filter_class.clsid.substr(1, 36)), nullptr);
  }
  EXPECT_EQ(FindFactory(factories, ""), nullptr);
  EXPECT_EQ(FindFactory(factories, "KVFLTRS.OEIMPORTMSG "), nullptr);
}

TEST(ClassFactories, ObjectsAreOfTheFactorysClassAndHoldTheServer) {
  testing::FakeServices fake;
  const int before = ServerLock::Count();
  for (const FilterClass& filter_class : FilterClasses()) {
    FilterClassFactory factory(filter_class);
    std::unique_ptr<ImportFilter> object = factory.CreateObject(fake.services);
    EXPECT_EQ(object->GetName(), filter_class.display_name);
    EXPECT_EQ(ServerLock::Count(), before + 1);
  }
  EXPECT_EQ(ServerLock::Count(), before);
}

}  // namespace
}  // namespace kv
