#pragma once
// An "oe4" filter over in-memory services, with a store put where the registry says.

#include "app/process_state.h"
#include "oe4/oe_filter.h"
#include "oe4/oe_store_discovery.h"
#include "support/filter_fixture.h"
#include "support/golden.h"
#include "support/oe4_store_writer.h"

namespace kv::testing {

inline constexpr const char* kStoreRoot = "C:\\OE";
inline constexpr const char* kStoreDir = "C:\\OE\\Mail";

class Oe4FilterTest : public FilterTest {
 protected:
  Oe4FilterTest() : FilterTest("oe4") { ResetProcessState(); }
  ~Oe4FilterTest() override { ResetProcessState(); }

  static std::string Path(const std::string& name) { return std::string(kStoreDir) + "\\" + name; }
  // "store root" names kStoreRoot; the store itself sits in kStoreDir.
  void PutStore(const Oe4Store& store) {
    registry.SetString(kOeRegistryKey, "Store Root", kStoreRoot);
    store.AddTo(files, kStoreDir);
  }
  // IsSystemFound with the folder dialog answered.
  bool Find(std::optional<std::string> start = std::nullopt, bool skip_empty = true) {
    AnswerFolders(std::move(start), skip_empty);
    return filter->IsSystemFound();
  }
};

// Messages 1..n with the given index flags.
inline std::vector<Oe4Message> Messages(std::initializer_list<std::uint8_t> flags) {
  std::vector<Oe4Message> messages;
  for (std::uint8_t flag : flags)
    messages.push_back({Oe4TestMessage(int(messages.size()) + 1), flag});
  return messages;
}

}  // namespace kv::testing
