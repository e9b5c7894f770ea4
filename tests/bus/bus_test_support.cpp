#include "bus/bus_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "bus/bus_names.h"

extern char** environ;

namespace kv::bus::testing {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);

// A file for a child's output, removed when done.
class OutputFile {
 public:
  OutputFile() {
    const char* tmpdir = std::getenv("TMPDIR");
    path_ = std::string(tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp") +
            "/kv-bus-output.XXXXXX";
    fd_ = mkstemp(path_.data());
  }
  ~OutputFile() {
    if (fd_ >= 0) close(fd_);
    unlink(path_.c_str());
  }
  int fd() const { return fd_; }
  std::string Text() const {
    std::ifstream file(path_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace

std::string KvfltrsPath() { return KV_KVFLTRS_PATH; }

std::string ServicesFolder() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  return std::string(data_home != nullptr ? data_home : "") + "/dbus-1/services";
}

std::string InterfaceFile() {
  return std::string(KV_SOURCE_DIR) + "/bus/org.kvnorvale.Kvfltrs.xml";
}

std::string SampleStore() { return std::string(KV_SOURCE_DIR) + "/samples/oe4"; }

void AnswerForSample(ui::ScriptedUserInterface& ui, const std::string& location) {
  ui.set_report_unanswered(false);
  ui.AnswerLocation(location);
  ui.AnswerFolderDialog(ui::ScriptedUserInterface::FolderAnswer{std::nullopt, true});
}

std::vector<std::string> Walk(ImportFilter& filter, platform::WindowHandle window) {
  std::vector<std::string> seen;
  filter.SetParent(static_cast<std::int32_t>(window));
  seen.push_back("found " + std::to_string(filter.IsSystemFound()));
  for (bool more = filter.GoFirst(); more && seen.size() < 1000; more = filter.GoNext()) {
    std::string file = filter.GetSubItem(kSubItemMessageFile).value_or("(null)");
    std::string bytes;
    if (std::filesystem::is_regular_file(file)) {
      std::ifstream in(file, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      std::filesystem::remove(file);
      file = "(file)";
    }
    seen.push_back(filter.GetSubItem(kSubItemFolderName).value_or("(null)") + " | " +
                   std::to_string(filter.GetItemStatus()) + " | " +
                   std::to_string(filter.GetItemExStatus()) + " | " + file + " | " + bytes);
  }
  return seen;
}

ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extra_env, const std::string& input) {
  OutputFile in, out, err;
  if (write(in.fd(), input.data(), input.size()) != static_cast<ssize_t>(input.size())) return {};
  lseek(in.fd(), 0, SEEK_SET);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.fd(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out.fd(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.fd(), STDERR_FILENO);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  auto overridden = [&](std::string_view entry) {
    return std::any_of(extra_env.begin(), extra_env.end(), [&](const std::string& extra) {
      return entry.substr(0, entry.find('=')) == extra.substr(0, extra.find('='));
    });
  };
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!overridden(*entry)) env.push_back(*entry);
  }
  for (const std::string& entry : extra_env) env.push_back(const_cast<char*>(entry.c_str()));
  env.push_back(nullptr);

  ProgramResult result;
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    result.err = "cannot start " + argv[0];
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  result.out = out.Text();
  result.err = err.Text();
  return result;
}

Client::Client()
    : connection_(sdbus::createSessionBusConnection()),
      bus_(sdbus::createProxy(*connection_, kBusName, kBusPath)) {}

std::string Client::CreateInstance(const std::string& name) {
  std::unique_ptr<sdbus::IProxy> factory =
      sdbus::createProxy(*connection_, kServiceName, kFactoryPath);
  sdbus::MethodCall call = factory->createMethodCall(kFactoryInterface, "CreateInstance");
  call << name;
  sdbus::MethodReply reply = factory->callMethod(call);
  sdbus::ObjectPath path;
  reply >> path;
  server_ = reply.getSender();
  return path;
}

std::unique_ptr<sdbus::IProxy> Client::Object(const std::string& path,
                                              const std::string& destination) {
  return sdbus::createProxy(*connection_, destination.empty() ? kServiceName : destination, path);
}

std::string Client::GetName(const std::string& path, const std::string& destination) {
  std::string name;
  Object(path, destination)
      ->callMethod("GetName")
      .onInterface(kFilterInterface)
      .storeResultsTo(name);
  return name;
}

void Client::Release(const std::string& path, const std::string& destination) {
  Object(path, destination)->callMethod("Release").onInterface(kFilterInterface);
}

std::string Client::NameOwner(const std::string& name) {
  std::string owner;
  try {
    bus_->callMethod("GetNameOwner")
        .onInterface(kBusInterface)
        .withArguments(name)
        .storeResultsTo(owner);
  } catch (const sdbus::Error&) {
    return "";
  }
  return owner;
}

std::optional<pid_t> Client::ProcessOf(const std::string& bus_name) {
  std::uint32_t pid = 0;
  try {
    bus_->callMethod("GetConnectionUnixProcessID")
        .onInterface(kBusInterface)
        .withArguments(bus_name)
        .storeResultsTo(pid);
  } catch (const sdbus::Error&) {
    return std::nullopt;
  }
  return static_cast<pid_t>(pid);
}

bool Client::Ping(const std::string& bus_name) {
  try {
    Object("/", bus_name)->callMethod("Ping").onInterface("org.freedesktop.DBus.Peer");
    return true;
  } catch (const sdbus::Error&) {
    return false;
  }
}

bool ProcessRunning(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  // The state follows the command name in parentheses; a zombie has ended.
  std::string::size_type close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z' &&
         line[close + 2] != 'X';
}

bool WaitForProcessEnd(pid_t pid, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (ProcessRunning(pid)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

bool WaitForNoOwner(Client& client, const std::string& bus_name, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (client.HasOwner(bus_name)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

}  // namespace kv::bus::testing
