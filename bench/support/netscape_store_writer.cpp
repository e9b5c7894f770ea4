#include "support/netscape_store_writer.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "platform/fake/fake_environment.h"
#include "platform/fake/memory_file_system.h"

namespace kv::testing {
namespace {

constexpr std::uint32_t kFolderInfoClassId = 31;
constexpr std::uint32_t kKeyListClassId = 29;
constexpr std::uint32_t kMessageClassId = 30;

constexpr std::size_t kFolderInfoBytes = 89;
constexpr std::size_t kKeyListBytes = 26;
constexpr std::size_t kMessageBytes = 62;

// Writes big-endian values into a growing file image.
class Image {
 public:
  std::uint32_t size() const { return static_cast<std::uint32_t>(bytes.size()); }
  void Put8(std::size_t at, std::uint8_t value) {
    Grow(at + 1);
    bytes[at] = static_cast<char>(value);
  }
  void Put16(std::size_t at, std::uint16_t value) {
    Put8(at, static_cast<std::uint8_t>(value >> 8));
    Put8(at + 1, static_cast<std::uint8_t>(value));
  }
  void Put32(std::size_t at, std::uint32_t value) {
    Put16(at, static_cast<std::uint16_t>(value >> 16));
    Put16(at + 2, static_cast<std::uint16_t>(value));
  }
  // Reserves `count` bytes filled with a recognisable pattern (fields the reader must not need).
  std::uint32_t Reserve(std::size_t count) {
    const std::uint32_t at = size();
    for (std::size_t i = 0; i < count; ++i) bytes.push_back(static_cast<char>(0xA5));
    return at;
  }
  std::string bytes;

 private:
  void Grow(std::size_t to) {
    if (bytes.size() < to) bytes.resize(to, '\0');
  }
};

struct Pair {
  std::uint32_t object;
  std::uint32_t key;
};

// Writes the index over `pairs` and returns its root node's offset.
std::uint32_t WriteIndex(Image& image, const std::vector<Pair>& pairs, std::size_t fanout) {
  auto node = [&image](std::uint8_t kind, std::size_t count, std::size_t entry_size) {
    const std::uint32_t at = image.Reserve(8 + count * entry_size);
    image.Put8(at, static_cast<std::uint8_t>(kind << 4 | 0x3));  // low nibble: ignored
    image.Put16(at + 6, static_cast<std::uint16_t>(count));
    return at;
  };
  if (fanout == 0) {
    const std::uint32_t root = node(0xD, pairs.size(), 8);
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      image.Put32(root + 8 + 8 * i, pairs[i].object);
      image.Put32(root + 12 + 8 * i, pairs[i].key);
    }
    return root;
  }
  std::vector<std::uint32_t> level;
  for (std::size_t first = 0; first < pairs.size() || level.empty(); first += fanout) {
    const std::size_t count = std::min(fanout, pairs.size() - first);
    const std::uint32_t leaf = node(0x9, count, 8);
    for (std::size_t i = 0; i < count; ++i) {
      image.Put32(leaf + 8 + 8 * i, pairs[first + i].object);
      image.Put32(leaf + 12 + 8 * i, pairs[first + i].key);
    }
    level.push_back(leaf);
  }
  // Inner branches until one root branch holds the rest.
  const std::size_t width = std::max<std::size_t>(fanout, 2);
  while (level.size() > width) {
    std::vector<std::uint32_t> upper;
    for (std::size_t first = 0; first < level.size(); first += width) {
      const std::size_t count = std::min(width, level.size() - first);
      const std::uint32_t branch = node(0x1, count, 4);
      for (std::size_t i = 0; i < count; ++i) image.Put32(branch + 8 + 4 * i, level[first + i]);
      upper.push_back(branch);
    }
    level = std::move(upper);
  }
  const std::uint32_t root = node(0x5, level.size(), 4);
  for (std::size_t i = 0; i < level.size(); ++i) image.Put32(root + 8 + 4 * i, level[i]);
  return root;
}

void WriteClassEntry(Image& image, std::uint8_t tail_units, std::uint32_t id, std::uint32_t root) {
  const std::size_t tail = tail_units == 0 ? 0 : 10 + 16 * (tail_units - 1);
  const std::uint32_t at = image.Reserve(25 + tail);
  image.Put8(at, tail_units);
  image.Put32(at + 1, id);
  image.Put32(at + 21, root);
}

}  // namespace

SnmLayout WriteSnm(const SnmSummary& summary) {
  Image image;
  SnmLayout layout;
  image.Reserve(kSnmHeaderSize);
  image.Put32(0, kSnmMagic);

  // Folder information, with its name text after it.
  std::uint32_t unread = 0;
  for (const SnmMessage& message : summary.messages) unread += (message.flags & 1) == 0 ? 1 : 0;
  const auto counts = summary.counts.value_or(
      std::make_pair(static_cast<std::uint32_t>(summary.messages.size()), unread));
  layout.folder_info = image.Reserve(kFolderInfoBytes);
  image.Put32(layout.folder_info + 16, counts.first);
  image.Put32(layout.folder_info + 20, counts.second);
  if (summary.folder_name) {
    const std::uint32_t name = image.size();
    image.bytes += *summary.folder_name;
    image.bytes.push_back('\0');
    image.Put32(layout.folder_info + 81, name);
    image.Put32(layout.folder_info + 85, static_cast<std::uint32_t>(summary.folder_name->size()));
  } else {
    image.Put32(layout.folder_info + 81, 0);
    image.Put32(layout.folder_info + 85, 0);
  }

  // Key blocks and their key list objects.
  std::vector<std::vector<std::uint32_t>> blocks;
  if (summary.key_blocks) {
    blocks = *summary.key_blocks;
  } else {
    blocks.emplace_back();
    for (const SnmMessage& message : summary.messages) blocks.back().push_back(message.key);
  }
  std::vector<Pair> key_lists;
  for (const std::vector<std::uint32_t>& keys : blocks) {
    const std::uint32_t block = image.Reserve(8 + 4 * keys.size());
    image.Put16(block + 6, static_cast<std::uint16_t>(keys.size()));
    for (std::size_t i = 0; i < keys.size(); ++i) image.Put32(block + 8 + 4 * i, keys[i]);
    const std::uint32_t list = image.Reserve(kKeyListBytes);
    image.Put32(list + 22, block);
    key_lists.push_back({list, static_cast<std::uint32_t>(key_lists.size() + 1)});
    layout.key_blocks.push_back(block);
  }

  // Message headers.
  std::vector<Pair> headers;
  for (const SnmMessage& message : summary.messages) {
    const std::uint32_t at = image.Reserve(kMessageBytes);
    image.Put32(at + 26, message.position);
    image.Put32(at + 38, message.length);
    image.Put32(at + 42, message.flags);
    image.Put16(at + 52, message.kind);
    headers.push_back({at, message.key});
    layout.header_objects.push_back(at);
  }

  layout.folder_info_root = WriteIndex(image, {{layout.folder_info, 1}}, summary.node_fanout);
  layout.key_list_root = WriteIndex(image, key_lists, summary.node_fanout);
  layout.header_root = WriteIndex(image, headers, summary.node_fanout);

  // The class table comes last, so that its offset is not a constant.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> classes;
  if (summary.extra_classes) {
    classes.push_back({kMessageClassId, 0});  // stale: overridden below
    classes.push_back({7, layout.header_root});
  }
  classes.push_back({kFolderInfoClassId, layout.folder_info_root});
  classes.push_back({kKeyListClassId, layout.key_list_root});
  classes.push_back({kMessageClassId, layout.header_root});
  if (summary.extra_classes) classes.push_back({40, 0});
  layout.class_table = image.Reserve(10);
  image.Put16(layout.class_table + 6, static_cast<std::uint16_t>(classes.size()));
  for (const auto& [id, root] : classes) {
    WriteClassEntry(image, summary.class_tail_units, id, root);
  }
  image.Put32(8, layout.class_table);
  layout.bytes = std::move(image.bytes);
  return layout;
}

std::pair<std::string, std::vector<SnmMessage>> NsMailbox(const std::vector<NsMessage>& messages) {
  std::string mailbox;
  std::vector<SnmMessage> entries;
  for (const NsMessage& message : messages) {
    const auto position = static_cast<std::uint32_t>(mailbox.size());
    mailbox += message.separator;
    mailbox += message.text;
    const auto length = static_cast<std::uint32_t>(mailbox.size() - position);
    entries.push_back({position, length, message.flags, message.kind, position});
  }
  return {std::move(mailbox), std::move(entries)};
}

namespace {

void AddFolderFiles(const NsFolder& folder, const std::string& dir,
                    std::map<std::string, std::string>& files) {
  auto [mailbox, entries] = NsMailbox(folder.messages);
  files[dir + folder.name] = std::move(mailbox);
  if (folder.with_summary) {
    SnmSummary summary;
    summary.folder_name = folder.summary_name.value_or(folder.name);
    summary.messages = std::move(entries);
    summary.node_fanout = folder.node_fanout;
    files[dir + folder.name + ".snm"] = SnmFile(summary);
  }
  for (const NsFolder& subfolder : folder.subfolders) {
    AddFolderFiles(subfolder, dir + folder.name + ".sbd/", files);
  }
}

}  // namespace

std::map<std::string, std::string> NsMailDirectory::Files() const {
  std::map<std::string, std::string> files;
  for (const NsFolder& folder : folders) AddFolderFiles(folder, "", files);
  return files;
}

void NsMailDirectory::WriteTo(const std::filesystem::path& dir) const {
  std::filesystem::create_directories(dir);
  // Names are in the store's code page; a Linux copy of the store spells them in UTF-8.
  platform::Windows1252CodePage code_page;
  for (const auto& [name, bytes] : Files()) {
    const std::filesystem::path path = dir / code_page.ToUtf8(name);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }
}

void NsMailDirectory::AddTo(platform::MemoryFileSystem& files, const std::string& dir) const {
  for (const auto& [name, bytes] : Files()) {
    std::string path = dir + "\\" + name;
    if (!files.AddFile(path, bytes)) throw std::runtime_error("cannot add " + name);
  }
}

std::string NsTestMessage(int n, const std::string& extra_headers) {
  const std::string number = std::to_string(n);
  return "X-Mozilla-Status: 0001\r\nX-Mozilla-Status2: 00000000\r\n"
         "From: Sender " +
         number + " <sender" + number + "@example.org>\r\nTo: reader@example.net\r\n" +
         "Subject: Message " + number +
         "\r\nDate: Tue, 3 Aug 1999 10:" + std::to_string(10 + n % 50) + ":00 +0200\r\n" +
         extra_headers + "\r\n" + "Body of message " + number + ".\r\n\r\n";
}

}  // namespace kv::testing
