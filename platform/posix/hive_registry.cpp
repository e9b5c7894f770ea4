#include "platform/posix/hive_registry.h"

#include <errno.h>
#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>

#include "platform/byte_view.h"

namespace kv::platform {
namespace {

// The base block: the first 4096 bytes of a hive.
constexpr std::size_t kBaseBlockSize = 0x1000;
constexpr std::size_t kMagicOffset = 0x000;         // "regf"
constexpr std::size_t kMajorVersionOffset = 0x014;  // 1 for every NT hive
constexpr std::size_t kChecksumOffset = 0x1FC;      // XOR of the 127 dwords before it
constexpr std::uint32_t kMajorVersion = 1;
// A hive holds at least its base block and one 4096-byte bin.
constexpr std::size_t kSmallestHive = 0x2000;
constexpr std::array<std::uint8_t, 4> kHiveMagic = {'r', 'e', 'g', 'f'};
// Windows 95, 98 and ME keep their registry (USER.DAT, SYSTEM.DAT) in another format.
constexpr std::array<std::uint8_t, 4> kWindows9xMagic = {'C', 'R', 'E', 'G'};

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

class HiveTree final : public RegistryTree {
 public:
  HiveTree(hive_h* hive, std::string source) : hive_(hive), source_(std::move(source)) {}
  ~HiveTree() override { hivex_close(hive_); }
  HiveTree(const HiveTree&) = delete;
  HiveTree& operator=(const HiveTree&) = delete;

  Node Root() override { return hivex_root(hive_); }

  std::optional<std::vector<Subkey>> Subkeys(Node node) override {
    MallocPtr<hive_node_h> children(hivex_node_children(hive_, node));
    if (!children) return std::nullopt;
    std::vector<Subkey> subkeys;
    // hivex ends the array with 0 and has checked that each entry is a key record.
    for (const hive_node_h* child = children.get(); *child != 0; ++child) {
      MallocPtr<char> name(hivex_node_name(hive_, *child));
      subkeys.push_back({name ? std::string(name.get()) : std::string(), *child});
    }
    return subkeys;
  }

  std::optional<std::vector<StoredValue>> Values(Node node) override {
    MallocPtr<hive_value_h> values(hivex_node_values(hive_, node));
    if (!values) return std::nullopt;
    std::vector<StoredValue> stored;
    for (const hive_value_h* value = values.get(); *value != 0; ++value) {
      stored.push_back(ReadValue(*value));
    }
    return stored;
  }

  std::string SourceName() const override { return source_; }

 private:
  StoredValue ReadValue(hive_value_h value) {
    StoredValue stored;
    MallocPtr<char> name(hivex_value_key(hive_, value));
    // hivex stores the record's type number as it is, which may lie outside its enumeration; it is
    // taken out as a plain number, never read as the enumeration.
    static_assert(sizeof(hive_type) == sizeof(std::uint32_t));
    hive_type type_storage;
    std::size_t length = 0;
    MallocPtr<char> data(hivex_value_value(hive_, value, &type_storage, &length));
    if (!name || !data) {
      stored.readable = false;
      if (name) stored.name = name.get();
      return stored;
    }
    stored.name = name.get();
    std::memcpy(&stored.type, &type_storage, sizeof stored.type);
    stored.data.assign(data.get(), data.get() + length);
    return stored;
  }

  hive_h* hive_;
  std::string source_;
};

HiveOpenResult Failure(HiveProblem problem, std::string error) {
  HiveOpenResult result;
  result.problem = problem;
  result.error = std::move(error);
  return result;
}

// Reads the start of the file and says what it is before hivex sees it, so that a Windows 9x
// registry or a cut-off hive gets a precise answer.
HiveOpenResult CheckBaseBlock(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return Failure(HiveProblem::kUnreadable, std::string("cannot open it: ") + strerror(errno));
  struct stat info {};
  std::array<std::uint8_t, kBaseBlockSize> block{};
  bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ssize_t count = regular ? pread(fd, block.data(), block.size(), 0) : -1;
  int read_error = errno;
  close(fd);
  if (!regular) return Failure(HiveProblem::kUnreadable, "it is not a regular file");
  if (count < 0)
    return Failure(HiveProblem::kUnreadable,
                   std::string("cannot read it: ") + strerror(read_error));

  ByteView base(block.data(), static_cast<std::size_t>(count));
  std::optional<ByteView> magic = base.Sub(kMagicOffset, kHiveMagic.size());
  auto starts_with = [&](const auto& expected) {
    return magic && std::equal(expected.begin(), expected.end(), magic->data());
  };
  if (starts_with(kWindows9xMagic)) {
    return Failure(HiveProblem::kWindows9x,
                   "it is a Windows 95/98/ME registry file (\"CREG\"), whose format is not read");
  }
  if (!starts_with(kHiveMagic)) {
    return Failure(HiveProblem::kNotAHive,
                   "it is not a registry hive (it does not start with \"regf\")");
  }
  if (static_cast<std::uint64_t>(info.st_size) < kSmallestHive) {
    return Failure(HiveProblem::kDamaged, "the hive is cut off: " + std::to_string(info.st_size) +
                                              " bytes, less than a base block and one bin");
  }
  if (base.size() < kBaseBlockSize) {
    return Failure(HiveProblem::kUnreadable, "its base block cannot be read whole");
  }
  std::uint32_t major = base.u32le(kMajorVersionOffset).value_or(0);
  if (major != kMajorVersion) {
    return Failure(HiveProblem::kDamaged,
                   "the hive has major version " + std::to_string(major) + ", not 1");
  }
  std::uint32_t sum = 0;
  for (std::size_t offset = 0; offset < kChecksumOffset; offset += 4) sum ^= *base.u32le(offset);
  if (sum != *base.u32le(kChecksumOffset)) {
    return Failure(HiveProblem::kDamaged,
                   "the hive's base block is damaged (its checksum does not match)");
  }
  return {};
}

}  // namespace

HiveOpenResult OpenHiveFile(const std::string& path) {
  HiveOpenResult checked = CheckBaseBlock(path);
  if (checked.problem != HiveProblem::kNone) return checked;
  hive_h* hive = hivex_open(path.c_str(), 0);
  if (hive == nullptr) {
    return Failure(HiveProblem::kDamaged,
                   std::string("the hive's bins are damaged (") + strerror(errno) + ")");
  }
  HiveOpenResult result;
  result.tree = std::make_unique<HiveTree>(hive, path);
  return result;
}

}  // namespace kv::platform
