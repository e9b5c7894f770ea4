// Fuzzes the Outlook Express 4 readers the way a host meets them: a store of one "folders.nch"
// and one ".idx"/".mbx" pair in memory, found through the registry, confirmed through the folder
// dialog, then walked item by item. Any crash, sanitizer report, hang or handed-over file that does
// not exist is a finding.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "app/filter_classes.h"
#include "fuzz/oe4_fuzz_input.h"
#include "oe4/oe_filter.h"
#include "oe4/oe_folders_file.h"
#include "oe4/oe_store_discovery.h"
#include "platform/fake/fake_environment.h"
#include "platform/fake/memory_file_system.h"
#include "platform/registry.h"
#include "platform/scripted_ui.h"

namespace {

constexpr const char* kStoreDir = "C:\\OE\\Mail";
// More items than any input of libFuzzer's default size can hold: reaching it means a loop.
constexpr int kItemLimit = 1 << 20;

void MakeSecondLayoutSticky() {
  kv::platform::MemoryFileSystem files;
  std::string probe(0x260, '\0');
  probe[0x248] = 1;
  files.AddFile("C:\\probe.nch", probe);
  if (auto file = files.OpenForReading("C:\\probe.nch")) kv::ReadFoldersFile(*file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const kv::fuzz::Oe4FuzzInput input = kv::fuzz::DecodeOe4FuzzInput(data, size);
  kv::ResetOeProcessState();
  if (input.options & kv::fuzz::kSecondLayoutSticky) MakeSecondLayoutSticky();

  kv::platform::MemoryRegistry registry;
  kv::platform::MemoryFileSystem files;
  kv::platform::MemoryTempFiles temp(files);
  kv::platform::FakeEnvironment environment;
  kv::platform::Windows1252CodePage code_page;
  kv::platform::ScriptedUserInterface ui;
  ui.set_report_unanswered(false);
  kv::platform::Services services{registry, files, temp, environment, code_page, ui};

  registry.SetString(kv::kOeRegistryKey, "store root", "C:\\OE");
  const std::string base = std::string(kStoreDir) + "\\" + kv::fuzz::kOe4FuzzMailbox;
  files.AddFile(base + ".mbx", input.mailbox);
  files.AddFile(base + ".idx", input.index);
  if (!(input.options & kv::fuzz::kNoFoldersFile)) {
    files.AddFile(std::string(kStoreDir) + "\\folders.nch", input.folders);
  }
  ui.AnswerFolderDialog(kv::platform::ScriptedUserInterface::FolderAnswer{
      std::nullopt, !(input.options & kv::fuzz::kKeepEmptyFolders)});

  std::unique_ptr<kv::ImportFilter> filter = kv::FindFilterClass("oe4")->create(services);
  filter->SetParent(1);
  if (!filter->IsSystemFound()) return 0;
  int items = 0;
  for (bool more = filter->GoFirst(); more; more = filter->GoNext()) {
    if (++items > kItemLimit) __builtin_trap();
    filter->GetItemStatus();
    filter->GetItemExStatus();
    filter->GetSubItem(kv::kSubItemFolderName);
    const kv::AutomationString file = filter->GetSubItem(kv::kSubItemMessageFile);
    if (!file) __builtin_trap();
    if (*file != kv::kEmptyFolderMarker) {
      if (!files.Exists(*file)) __builtin_trap();
      files.Delete(*file);  // as the host takes it over; keeps memory flat on long walks
    }
  }
  return 0;
}
