// The server as COM clients use it, across processes: registration and its removal, one process
// for every object of every class, the hidden "Dummy" window, the end of the process after the
// last release (and not before), and activations that follow a release at once.
//
// The server under test is KVFLTRS_SERVER (its Windows path), registered before the tests run.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/filter_classes.h"
#include "windows_test_support.h"

namespace kv::wintest {
namespace {

using namespace std::chrono_literals;

const FilterClass& kOe4 = *FindFilterClass("oe4");
const FilterClass& kNetscape = *FindFilterClass("netscape");
constexpr wchar_t kServerExe[] = L"kvfltrs.exe";

std::string ServerPath() {
  char path[MAX_PATH] = {};
  GetEnvironmentVariableA("KVFLTRS_SERVER", path, sizeof path);
  return path;
}

// The default value of HKEY_CLASSES_ROOT\<key>, or nullopt when the key is absent.
std::optional<std::string> ClassesValue(const std::string& key) {
  char data[1024] = {};
  DWORD size = sizeof data;
  if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(data);
}

// Starts the server with `arguments`; its process handle, null when it did not start.
HANDLE StartServer(const std::string& arguments) {
  // Appended rather than "\"" + ...: GCC 12 warns wrongly (-Wrestrict) on a literal + string.
  std::string command = "\"";
  command += ServerPath() + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

// Runs the server with `arguments` and returns its exit code, or nullopt when it did not end
// within the time.
std::optional<DWORD> RunServer(const std::string& arguments) {
  HANDLE process = StartServer(arguments);
  std::optional<DWORD> code;
  DWORD exit_code = 0;
  if (process != nullptr && WaitForSingleObject(process, 30000) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process, &exit_code)) {
    code = exit_code;
  }
  if (process != nullptr) CloseHandle(process);
  return code;
}

bool NoServerRunning() { return ProcessesNamed(kServerExe).empty(); }

// The one running server process, opened for waiting; null when there is not exactly one.
HANDLE OpenOnlyServer() {
  std::vector<DWORD> servers = ProcessesNamed(kServerExe);
  if (servers.size() != 1) return nullptr;
  return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, servers[0]);
}

HWND DummyWindowOf(DWORD process) {
  return FindWindowWhere([process](HWND window) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return owner == process && WindowText(window) == "Dummy";
  });
}

// An object released when it goes, also when an assertion leaves the test early: a reference
// left behind would keep the server for the tests after it.
using Object = std::unique_ptr<IDispatch, decltype([](IDispatch* object) { object->Release(); })>;

Object Create(const FilterClass& filter_class) {
  GUID guid{};
  const std::wstring class_id(filter_class.clsid.begin(), filter_class.clsid.end());
  CLSIDFromString(class_id.c_str(), &guid);
  IDispatch* object = nullptr;
  HRESULT status = CoCreateInstance(guid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                    reinterpret_cast<void**>(&object));
  return Object(SUCCEEDED(status) ? object : nullptr);
}

std::wstring NameOf(const Object& object) {
  InvokeResult call = Call(object.get(), 1);
  Variant result(call.result);
  return SUCCEEDED(call.status) ? Text(*result) : L"(failed)";
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServerPath().empty()) << "KVFLTRS_SERVER names the server under test";
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    // A server left by an earlier test is allowed its moment to end.
    ASSERT_TRUE(WaitUntil(NoServerRunning, 15s));
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(ServerTest, RegistersAndUnregistersEveryClassSilently) {
  ASSERT_EQ(RunServer("/Unregserver"), 0u);
  for (const FilterClass& c : FilterClasses()) {
    const std::string prog_id(c.prog_id), class_key = "CLSID\\" + std::string(c.clsid);
    EXPECT_FALSE(ClassesValue(prog_id)) << prog_id;
    EXPECT_FALSE(ClassesValue(class_key)) << prog_id;
  }
  ASSERT_EQ(RunServer(""), 0u);
  const std::string path = ServerPath();
  for (const FilterClass& c : FilterClasses()) {
    const std::string prog_id(c.prog_id), class_key = "CLSID\\" + std::string(c.clsid);
    EXPECT_EQ(ClassesValue(prog_id), prog_id);
    EXPECT_EQ(ClassesValue(prog_id + "\\CLSID"), c.clsid);
    EXPECT_EQ(ClassesValue(class_key), prog_id);
    EXPECT_EQ(ClassesValue(class_key + "\\ProgID"), prog_id);
    EXPECT_EQ(ClassesValue(class_key + "\\LocalServer32"),
              path.find(' ') == std::string::npos ? path : std::string(1, '"') + path + '"');
  }
  // "-unregister" in other capitals is the same switch; registering again restores it all.
  ASSERT_EQ(RunServer("-UNREGISTER"), 0u);
  EXPECT_FALSE(ClassesValue(std::string(kOe4.prog_id)));
  ASSERT_EQ(RunServer("anything else"), 0u);
  EXPECT_EQ(ClassesValue(std::string(kOe4.prog_id)), kOe4.prog_id);
  EXPECT_TRUE(NoServerRunning());
}

TEST_F(ServerTest, OneProcessServesBothObjectsAndEndsAfterTheLastRelease) {
  Object first = Create(kOe4);
  ASSERT_NE(first, nullptr);
  HANDLE server = OpenOnlyServer();
  ASSERT_NE(server, nullptr);
  const DWORD server_id = GetProcessId(server);
  HWND dummy = DummyWindowOf(server_id);
  EXPECT_NE(dummy, nullptr);
  EXPECT_FALSE(IsWindowVisible(dummy));

  Object second = Create(kNetscape);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(ProcessesNamed(kServerExe), std::vector<DWORD>{server_id});
  EXPECT_EQ(NameOf(first), L"Microsoft Outlook Express 4");
  EXPECT_EQ(NameOf(second), L"Netscape Messenger 4.7");

  first.reset();
  // Longer than the server waits after a last release: the second object still holds it.
  EXPECT_EQ(WaitForSingleObject(server, 3000), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(NameOf(second), L"Netscape Messenger 4.7");

  second.reset();
  EXPECT_EQ(WaitForSingleObject(server, 15000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(server);
}

TEST_F(ServerTest, ActivationsRightAfterALastReleaseAreServed) {
  // Each pause puts the next activation at another point of the server's ending: at once, during
  // its wait, and after it has gone. (The moment it withdraws its classes is not hit on purpose:
  // Wine's COM does not retry an activation that meets a server on its way out.)
  for (DWORD pause : {0, 0, 200, 3000, 0}) {
    SCOPED_TRACE(pause);
    Object object = Create(kOe4);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(NameOf(object), L"Microsoft Outlook Express 4");
    object.reset();
    Sleep(pause);
  }
}

TEST_F(ServerTest, StartedForAutomationItWaitsUntilItsWindowIsClosed) {
  HANDLE process = StartServer("/Automation");
  ASSERT_NE(process, nullptr);
  HWND dummy = nullptr;
  EXPECT_TRUE(
      WaitUntil([&] { return (dummy = DummyWindowOf(GetProcessId(process))) != nullptr; }, 15s));
  EXPECT_EQ(WaitForSingleObject(process, 2000), static_cast<DWORD>(WAIT_TIMEOUT));
  // Closing the window of a server that holds no object ends it.
  PostMessageA(dummy, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(process, 15000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(process);
}

}  // namespace
}  // namespace kv::wintest
