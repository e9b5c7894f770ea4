#include "support/oe4_store_writer.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "platform/fake/memory_file_system.h"

namespace kv::testing {
namespace {

// folders.nch record fields, from the record's start.
constexpr std::size_t kSecondLayoutNext = 8;
constexpr std::size_t kFirstLayoutNext = 12;
constexpr std::size_t kFolderNumber = 16;
constexpr std::size_t kFolderName = 20;
constexpr std::size_t kFolderNameSize = 259;
constexpr std::size_t kMailboxName = 279;
constexpr std::size_t kMailboxNameSize = 260;
constexpr std::size_t kParentNumber = 539;

// .idx record fields.
constexpr std::size_t kIndexFlags = 0;
constexpr std::size_t kIndexNumber = 4;
constexpr std::size_t kIndexMailboxOffset = 8;
constexpr std::size_t kIndexMailboxLength = 12;
constexpr std::size_t kIndexLength = 16;
constexpr std::size_t kIndexFixedSize = 20;

void Put32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  if (bytes.size() < offset + 4) bytes.resize(offset + 4, '\0');
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void Append32(std::string& bytes, std::uint32_t value) { Put32(bytes, bytes.size(), value); }

void PutText(std::string& bytes, std::size_t offset, const std::string& text, std::size_t field) {
  const std::size_t length = std::min(text.size(), field - 1);
  std::copy_n(text.begin(), length, bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

void PadTo4(std::string& bytes) {
  while (bytes.size() % 4 != 0) bytes.push_back('\0');
}

std::string SubjectOf(const std::string& text) {
  const std::string key = "\nSubject: ";
  const std::size_t at = ("\n" + text).find(key);
  if (at == std::string::npos) return {};
  const std::size_t start = at + key.size() - 1;
  const std::size_t end = text.find_first_of("\r\n", start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

std::string Oe4MailboxFile(const std::vector<Oe4Message>& messages, bool trailing_marker) {
  std::string bytes(kMailboxHeaderSize, '\0');
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const std::string& text = messages[i].text;
    const std::size_t padded = (text.size() + 3) / 4 * 4;
    Append32(bytes, kMailboxMarker);
    Append32(bytes, static_cast<std::uint32_t>(i + 1));
    Append32(bytes, static_cast<std::uint32_t>(16 + padded));
    Append32(bytes, static_cast<std::uint32_t>(text.size()));
    bytes += text;
    PadTo4(bytes);
  }
  if (trailing_marker) Append32(bytes, kMailboxMarker);
  Put32(bytes, 4, static_cast<std::uint32_t>(messages.size()));
  Put32(bytes, 8, static_cast<std::uint32_t>(bytes.size()));
  return bytes;
}

std::string Oe4IndexFile(const std::vector<Oe4Message>& messages) {
  std::string bytes(kIndexHeaderSize, '\0');
  std::uint32_t mailbox_offset = kMailboxHeaderSize;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const Oe4Message& message = messages[i];
    std::string tail = SubjectOf(message.text);
    tail.push_back('\0');
    PadTo4(tail);
    const std::uint32_t mailbox_length =
        static_cast<std::uint32_t>(16 + (message.text.size() + 3) / 4 * 4);
    const std::size_t start = bytes.size();
    bytes.resize(start + kIndexFixedSize, '\0');
    bytes[start + kIndexFlags] = static_cast<char>(message.flags);
    Put32(bytes, start + kIndexNumber, static_cast<std::uint32_t>(i + 1));
    Put32(bytes, start + kIndexMailboxOffset, mailbox_offset);
    Put32(bytes, start + kIndexMailboxLength, mailbox_length);
    Put32(bytes, start + kIndexLength,
          message.index_length.value_or(static_cast<std::uint32_t>(kIndexFixedSize + tail.size())));
    bytes += tail;
    mailbox_offset += mailbox_length;
  }
  Put32(bytes, 4, static_cast<std::uint32_t>(messages.size()));
  return bytes;
}

std::uint64_t Oe4FolderRecordOffset(std::size_t slot) {
  return kFoldersHeaderSize + slot * kFolderRecordStride;
}

std::string Oe4FoldersFile(const std::vector<Oe4FolderEntry>& entries, Oe4Layout layout,
                           const std::vector<std::size_t>& slots) {
  auto slot_of = [&](std::size_t i) { return slots.empty() ? i : slots.at(i); };
  // The chain always starts with the record right after the header.
  if (!entries.empty() && slot_of(0) != 0)
    throw std::invalid_argument("chain must start in slot 0");
  std::size_t slot_count = entries.size();
  for (std::size_t slot : slots) slot_count = std::max(slot_count, slot + 1);
  std::string bytes(Oe4FolderRecordOffset(std::max<std::size_t>(slot_count, 1)), '\0');
  Put32(bytes, 4, static_cast<std::uint32_t>(entries.size()));

  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Oe4FolderEntry& entry = entries[i];
    const std::size_t record = Oe4FolderRecordOffset(slot_of(i));
    const std::uint32_t next =
        i + 1 < entries.size() ? static_cast<std::uint32_t>(Oe4FolderRecordOffset(slot_of(i + 1)))
                               : 0;
    if (layout == Oe4Layout::kFirst) {
      Put32(bytes, record + kFirstLayoutNext, next);
    } else {
      // The second layout keeps a link back to the previous record beside the forward link.
      const std::uint32_t previous =
          i > 0 ? static_cast<std::uint32_t>(Oe4FolderRecordOffset(slot_of(i - 1))) : 0;
      Put32(bytes, record + kSecondLayoutNext, next);
      Put32(bytes, record + kFirstLayoutNext, previous);
    }
    Put32(bytes, record + kFolderNumber, entry.id);
    PutText(bytes, record + kFolderName, entry.name, kFolderNameSize);
    PutText(bytes, record + kMailboxName, entry.mailbox, kMailboxNameSize);
    Put32(bytes, record + kParentNumber, entry.parent_id);
  }
  return bytes;
}

std::uint32_t Oe4Store::AddFolder(const std::string& name, std::uint32_t parent_id,
                                  std::vector<Oe4Message> messages,
                                  std::optional<std::string> mailbox) {
  std::uint32_t id = 1;
  while (std::any_of(folders.begin(), folders.end(),
                     [id](const Oe4FolderEntry& entry) { return entry.id == id; })) {
    ++id;
  }
  const std::string base = mailbox.value_or(name);
  folders.push_back({id, name, base, parent_id});
  mailboxes[base] = std::move(messages);
  return id;
}

void Oe4Store::AddUnusedRecord() { folders.push_back({0, "", "", 0}); }

std::map<std::string, std::string> Oe4Store::Files() const {
  std::map<std::string, std::string> files;
  if (with_folders_file) files["folders.nch"] = Oe4FoldersFile(folders, layout);
  for (const auto& [base, messages] : mailboxes) {
    files[base + ".mbx"] = Oe4MailboxFile(messages);
    files[base + ".idx"] = Oe4IndexFile(messages);
  }
  return files;
}

void Oe4Store::WriteTo(const std::filesystem::path& dir) const {
  std::filesystem::create_directories(dir);
  for (const auto& [name, bytes] : Files()) {
    std::ofstream out(dir / name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + (dir / name).string());
  }
}

void Oe4Store::AddTo(platform::MemoryFileSystem& files, const std::string& dir) const {
  for (const auto& [name, bytes] : Files()) {
    if (!files.AddFile(dir + "\\" + name, bytes)) throw std::runtime_error("cannot add " + name);
  }
}

std::string Oe4TestMessage(int n, const std::string& extra_headers) {
  const std::string number = std::to_string(n);
  const std::string minute = std::to_string(10 + n % 50);
  return "From: Sender " + number + " <sender" + number + "@example.org>\r\n" +
         "To: reader@example.net\r\nSubject: Message " + number + "\r\n" +
         "Date: Tue, 3 Aug 1999 10:" + minute + ":00 +0200\r\n" + extra_headers + "\r\n" +
         "Body of message " + number + ".\r\n";
}

}  // namespace kv::testing
