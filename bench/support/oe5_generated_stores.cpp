#include "support/oe5_generated_stores.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "fuzz/fuzz_input.h"
#include "support/bench_random.h"

namespace kv::testing {
namespace {

constexpr const char* kReturnPath = "Return-Path: <sender@example.com>\r\n";

DbxMessage Message(std::string text, std::uint32_t flags) {
  DbxMessage message;
  message.text = std::move(text);
  message.flags = flags;
  return message;
}

DbxMessage Received(int n, std::uint32_t flags, const std::string& extra = "") {
  return Message(DbxTestMessage(n, kReturnPath + extra), flags);
}

// A message of about `size` bytes: headers, then lines of words, CR LF throughout, some lines
// starting with "From ".
std::string BenchMessage(BenchRandom& random, std::uint64_t number, std::size_t size,
                         bool received) {
  static const char* const kWords[] = {"import",    "message", "folder",  "store",   "mail",
                                       "archive",   "reply",   "From",    "the",     "a",
                                       "quarterly", "report",  "meeting", "Tuesday", "attached"};
  std::string text;
  if (received) text += "Return-Path: <list-" + std::to_string(number % 97) + "@example.org>\r\n";
  text += "From: Sender " + std::to_string(number % 1000) + " <sender@example.com>\r\n";
  text += "To: reader@example.com\r\nSubject: Benchmark message " + std::to_string(number) +
          "\r\nDate: Tue, 4 Jan 2000 09:30:00 +0100\r\nMessage-ID: <" + std::to_string(number) +
          "@bench.example.com>\r\n\r\n";
  std::string line;
  while (text.size() < size) {
    const char* word = kWords[random.Below(std::size(kWords))];
    if (!line.empty()) line += ' ';
    line += word;
    if (line.size() > 60 + random.Below(15)) {
      text += line + "\r\n";
      line.clear();
    }
  }
  return text + line + "\r\n";
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

DbxStore Oe5SampleStore() {
  DbxStore store = DbxLocalStore();
  store.shape = DbxIndexShape::kLeftChain;
  store.fanout = 3;
  const std::uint32_t inbox =
      store.AddFolder("Inbox", 1,
                      {Received(1, kDbxRead), Received(2, 0),
                       Received(3, kDbxRead, "X-KVNorvale-StatusMsg: 1\r\n")});
  std::string long_text = DbxTestMessage(4, kReturnPath);
  for (int line = 0; line < 40; ++line) {
    long_text +=
        "Line " + std::to_string(line) + " of the minutes, long enough to need blocks.\r\n";
  }
  const std::uint32_t projects = store.AddFolder("Projects", inbox, {Message(long_text, 0)});
  store.AddFolder("Archive 1998", projects, {Received(5, kDbxRead)});
  store.AddFolder("Outbox", 1, {Message(DbxTestMessage(6), kDbxUnsent)});
  store.AddFolder("Sent Items", 1, {Message(DbxTestMessage(7), kDbxRead)});
  store.AddFolder("Deleted Items", 1);
  store.AddFolder("Drafts", 1, {Message(DbxTestMessage(8), kDbxUnsent | kDbxRead)});
  store.AddFolder("Priv\xE9", 1, {Received(9, 0)});
  store.AddFolder("Offline", 1);
  store.folders.back().file_on_disk = false;
  // A news account's folder: outside the local folders, never offered.
  store.AddFolder("news.example.com", 0, {Received(10, 0)});
  store.folders.back().parent_id.reset();
  return store;
}

std::vector<std::pair<std::string, std::string>> Oe5FuzzSeeds() {
  using fuzz::EncodeFuzzInput;
  using fuzz::kGeneratedFoldersFile;
  auto messages = [](int count) {
    std::vector<DbxMessage> list;
    for (int n = 1; n <= count; ++n) list.push_back(Received(n, n % 2 ? kDbxRead : 0));
    return list;
  };

  // Damaged text chains: a block of exactly 512 bytes, one of 513, a chain that loops, then a
  // record without field 0x11 that ends the folder before the last message.
  DbxFileWriter damaged(DbxFileWriter::Kind::kMessages);
  std::vector<std::uint32_t> records;
  auto add = [&](std::uint32_t first, bool size_field) {
    DbxRecordSpec record;
    record.fields = {DbxField::Direct(0x81, kDbxRead), DbxField::Direct(0x84, first)};
    if (size_field) record.fields.push_back(DbxField::Direct(0x91, 1));
    records.push_back(damaged.AddRecord(record));
  };
  add(damaged.AddText(std::string(512, 'a')), true);
  add(damaged.AddBlock(1, "x", damaged.AddBlock(513, std::string(513, 'b'))), true);
  const std::uint32_t loop = damaged.AddBlock(2, "lo");
  damaged.Put32(loop + 12, damaged.AddBlock(2, "op", loop));
  add(loop, true);
  add(damaged.AddText("Subject: no size\r\n\r\n"), false);
  add(damaged.AddText("Subject: after\r\n\r\n"), true);
  damaged.SetRoot(damaged.AddIndex(MakeIndex(records, DbxIndexShape::kFlat)),
                  static_cast<std::uint32_t>(records.size()));

  // Fields stored indirectly.
  std::vector<DbxMessage> indirect = messages(2);
  for (DbxMessage& message : indirect) {
    message.flags_indirect = true;
    message.size_field = false;
    message.extra_fields = {DbxField::Word(0x11, 100)};
  }

  // A folder tree whose every folder uses the one file: nested, a sibling extending a name, a
  // self-parented folder, a nameless one, and the local root's parent.
  DbxStore tree;
  tree.shape = DbxIndexShape::kEntrySubtrees;
  tree.fanout = 2;
  tree.folders.push_back(DbxFolder{0, std::nullopt, "Root", std::nullopt, std::nullopt, {}, true});
  tree.folders.push_back(DbxFolder{1, 0, "Local", std::nullopt, std::nullopt, {}, true});
  tree.folders.push_back(DbxFolder{2, 1, "Inbox", fuzz::kOe5FuzzFile, 2, {}, true});
  tree.folders.push_back(DbxFolder{3, 2, "Sub", fuzz::kOe5FuzzFile, 1, {}, true});
  tree.folders.push_back(DbxFolder{4, 1, "Inbox2", fuzz::kOe5FuzzFile, 5, {}, true});
  tree.folders.push_back(DbxFolder{5, 5, "Self", fuzz::kOe5FuzzFile, 2, {}, true});
  tree.folders.push_back(DbxFolder{6, 1, std::nullopt, fuzz::kOe5FuzzFile, 2, {}, true});

  return {
      {"flat", EncodeFuzzInput(kGeneratedFoldersFile, {"", DbxFolderFile(messages(3))})},
      {"left-chain",
       EncodeFuzzInput(kGeneratedFoldersFile,
                       {"", DbxFolderFile(messages(20), DbxIndexShape::kLeftChain, 3)})},
      {"entry-subtrees",
       EncodeFuzzInput(kGeneratedFoldersFile,
                       {"", DbxFolderFile(messages(20), DbxIndexShape::kEntrySubtrees, 2)})},
      {"damaged-chains", EncodeFuzzInput(kGeneratedFoldersFile, {"", damaged.bytes()})},
      {"indirect-fields", EncodeFuzzInput(kGeneratedFoldersFile, {"", DbxFolderFile(indirect)})},
      {"folder-tree", EncodeFuzzInput(fuzz::kOe5KeepEmptyFolders,
                                      {tree.FoldersFile(), DbxFolderFile(messages(3))})},
  };
}

Oe5StoreTotals WriteOe5BenchStore(const std::filesystem::path& dir, std::uint64_t message_bytes) {
  std::filesystem::create_directories(dir);
  BenchRandom random(20000104);
  DbxStore store = DbxLocalStore();
  store.shape = DbxIndexShape::kLeftChain;
  store.fanout = 100;
  const char* const kNames[] = {"Inbox",  "Sent Items", "Projects", "Archive 1998", "Lists",
                                "kernel", "Family",     "Receipts", "Travel",       "Old Inbox"};
  // Folders nest in pairs: every second one below the one before.
  std::vector<std::uint32_t> ids;
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    const std::uint32_t parent = i % 2 == 1 ? ids.back() : 1;
    ids.push_back(store.AddFolder(kNames[i], parent));
  }
  Oe5StoreTotals totals;
  const std::uint64_t per_folder = message_bytes / ids.size() + 1;
  std::uint64_t number = 0;
  for (DbxFolder& folder : store.folders) {
    if (!folder.file) continue;
    std::uint64_t bytes = 0;
    while (bytes < per_folder) {
      const std::uint32_t pick = random.Below(100);
      const std::size_t size = pick < 85   ? 2048 + random.Below(14 * 1024)
                               : pick < 99 ? 16 * 1024 + random.Below(112 * 1024)
                                           : 256 * 1024 + random.Below(768 * 1024);
      const bool received = random.Below(10) != 0;
      DbxMessage message = Message(BenchMessage(random, ++number, size, received),
                                   random.Below(3) == 0 ? 0 : kDbxRead);
      if (!received && random.Below(4) == 0) message.flags = kDbxUnsent;
      bytes += message.text.size();
      totals.message_bytes += message.text.size();
      totals.carriage_returns +=
          static_cast<std::uint64_t>(std::count(message.text.begin(), message.text.end(), '\r'));
      folder.messages.push_back(std::move(message));
    }
    const std::string file = DbxFolderFile(folder.messages, store.shape, store.fanout);
    WriteFile(dir / DbxDiskName(*folder.file), file);
    totals.file_bytes += file.size();
    totals.messages += folder.messages.size();
    ++totals.folders;
    folder.count = static_cast<std::uint32_t>(folder.messages.size());
    folder.messages.clear();  // keeps the generator's memory to one folder at a time
  }
  const std::string folders_file = store.FoldersFile();
  WriteFile(dir / "Folders.dbx", folders_file);
  totals.file_bytes += folders_file.size();
  return totals;
}

}  // namespace kv::testing
