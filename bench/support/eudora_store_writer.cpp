#include "support/eudora_store_writer.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "platform/fake/memory_file_system.h"

namespace kv::testing {
namespace {

// Summary header fields.
constexpr std::size_t kTocVersion = 0;  // "1", zero-terminated
constexpr std::size_t kTocName = 8;     // the mailbox's name, 32 bytes
constexpr std::size_t kTocNameSize = 32;
constexpr std::size_t kTocKind = 40;           // 16-bit: 0 In, 1 Out, 2 Junk, 3 Trash, 4 other
constexpr std::size_t kTocMessageCount = 102;  // 16-bit

// Summary record fields.
constexpr std::size_t kRecordOffset = 0;
constexpr std::size_t kRecordLength = 4;
constexpr std::size_t kRecordTime = 8;
constexpr std::size_t kRecordState = 12;
constexpr std::size_t kRecordEncoding = 14;
constexpr std::size_t kRecordMime = 15;
constexpr std::size_t kRecordPriority = 16;
constexpr std::size_t kRecordDate = 18;
constexpr std::size_t kRecordDateSize = 32;
constexpr std::size_t kRecordFrom = 50;
constexpr std::size_t kRecordFromSize = 64;
constexpr std::size_t kRecordSubject = 114;
constexpr std::size_t kRecordSubjectSize = 64;

constexpr std::uint32_t kFirstTime = 1292240575;  // December 2010

void Put(std::string& bytes, std::size_t offset, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) {
    bytes[offset + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

void PutText(std::string& bytes, std::size_t offset, const std::string& text, std::size_t field) {
  const std::size_t length = std::min(text.size(), field - 1);
  std::copy_n(text.begin(), length, bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::string HeaderValue(const std::string& text, const std::string& name) {
  const std::string key = "\n" + name + ": ";
  const std::string lined = "\n" + text;
  const std::size_t at = lined.find(key);
  if (at == std::string::npos) return {};
  const std::size_t start = at + key.size();
  const std::size_t end = lined.find_first_of("\r\n", start);
  return lined.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string WithLineEnd(const std::string& text) {
  if (text.empty() || text.back() == '\n') return text;
  return text + "\r\n";
}

std::uint16_t MailboxKind(const std::string& name) {
  if (name == "In") return 0;
  if (name == "Out") return 1;
  if (name == "Junk") return 2;
  if (name == "Trash") return 3;
  return 4;
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir.empty() ? name : dir + "/" + name;
}

}  // namespace

std::string EudoraSeparatorLine(const EudoraMessage& message) {
  return "From ???@??? " + message.separator_date;
}

std::string EudoraMailboxFile(const std::vector<EudoraMessage>& messages) {
  std::string bytes;
  for (const EudoraMessage& message : messages) {
    bytes += EudoraSeparatorLine(message) + "\r\n";
    bytes += WithLineEnd(message.text);
  }
  return bytes;
}

std::string EudoraTocFile(const std::string& mailbox_name, std::uint16_t kind,
                          const std::vector<EudoraMessage>& messages) {
  std::string bytes(kEudoraTocHeaderSize, '\0');
  PutText(bytes, kTocVersion, "1", 2);
  PutText(bytes, kTocName, mailbox_name, kTocNameSize);
  Put(bytes, kTocKind, kind, 2);
  Put(bytes, kTocMessageCount, messages.size(), 2);
  std::uint64_t offset = 0;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const EudoraMessage& message = messages[i];
    const std::uint64_t length =
        EudoraSeparatorLine(message).size() + 2 + WithLineEnd(message.text).size();
    std::string record(kEudoraTocRecordSize, '\0');
    Put(record, kRecordOffset, offset, 4);
    Put(record, kRecordLength, length, 4);
    Put(record, kRecordTime, kFirstTime + 3600 * i, 4);
    Put(record, kRecordState, message.state, 1);
    Put(record, kRecordEncoding, message.encoding, 1);
    Put(record, kRecordMime, message.mime, 1);
    Put(record, kRecordPriority, message.priority, 1);
    PutText(record, kRecordDate, "11:42 PM 12/12/2010", kRecordDateSize);
    PutText(record, kRecordFrom, HeaderValue(message.text, "From"), kRecordFromSize);
    PutText(record, kRecordSubject, HeaderValue(message.text, "Subject"), kRecordSubjectSize);
    bytes += record;
    offset += length;
  }
  return bytes;
}

std::string EudoraFolderMap(const std::vector<EudoraMapEntry>& entries) {
  std::string bytes;
  for (const EudoraMapEntry& entry : entries) {
    bytes += entry.name + "," + entry.file + "," + entry.type + "," + entry.flag + "\r\n";
  }
  return bytes;
}

void EudoraStore::AddMailbox(const std::string& folder, const std::string& name,
                             std::vector<EudoraMessage> messages, bool with_toc) {
  Line line;
  line.folder = folder;
  line.text = EudoraFolderMap({{name, name + ".mbx", "S", name == "In" ? "Y" : "N"}});
  line.text.resize(line.text.size() - 2);
  line.mailbox_name = name;
  line.messages = std::move(messages);
  line.mailbox = true;
  line.with_toc = with_toc;
  lines_.push_back(std::move(line));
}

void EudoraStore::AddFolder(const std::string& folder, const std::string& name) {
  Line line;
  line.folder = folder;
  line.text = name + "," + name + ".fol,F,N";
  lines_.push_back(std::move(line));
  folder_dirs_[Join(folder, name)] = Join(DirectoryOf(folder), name + ".fol");
}

void EudoraStore::AddMapLine(const std::string& folder, const std::string& line) {
  lines_.push_back(Line{folder, line, "", {}, false, false});
}

void EudoraStore::SetSetting(const std::string& key, const std::string& value) {
  settings_.emplace_back(key, value);
}

void EudoraStore::AddFile(const std::string& relative, std::string bytes) {
  extra_files_[relative] = std::move(bytes);
}

std::string EudoraStore::DirectoryOf(const std::string& folder) const {
  auto found = folder_dirs_.find(folder);
  if (found == folder_dirs_.end()) throw std::invalid_argument("no folder " + folder);
  return found->second;
}

std::map<std::string, std::string> EudoraStore::Files() const {
  std::map<std::string, std::string> files = extra_files_;
  for (const auto& [folder, dir] : folder_dirs_) files[Join(dir, "descmap.pce")];
  for (const Line& line : lines_) {
    const std::string dir = DirectoryOf(line.folder);
    files[Join(dir, "descmap.pce")] += line.text + "\r\n";
    if (!line.mailbox) continue;
    files[Join(dir, line.mailbox_name + ".mbx")] = EudoraMailboxFile(line.messages);
    if (line.with_toc) {
      files[Join(dir, line.mailbox_name + ".toc")] =
          EudoraTocFile(line.mailbox_name, MailboxKind(line.mailbox_name), line.messages);
    }
  }
  std::string settings = "[Settings]\r\n";
  for (const auto& [key, value] : settings_) settings += key + "=" + value + "\r\n";
  files[settings_file_] = settings;
  return files;
}

void EudoraStore::WriteTo(const std::filesystem::path& dir) const {
  for (const auto& [relative, bytes] : Files()) {
    const std::filesystem::path path = dir / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }
}

void EudoraStore::AddTo(platform::MemoryFileSystem& files, const std::string& dir) const {
  files.AddDirectory(dir);
  for (const auto& [relative, bytes] : Files()) {
    std::string path = dir + "\\" + relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    files.AddFile(path, bytes);
  }
}

std::string EudoraTestMessage(int n, const std::string& extra_headers, const std::string& body) {
  const std::string number = std::to_string(n);
  return "Return-Path: <sender" + number +
         "@example.com>\r\n"
         "From: Sender " +
         number + " <sender" + number +
         "@example.com>\r\n"
         "To: reader@example.com\r\n"
         "Subject: Message " +
         number +
         "\r\n"
         "Date: Sun, 12 Dec 2010 23:42:55 -0600\r\n" +
         extra_headers + "\r\n" + (body.empty() ? "Body of message " + number + ".\r\n" : body);
}

}  // namespace kv::testing
