#include "support/dbx_writer.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "platform/fake/memory_file_system.h"

namespace kv::testing {
namespace {

// The first 16 bytes of each kind of file, as the mail client writes them.
constexpr std::uint8_t kMessagesSignature[16] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F,
                                                 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0};
constexpr std::uint8_t kFoldersSignature[16] = {0xCF, 0xAD, 0x12, 0xFE, 0xC6, 0xFD, 0x74, 0x6F,
                                                0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0};

// Header words.
constexpr std::uint64_t kMessageCountWord = 0xC4;
constexpr std::uint64_t kMessageRootWord = 0xE4;
constexpr std::uint64_t kFolderCountWord = 0xCC;
constexpr std::uint64_t kFolderRootWord = 0xEC;

// Folder record fields.
constexpr std::uint8_t kFolderId = 0x80;
constexpr std::uint8_t kFolderParent = 0x81;
constexpr std::uint8_t kFolderName = 0x02;
constexpr std::uint8_t kFolderFile = 0x03;
constexpr std::uint8_t kFolderCount = 0x87;
// Message record fields.
constexpr std::uint8_t kMessageIndex = 0x80;
constexpr std::uint8_t kMessageFlags = 0x81;
constexpr std::uint8_t kMessageFlagsIndirect = 0x01;
constexpr std::uint8_t kMessageText = 0x84;
constexpr std::uint8_t kMessageSize = 0x91;

struct IndexBuilder {
  DbxIndex index;
  DbxIndexShape shape;
  std::size_t fanout;

  int Build(const std::vector<std::uint32_t>& values, std::size_t begin, std::size_t end) {
    if (begin == end) return -1;
    const int id = static_cast<int>(index.nodes.size());
    index.nodes.emplace_back();
    const std::size_t n = end - begin;
    if (shape == DbxIndexShape::kFlat || n <= fanout) {
      for (std::size_t i = begin; i < end; ++i)
        index.nodes[id].entries.push_back({0, values[i], -1});
      return id;
    }
    if (shape == DbxIndexShape::kLeftChain) {
      const std::size_t split = end - fanout;
      const int left = Build(values, begin, split);
      index.nodes[id].left = left;
      for (std::size_t i = split; i < end; ++i)
        index.nodes[id].entries.push_back({0, values[i], -1});
      index.nodes[id].entries[0].marker = static_cast<std::uint32_t>(split - begin);
      return id;
    }
    // Entry subtrees: `fanout` entries, the rest shared out between the left child and the
    // entries' children as evenly as it goes.
    const std::size_t rest = n - fanout;
    const std::size_t chunks = fanout + 1;
    std::size_t position = begin;
    auto chunk = [&](std::size_t k) { return rest / chunks + (k < rest % chunks ? 1 : 0); };
    const std::size_t left_size = chunk(0);
    const int left = Build(values, position, position + left_size);
    index.nodes[id].left = left;
    position += left_size;
    for (std::size_t k = 1; k <= fanout; ++k) {
      const std::uint32_t value = values[position++];
      const std::size_t size = chunk(k);
      const int child = Build(values, position, position + size);
      position += size;
      index.nodes[id].entries.push_back({child >= 0 ? 1u : 0u, value, child});
    }
    return id;
  }
};

}  // namespace

DbxField DbxField::Direct(std::uint8_t id, std::uint32_t value) {
  if (value > 0xFFFFFF) throw std::invalid_argument("a direct field's value holds 24 bits");
  DbxField field;
  field.id = id;
  field.value = value;
  return field;
}

DbxField DbxField::Word(std::uint8_t id, std::uint32_t value) {
  DbxField field;
  field.id = id;
  for (int i = 0; i < 4; ++i) field.data.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return field;
}

DbxField DbxField::String(std::uint8_t id, std::string_view text) {
  DbxField field;
  field.id = id;
  field.data = std::string(text) + '\0';
  return field;
}

DbxIndex MakeIndex(const std::vector<std::uint32_t>& values, DbxIndexShape shape,
                   std::size_t fanout) {
  IndexBuilder builder{{}, shape, std::max<std::size_t>(fanout, 1)};
  builder.Build(values, 0, values.size());
  return std::move(builder.index);
}

DbxFileWriter::DbxFileWriter(Kind kind) : kind_(kind), bytes_(kDbxHeaderSize, '\0') {
  const std::uint8_t* signature = kind == Kind::kFolders ? kFoldersSignature : kMessagesSignature;
  for (int i = 0; i < 16; ++i) bytes_[i] = static_cast<char>(signature[i]);
}

std::uint32_t DbxFileWriter::Allocate(std::size_t size) {
  const auto offset = static_cast<std::uint32_t>(bytes_.size());
  bytes_.resize(bytes_.size() + size, '\0');
  return offset;
}

void DbxFileWriter::Put32(std::uint64_t offset, std::uint32_t value) {
  if (bytes_.size() < offset + 4) bytes_.resize(offset + 4, '\0');
  for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t DbxFileWriter::Get32(std::uint64_t offset) const {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | static_cast<std::uint8_t>(bytes_.at(offset + i));
  return value;
}

std::uint32_t DbxFileWriter::AddRecord(const DbxRecordSpec& record) {
  std::string data;
  std::vector<std::uint32_t> descriptors;
  for (const DbxField& field : record.fields) {
    if (field.id & 0x80) {
      descriptors.push_back(field.id | ((field.value & 0xFFFFFF) << 8));
      continue;
    }
    const auto at = static_cast<std::uint32_t>(data.size());
    data += field.data;
    descriptors.push_back(field.id | ((field.offset_override.value_or(at) & 0xFFFFFF) << 8));
  }
  data.resize((data.size() + 3) / 4 * 4, '\0');
  const auto length = static_cast<std::uint32_t>(descriptors.size() * 4 + data.size());
  const std::uint32_t offset = Allocate(12 + length);
  Put32(offset, offset);
  Put32(offset + 4, record.length_override.value_or(length));
  bytes_[offset + 10] = static_cast<char>(
      record.count_override.value_or(static_cast<std::uint8_t>(descriptors.size())));
  bytes_[offset + 11] = 1;
  for (std::size_t i = 0; i < descriptors.size(); ++i) Put32(offset + 12 + 4 * i, descriptors[i]);
  std::copy(data.begin(), data.end(), bytes_.begin() + offset + 12 + 4 * descriptors.size());
  return offset;
}

std::uint32_t DbxFileWriter::AddBlock(std::uint32_t length_word, std::string_view data,
                                      std::uint32_t next) {
  const std::uint32_t offset = Allocate(16 + std::max<std::size_t>(data.size(), kDbxBlockCapacity));
  Put32(offset, offset);
  Put32(offset + 4, kDbxBlockCapacity);
  Put32(offset + 8, length_word);
  Put32(offset + 12, next);
  std::copy(data.begin(), data.end(), bytes_.begin() + offset + 16);
  return offset;
}

std::uint32_t DbxFileWriter::AddText(std::string_view text, std::size_t block_data) {
  if (text.empty()) return 0;
  std::uint32_t first = 0;
  std::uint32_t previous = 0;
  for (std::size_t at = 0; at < text.size(); at += block_data) {
    const std::string_view piece = text.substr(at, block_data);
    const std::uint32_t block = AddBlock(static_cast<std::uint32_t>(piece.size()), piece);
    if (previous != 0) Put32(previous + 12, block);
    if (first == 0) first = block;
    previous = block;
  }
  return first;
}

std::uint32_t DbxFileWriter::AddIndex(const DbxIndex& index) {
  std::vector<std::uint32_t> offsets;
  for (const DbxIndexNode& node : index.nodes) {
    offsets.push_back(Allocate(20 + 12 * node.entries.size() + 4));
  }
  auto node_offset = [&](int id) { return id < 0 ? 0u : offsets.at(static_cast<std::size_t>(id)); };
  for (std::size_t i = 0; i < index.nodes.size(); ++i) {
    const DbxIndexNode& node = index.nodes[i];
    const std::uint32_t at = offsets[i];
    Put32(at, node.self_override.value_or(at));
    Put32(at + 8, node_offset(node.left));
    Put32(at + 16, static_cast<std::uint32_t>(node.entries.size()) << 8);
    for (std::size_t e = 0; e < node.entries.size(); ++e) {
      Put32(at + 20 + 12 * e, node.entries[e].marker);
      Put32(at + 24 + 12 * e, node.entries[e].value);
      Put32(at + 28 + 12 * e, node_offset(node.entries[e].child));
    }
  }
  return offsets.empty() ? 0 : offsets[0];
}

void DbxFileWriter::SetRoot(std::uint32_t root, std::uint32_t count) {
  const bool folders = kind_ == Kind::kFolders;
  Put32(folders ? kFolderRootWord : kMessageRootWord, root);
  Put32(folders ? kFolderCountWord : kMessageCountWord, count);
}

std::string DbxFolderFile(const std::vector<DbxMessage>& messages, DbxIndexShape shape,
                          std::size_t fanout) {
  DbxFileWriter writer(DbxFileWriter::Kind::kMessages);
  std::vector<std::uint32_t> records;
  std::uint32_t number = 1;
  for (const DbxMessage& message : messages) {
    const std::uint32_t text = writer.AddText(message.text);
    DbxRecordSpec record;
    record.fields.push_back(DbxField::Direct(kMessageIndex, ++number));
    if (message.flags_field) {
      record.fields.push_back(message.flags_indirect
                                  ? DbxField::Word(kMessageFlagsIndirect, message.flags)
                                  : DbxField::Direct(kMessageFlags, message.flags));
    }
    // A descriptor holds 24 bits: a text further into the file is named through the data area.
    record.fields.push_back(text > 0xFFFFFF ? DbxField::Word(kMessageText & 0x7F, text)
                                            : DbxField::Direct(kMessageText, text));
    if (message.size_field) {
      record.fields.push_back(
          DbxField::Direct(kMessageSize, static_cast<std::uint32_t>(message.text.size())));
    }
    for (const DbxField& field : message.extra_fields) record.fields.push_back(field);
    records.push_back(writer.AddRecord(record));
  }
  writer.SetRoot(writer.AddIndex(MakeIndex(records, shape, fanout)),
                 static_cast<std::uint32_t>(records.size()));
  return writer.bytes();
}

std::uint32_t DbxStore::AddFolder(const std::string& name, std::uint32_t parent_id,
                                  std::vector<DbxMessage> messages) {
  std::uint32_t id = 2;
  for (const DbxFolder& folder : folders) id = std::max(id, folder.id + 1);
  DbxFolder folder;
  folder.id = id;
  folder.parent_id = parent_id;
  folder.name = name;
  folder.file = name + ".dbx";
  folder.messages = std::move(messages);
  folders.push_back(std::move(folder));
  return id;
}

std::string DbxStore::FoldersFile() const {
  DbxFileWriter writer(DbxFileWriter::Kind::kFolders);
  std::vector<std::uint32_t> records;
  for (const DbxFolder& folder : folders) {
    DbxRecordSpec record;
    record.fields.push_back(DbxField::Direct(kFolderId, folder.id));
    if (folder.parent_id)
      record.fields.push_back(DbxField::Direct(kFolderParent, *folder.parent_id));
    if (folder.name) record.fields.push_back(DbxField::String(kFolderName, *folder.name));
    if (folder.file) record.fields.push_back(DbxField::String(kFolderFile, *folder.file));
    std::optional<std::uint32_t> count = folder.count;
    if (!count && !folder.messages.empty())
      count = static_cast<std::uint32_t>(folder.messages.size());
    if (count) record.fields.push_back(DbxField::Direct(kFolderCount, *count));
    records.push_back(writer.AddRecord(record));
  }
  writer.SetRoot(writer.AddIndex(MakeIndex(records, shape, fanout)),
                 static_cast<std::uint32_t>(records.size()));
  return writer.bytes();
}

std::map<std::string, std::string> DbxStore::Files() const {
  std::map<std::string, std::string> files;
  files["Folders.dbx"] = FoldersFile();
  for (const DbxFolder& folder : folders) {
    if (folder.file && folder.file_on_disk) {
      files[*folder.file] = DbxFolderFile(folder.messages, shape, fanout);
    }
  }
  return files;
}

std::string DbxDiskName(const std::string& name) {
  std::string utf8;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else if (byte >= 0xA0) {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    } else {
      throw std::invalid_argument("a file name the writer cannot put on disk: " + name);
    }
  }
  return utf8;
}

void DbxStore::WriteTo(const std::filesystem::path& dir) const {
  std::filesystem::create_directories(dir);
  for (const auto& [name, bytes] : Files()) {
    std::ofstream out(dir / DbxDiskName(name), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + (dir / DbxDiskName(name)).string());
  }
}

void DbxStore::AddTo(platform::MemoryFileSystem& files, const std::string& dir) const {
  for (const auto& [name, bytes] : Files()) files.AddFile(dir + "\\" + name, bytes);
}

DbxStore DbxLocalStore() {
  DbxStore store;
  DbxFolder root;
  root.id = 1;
  root.name = "Local Folders";
  store.folders.push_back(root);
  return store;
}

std::string DbxTestMessage(int n, const std::string& extra_headers) {
  const std::string number = std::to_string(n);
  return extra_headers + "From: Sender " + number + " <sender" + number +
         "@example.com>\r\n"
         "To: reader@example.com\r\n"
         "Subject: Message " +
         number +
         "\r\n"
         "Date: Mon, 3 Jan 2000 10:00:00 +0100\r\n"
         "\r\n"
         "Body of message " +
         number + ".\r\n";
}

}  // namespace kv::testing
