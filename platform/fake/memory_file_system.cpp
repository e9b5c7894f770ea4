#include "platform/fake/memory_file_system.h"

#include <algorithm>
#include <cstring>

#include "platform/implementation_support.h"

namespace kv::platform {

struct MemoryFileSystem::Node {
  std::string name;
  bool directory = false;
  std::shared_ptr<std::string> bytes;  // files only; shared with open readers and writers
  std::int64_t modified = 0;
  std::uint32_t extra_attributes = 0;
  std::map<std::string, std::unique_ptr<Node>> children;  // keyed by the case-folded name
};

namespace {

using Node = MemoryFileSystem::Node;

constexpr char kDefaultDrive = 'C';

// Windows-1252 lower case: ASCII letters, the Latin-1 letters 0xC0-0xDE (but not the
// multiplication sign 0xD7), and the four upper-case letters of 0x80-0x9F.
char FoldByte(char c) {
  auto byte = static_cast<std::uint8_t>(c);
  if (byte >= 'A' && byte <= 'Z') return static_cast<char>(byte + 0x20);
  if (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7) return static_cast<char>(byte + 0x20);
  switch (byte) {
    case 0x8A:  // S with caron
    case 0x8C:  // OE ligature
    case 0x8E:  // Z with caron
      return static_cast<char>(byte + 0x10);
    case 0x9F:  // Y with diaeresis
      return static_cast<char>(0xFF);
    default:
      return c;
  }
}

std::string FoldName(std::string_view name) {
  std::string folded(name);
  std::transform(folded.begin(), folded.end(), folded.begin(), FoldByte);
  return folded;
}

std::string DriveName(char drive) { return std::string(1, drive) + ":"; }

bool ListingLess(const Node* a, const Node* b) {
  if (NameLessIgnoringCase(a->name, b->name)) return true;
  if (NameLessIgnoringCase(b->name, a->name)) return false;
  return a->name < b->name;
}

std::vector<const Node*> SortedChildren(const Node& folder) {
  std::vector<const Node*> children;
  for (const auto& [key, child] : folder.children) children.push_back(child.get());
  std::sort(children.begin(), children.end(), ListingLess);
  return children;
}

Node* Child(const Node& folder, std::string_view name) {
  auto it = folder.children.find(FoldName(name));
  if (it != folder.children.end()) return it->second.get();
  std::vector<Node*> nodes;
  std::vector<std::string> names;
  for (const auto& [key, child] : folder.children) {
    nodes.push_back(child.get());
    names.push_back(child->name);
  }
  std::optional<std::size_t> alias = MatchShortNameAlias(name, names);
  return alias ? nodes[*alias] : nullptr;
}

Node* AddChild(Node& folder, std::string_view name, bool directory) {
  auto node = std::make_unique<Node>();
  node->name = std::string(name);
  node->directory = directory;
  if (!directory) node->bytes = std::make_shared<std::string>();
  Node* raw = node.get();
  folder.children[FoldName(name)] = std::move(node);
  return raw;
}

// The nodes from the drive down to the last component; empty when the path leads nowhere.
std::vector<Node*> Walk(Node& root, const WindowsPath& path, std::size_t component_count) {
  Node* node = Child(root, DriveName(path.drive != 0 ? path.drive : kDefaultDrive));
  if (node == nullptr) return {};
  std::vector<Node*> chain{node};
  for (std::size_t i = 0; i < component_count; ++i) {
    if (!node->directory) return {};
    node = Child(*node, path.components[i]);
    if (node == nullptr) return {};
    chain.push_back(node);
  }
  return chain;
}

std::string CanonicalPath(const std::vector<Node*>& chain) {
  std::string path = chain.front()->name + "\\";
  for (std::size_t i = 1; i < chain.size(); ++i) {
    if (i > 1) path.push_back('\\');
    path.append(chain[i]->name);
  }
  return path;
}

class MemoryReadableFile final : public ReadableFile {
 public:
  explicit MemoryReadableFile(std::shared_ptr<const std::string> bytes)
      : bytes_(std::move(bytes)) {}

  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
    if (position_ >= bytes_->size()) return 0;
    std::size_t count = std::min<std::uint64_t>(buffer.size(), bytes_->size() - position_);
    std::memcpy(buffer.data(), bytes_->data() + position_, count);
    position_ += count;
    return count;
  }
  bool Seek(std::uint64_t offset) override {
    position_ = offset;
    return true;
  }
  std::uint64_t Tell() const override { return position_; }
  std::optional<std::uint64_t> Size() const override { return bytes_->size(); }

 private:
  std::shared_ptr<const std::string> bytes_;
  std::uint64_t position_ = 0;
};

class MemoryWritableFile final : public WritableFile {
 public:
  explicit MemoryWritableFile(std::shared_ptr<std::string> bytes) : bytes_(std::move(bytes)) {}
  bool Write(std::span<const std::uint8_t> bytes) override {
    if (closed_) return false;
    bytes_->append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
  }
  bool Close() override {
    bool was_open = !closed_;
    closed_ = true;
    return was_open;
  }

 private:
  std::shared_ptr<std::string> bytes_;
  bool closed_ = false;
};

class MemoryMappedFile final : public MappedFile {
 public:
  explicit MemoryMappedFile(const std::string& bytes) : bytes_(bytes.begin(), bytes.end()) {}
  ByteView bytes() const override { return ByteView(bytes_.data(), bytes_.size()); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

MemoryFileSystem::MemoryFileSystem() : root_(std::make_unique<Node>()) {
  root_->directory = true;
  AddChild(*root_, DriveName(kDefaultDrive), true);
}

MemoryFileSystem::~MemoryFileSystem() = default;

Node* MemoryFileSystem::Resolve(const std::string& path) const {
  if (path.empty()) return nullptr;
  WindowsPath parsed = ParseWindowsPath(path);
  std::vector<Node*> chain = Walk(*root_, parsed, parsed.components.size());
  return chain.empty() ? nullptr : chain.back();
}

std::pair<Node*, std::string> MemoryFileSystem::ResolveParent(const std::string& path) const {
  WindowsPath parsed = ParseWindowsPath(path);
  if (parsed.components.empty()) return {nullptr, ""};
  std::vector<Node*> chain = Walk(*root_, parsed, parsed.components.size() - 1);
  if (chain.empty() || !chain.back()->directory) return {nullptr, ""};
  return {chain.back(), parsed.components.back()};
}

bool MemoryFileSystem::AddDirectory(const std::string& path) {
  WindowsPath parsed = ParseWindowsPath(path);
  std::string drive = DriveName(parsed.drive != 0 ? parsed.drive : kDefaultDrive);
  Node* node = Child(*root_, drive);
  if (node == nullptr) node = AddChild(*root_, drive, true);
  for (const std::string& component : parsed.components) {
    Node* child = Child(*node, component);
    if (child == nullptr) child = AddChild(*node, component, true);
    if (!child->directory) return false;
    node = child;
  }
  return true;
}

bool MemoryFileSystem::AddFile(const std::string& path, std::string_view bytes,
                               std::int64_t modified_unix_seconds) {
  WindowsPath parsed = ParseWindowsPath(path);
  if (parsed.components.empty()) return false;
  std::string folder = DriveName(parsed.drive != 0 ? parsed.drive : kDefaultDrive);
  for (std::size_t i = 0; i + 1 < parsed.components.size(); ++i) {
    folder += "\\" + parsed.components[i];
  }
  if (!AddDirectory(folder)) return false;
  auto [parent, name] = ResolveParent(path);
  if (parent == nullptr) return false;
  Node* file = Child(*parent, name);
  if (file == nullptr) file = AddChild(*parent, name, false);
  if (file->directory) return false;
  file->bytes = std::make_shared<std::string>(bytes);
  file->modified = modified_unix_seconds;
  return true;
}

std::optional<std::string> MemoryFileSystem::Contents(const std::string& path) const {
  Node* node = Resolve(path);
  if (node == nullptr || node->directory) return std::nullopt;
  return *node->bytes;
}

std::vector<std::string> MemoryFileSystem::ListFiles() const {
  std::vector<std::string> files;
  struct Pending {
    const Node* node;
    std::string path;
  };
  std::vector<Pending> stack;
  std::vector<const Node*> drives = SortedChildren(*root_);
  for (auto it = drives.rbegin(); it != drives.rend(); ++it) {
    stack.push_back({*it, (*it)->name});
  }
  while (!stack.empty()) {
    Pending current = std::move(stack.back());
    stack.pop_back();
    if (!current.node->directory) {
      files.push_back(current.path);
      continue;
    }
    std::vector<const Node*> children = SortedChildren(*current.node);
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      stack.push_back({*it, current.path + "\\" + (*it)->name});
    }
  }
  return files;
}

bool MemoryFileSystem::SetAttributes(const std::string& path, std::uint32_t attributes) {
  Node* node = Resolve(path);
  if (node == nullptr) return false;
  node->extra_attributes = attributes & ~std::uint32_t{kAttributeDirectory};
  return true;
}

std::unique_ptr<ReadableFile> MemoryFileSystem::OpenForReading(const std::string& path,
                                                               OpenMode mode) {
  Node* node = Resolve(path);
  if (node == nullptr || node->directory || (node->extra_attributes & kAttributeDevice) != 0) {
    return nullptr;
  }
  auto file = std::make_unique<MemoryReadableFile>(node->bytes);
  if (mode == OpenMode::kText) return MakeTextModeFile(std::move(file));
  return file;
}

std::unique_ptr<WritableFile> MemoryFileSystem::OpenForWriting(const std::string& path) {
  auto [parent, name] = ResolveParent(path);
  if (parent == nullptr) return nullptr;
  Node* file = Child(*parent, name);
  if (file == nullptr) file = AddChild(*parent, name, false);
  if (file->directory) return nullptr;
  file->bytes = std::make_shared<std::string>();
  return std::make_unique<MemoryWritableFile>(file->bytes);
}

std::unique_ptr<MappedFile> MemoryFileSystem::MapReadOnly(const std::string& path) {
  Node* node = Resolve(path);
  if (node == nullptr || node->directory || (node->extra_attributes & kAttributeDevice) != 0) {
    return nullptr;
  }
  return std::make_unique<MemoryMappedFile>(*node->bytes);
}

std::unique_ptr<FileFinder> MemoryFileSystem::FindFirst(const std::string& pattern) {
  SplitSearchPattern split = SplitPattern(pattern);
  if (split.name.empty()) return nullptr;
  // A pattern without a folder searches the current folder, which is the root of C:.
  Node* folder = Resolve(split.folder.empty() ? "\\" : split.folder);
  if (folder == nullptr || !folder->directory) return nullptr;
  std::vector<FindEntry> entries;
  auto add = [&entries](const Node& node) {
    std::uint32_t kind = node.directory ? kAttributeDirectory : kAttributeArchive;
    entries.push_back({node.name, kind | node.extra_attributes,
                       node.directory ? 0 : static_cast<std::uint64_t>(node.bytes->size())});
  };
  if (!HasWildcards(split.name)) {
    if (Node* node = Child(*folder, split.name)) add(*node);
  } else {
    for (const auto& [key, child] : folder->children) {
      if (MatchesWildcard(split.name, child->name)) add(*child);
    }
  }
  return MakeSortedFinder(std::move(entries));
}

bool MemoryFileSystem::Exists(const std::string& path) { return Resolve(path) != nullptr; }

std::optional<FileStatus> MemoryFileSystem::Status(const std::string& path) {
  Node* node = Resolve(path);
  if (node == nullptr) return std::nullopt;
  FileStatus status;
  status.size = node->directory ? 0 : node->bytes->size();
  status.modified_unix_seconds = node->modified;
  status.attributes =
      (node->directory ? kAttributeDirectory : kAttributeArchive) | node->extra_attributes;
  return status;
}

bool MemoryFileSystem::Delete(const std::string& path) {
  auto [parent, name] = ResolveParent(path);
  if (parent == nullptr) return false;
  auto it = parent->children.find(FoldName(name));
  if (it == parent->children.end() || it->second->directory) return false;
  parent->children.erase(it);
  return true;
}

std::string MemoryFileSystem::NativePath(const std::string& path) {
  WindowsPath parsed = ParseWindowsPath(path);
  std::vector<Node*> chain = Walk(*root_, parsed, parsed.components.size());
  if (!chain.empty()) return CanonicalPath(chain);
  if (parsed.components.empty()) return "";
  chain = Walk(*root_, parsed, parsed.components.size() - 1);
  if (chain.empty() || !chain.back()->directory) return "";
  std::string folder = CanonicalPath(chain);
  return JoinPath(folder, parsed.components.back(), '\\');
}

MemoryTempFiles::MemoryTempFiles(MemoryFileSystem& files, std::string temp_path)
    : files_(files), temp_path_(std::move(temp_path)) {
  files_.AddDirectory(temp_path_);
}

std::optional<std::string> MemoryTempFiles::GetTempFileName(const std::string& folder,
                                                            std::string_view prefix,
                                                            std::uint32_t unique) {
  if (unique != 0) return JoinPath(folder, TempFileName(prefix, unique & 0xFFFF), '\\');
  std::optional<FileStatus> status = files_.Status(folder);
  if (!status || !status->IsDirectory()) return std::nullopt;
  std::optional<std::string> path =
      CreateUniqueTempFile(folder, prefix, next_number_, '\\', [this](const std::string& name) {
        if (files_.Exists(name)) return CreateAttempt::kNameTaken;
        return files_.OpenForWriting(name) ? CreateAttempt::kCreated : CreateAttempt::kFailed;
      });
  if (path) ++next_number_;
  return path;
}

}  // namespace kv::platform
