#include "support/oe4_generated_stores.h"

#include <fstream>
#include <stdexcept>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "support/bench_random.h"

namespace kv::testing {
namespace {

struct Mail {
  std::string from, to, subject, date, body;
  std::string extra_headers;
  bool received = true;
};

// An RFC 822 message as a mail client stores it: CR LF line ends, trace headers on received mail.
std::string Render(const Mail& mail, int number) {
  const std::string id = "<" + std::to_string(19990000 + number) + ".sample@mail.example.com>";
  std::string text;
  if (mail.received) {
    text += "Return-Path: <" + mail.from.substr(mail.from.find('<') + 1);
    text.pop_back();
    text += ">\r\n";
    text +=
        "Received: from mail.example.com (mail.example.com [192.0.2.25])\r\n"
        "\tby pop.example.net with ESMTP id AA0" +
        std::to_string(1000 + number) + "\r\n\tfor <reader@example.net>; " + mail.date + "\r\n";
  }
  text += "From: " + mail.from + "\r\nTo: " + mail.to + "\r\nSubject: " + mail.subject +
          "\r\nDate: " + mail.date + "\r\nMessage-ID: " + id +
          "\r\nMIME-Version: 1.0\r\n"
          "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
          "Content-Transfer-Encoding: 8bit\r\n" +
          mail.extra_headers + "\r\n" + mail.body;
  return text;
}

Oe4Message Stored(const Mail& mail, int number, std::uint8_t flags) {
  return {Render(mail, number), flags, std::nullopt};
}

const char* const kAnna = "Anna Lindqvist <anna@example.com>";
const char* const kReader = "Pat Reader <reader@example.net>";
const char* const kBruno = "=?iso-8859-1?Q?Bruno_Dupr=E9?= <bruno@example.org>";

}  // namespace

Oe4Store Oe4SampleStore() {
  Oe4Store store;
  store.layout = Oe4Layout::kFirst;
  int n = 0;

  const std::uint32_t inbox = store.AddFolder(
      "Inbox", 0,
      {
          Stored({kAnna, kReader, "Minutes of Tuesday's meeting", "Tue, 3 Aug 1999 09:12:44 +0200",
                  "Hi Pat,\r\n\r\nthe minutes are below. Next meeting is on the 10th.\r\n\r\n"
                  "From the floor: nobody objected to the new schedule.\r\n\r\nAnna\r\n",
                  ""},
                 ++n, 0x10),
          Stored({kBruno, kReader,
                  "=?iso-8859-1?Q?Re=3A_caf=E9_on_Friday=3F?=", "Wed, 4 Aug 1999 17:40:02 +0200",
                  "Bonjour Pat,\r\n\r\nFriday at the caf\xE9 near the station suits me.\r\n\r\n"
                  "Bruno\r\n",
                  ""},
                 ++n, 0x12),
          Stored({kAnna, kReader, "Old draft notes (deleted)", "Mon, 2 Aug 1999 08:00:00 +0200",
                  "This message was deleted and must not be imported.\r\n", ""},
                 ++n, 0x01 | 0x10),
          Stored({"Talvon Export <export@example.net>", kReader, "Imported status sample",
                  "Thu, 5 Aug 1999 11:03:27 +0200",
                  "This message was exported by the host before and carries its status "
                  "header.\r\n",
                  "X-KVNorvale-StatusMsg: 1\r\n"},
                 ++n, 0x10),
      },
      "Inbox");
  store.AddUnusedRecord();
  const std::uint32_t projects =
      store.AddFolder("Projects", inbox,
                      {Stored({kAnna, kReader, "Project plan v2", "Fri, 16 Jul 1999 14:30:00 +0200",
                               "Attached in the text below is the second version of the plan.\r\n"
                               "1. Collect requirements\r\n2. Review\r\n3. Ship\r\n",
                               ""},
                              ++n, 0x12)},
                      "Projects");
  store.AddFolder("Archive 1998", projects,
                  {Stored({kBruno, kReader, "Year-end figures", "Wed, 30 Dec 1998 10:15:00 +0100",
                           "The figures for 1998 are final.\r\n", ""},
                          ++n, 0x10)},
                  "Archive");
  store.AddFolder(
      "Outbox", 0,
      {Stored({kReader, kAnna, "Queued: agenda for the 10th", "Fri, 6 Aug 1999 18:20:00 +0200",
               "Anna,\r\n\r\nhere is my agenda proposal.\r\n", "", false},
              ++n, 0x08)},
      "Outbox");
  store.AddFolder("Sent Items", 0,
                  {Stored({kReader, kBruno, "Friday", "Wed, 4 Aug 1999 18:02:10 +0200",
                           "Bruno,\r\n\r\nsee you on Friday.\r\n\r\nPat\r\n", "", false},
                          ++n, 0x00)},
                  "Sent Items");
  store.AddFolder("Deleted Items", 0, {}, "Deleted Items");
  store.AddFolder("Drafts", 0,
                  {Stored({kReader, kAnna, "Unfinished reply", "Sat, 7 Aug 1999 09:00:00 +0200",
                           "Anna, about the plan: \r\n", "", false},
                          ++n, 0x0A)},
                  "Drafts");
  store.AddFolder(
      "Priv\xE9", 0,
      {Stored({kBruno, kReader, "Photos from the trip", "Sun, 8 Aug 1999 20:45:00 +0200",
               "The photos are on their way by post.\r\n", ""},
              ++n, 0x12)},
      "Prive");
  return store;
}

std::vector<std::pair<std::string, std::string>> Oe4FuzzSeeds() {
  using fuzz::EncodeFuzzInput;
  const std::string mailbox = fuzz::kOe4FuzzMailbox;
  std::vector<Oe4Message> messages;
  for (std::uint8_t flags : {0x10, 0x01, 0x12, 0x08}) {
    messages.push_back(
        {"Subject: " + std::to_string(flags) + "\r\n\r\nx\r\n", flags, std::nullopt});
  }
  const std::string mbx = Oe4MailboxFile(messages);
  const std::string idx = Oe4IndexFile(messages);

  std::vector<Oe4FolderEntry> flat = {{1, "Inbox", mailbox, 0}};
  std::vector<Oe4FolderEntry> nested = {
      {0, "", "", 0}, {3, "Top", mailbox, 0}, {4, "Child", mailbox, 3}, {5, "Loose", mailbox, 9}};

  std::vector<Oe4Message> zero_length = messages;
  zero_length[0].index_length = 0;

  return {
      {"flat", EncodeFuzzInput(0, {Oe4FoldersFile(flat, Oe4Layout::kFirst), idx, mbx})},
      {"nested-second-layout",
       EncodeFuzzInput(fuzz::kKeepEmptyFolders,
                       {Oe4FoldersFile(nested, Oe4Layout::kSecond), idx, mbx})},
      {"sticky-layout", EncodeFuzzInput(fuzz::kSecondLayoutSticky,
                                        {Oe4FoldersFile(nested, Oe4Layout::kFirst), idx, mbx})},
      {"listing", EncodeFuzzInput(fuzz::kNoFoldersFile, {"", idx, mbx})},
      {"empty-folder",
       EncodeFuzzInput(fuzz::kKeepEmptyFolders, {Oe4FoldersFile(flat, Oe4Layout::kFirst),
                                                 Oe4IndexFile({}), Oe4MailboxFile({})})},
      {"zero-index-length", EncodeFuzzInput(0, {Oe4FoldersFile(flat, Oe4Layout::kFirst),
                                                Oe4IndexFile(zero_length), mbx})},
  };
}

namespace {

constexpr int kBenchTopFolders = 8;
constexpr int kBenchSubfoldersPerTop = 2;

// Mostly small messages, some with attachments, a few large ones; CR LF lines as the store keeps
// them, and now and then a body line starting with "From ".
std::string BenchMessage(BenchRandom& random, int number) {
  std::uint32_t roll = random.Between(0, 99);
  std::size_t size = roll < 70   ? random.Between(1024, 8192)
                     : roll < 95 ? random.Between(8192, 65536)
                                 : random.Between(65536, 1 << 20);
  std::string text =
      "From: Sender " + std::to_string(number % 97) + " <sender" + std::to_string(number % 97) +
      "@example.org>\r\nTo: reader@example.net\r\nSubject: Message " + std::to_string(number) +
      "\r\nDate: Tue, " + std::to_string(1 + number % 28) + " Aug 1999 " +
      std::to_string(10 + number % 12) + ":" + std::to_string(10 + number % 50) +
      ":00 +0200\r\nMessage-ID: <" + std::to_string(number) + "@bench.example>\r\n\r\n";
  static constexpr std::string_view kWords = "lorem ipsum dolor sit amet consectetur adipiscing";
  while (text.size() < size) {
    if (random.Between(0, 49) == 0) text += "From the archive: ";
    std::size_t start = random.Between(0, static_cast<std::uint32_t>(kWords.size() - 20));
    text += kWords.substr(start, 20);
    text += kWords.substr(0, random.Between(20, 50));
    text += "\r\n";
  }
  return text;
}

// By message number modulo 10: unread, draft, sent, deleted (never imported), then read ones.
std::uint8_t BenchFlags(int number) {
  constexpr std::uint8_t kFirstFour[] = {kOe4Received | kOe4Unread, kOe4Draft, 0,
                                         kOe4Received | kOe4Deleted};
  return number % 10 < 4 ? kFirstFour[number % 10] : kOe4Received;
}

void WriteBenchFile(const std::filesystem::path& path, const std::string& bytes,
                    Oe4StoreTotals& totals) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
  totals.file_bytes += bytes.size();
}

}  // namespace

Oe4StoreTotals WriteOe4BenchStore(const std::filesystem::path& dir, std::uint64_t message_bytes) {
  std::filesystem::create_directories(dir);
  constexpr int kFolderCount = kBenchTopFolders * (1 + kBenchSubfoldersPerTop);
  const std::uint64_t per_folder = message_bytes / kFolderCount + 1;
  BenchRandom random(0x5DEECE66DULL);
  Oe4StoreTotals totals;
  std::vector<Oe4FolderEntry> entries;
  int number = 0;
  for (int top = 0; top < kBenchTopFolders; ++top) {
    for (int sub = 0; sub <= kBenchSubfoldersPerTop; ++sub) {
      const auto id = static_cast<std::uint32_t>(entries.size() + 1);
      const auto parent = sub == 0 ? 0u : static_cast<std::uint32_t>(top * 3 + 1);
      std::string name = sub == 0 ? "Folder " + std::to_string(top) : "Sub " + std::to_string(sub);
      std::string mailbox = "mbox" + std::to_string(id);
      entries.push_back({id, name, mailbox, parent});
      std::vector<Oe4Message> messages;
      std::uint64_t bytes = 0;
      while (bytes < per_folder) {
        ++number;
        Oe4Message message{BenchMessage(random, number), BenchFlags(number), std::nullopt};
        bytes += message.text.size();
        if ((message.flags & kOe4Deleted) == 0) {
          ++totals.messages;
          totals.message_bytes += message.text.size();
          for (std::size_t at = message.text.find("\r\n"); at != std::string::npos;
               at = message.text.find("\r\n", at + 2)) {
            ++totals.crlf_pairs;
          }
        }
        messages.push_back(std::move(message));
      }
      WriteBenchFile(dir / (mailbox + ".mbx"), Oe4MailboxFile(messages), totals);
      WriteBenchFile(dir / (mailbox + ".idx"), Oe4IndexFile(messages), totals);
    }
  }
  WriteBenchFile(dir / "folders.nch", Oe4FoldersFile(entries, Oe4Layout::kFirst), totals);
  return totals;
}

}  // namespace kv::testing
