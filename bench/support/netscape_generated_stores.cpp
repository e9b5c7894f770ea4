#include "support/netscape_generated_stores.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string_view>

#include "support/bench_random.h"

namespace kv::testing {
namespace {

struct Mail {
  std::string from, to, subject, date, body;
  std::string separator_date;  // asctime-like date of the "From - " line
  std::string mozilla_status = "0001";
  bool received = true;
};

NsMessage Stored(const Mail& mail, int number, std::uint32_t flags, std::uint16_t kind) {
  std::string text =
      "X-Mozilla-Status: " + mail.mozilla_status + "\r\nX-Mozilla-Status2: 00000000\r\n";
  if (mail.received) {
    text += "Return-Path: <" + mail.from.substr(mail.from.find('<') + 1);
    text.pop_back();
    text +=
        ">\r\nReceived: from mail.example.com (mail.example.com [192.0.2.25])\r\n"
        "\tby pop.example.net with ESMTP id AA0" +
        std::to_string(2000 + number) + "\r\n\tfor <reader@example.net>; " + mail.date + "\r\n";
  }
  text += "Message-ID: <" + std::to_string(19990000 + number) + ".sample@mail.example.com>\r\n" +
          "Date: " + mail.date + "\r\nFrom: " + mail.from + "\r\nX-Mailer: Mozilla 4.7 [en] " +
          "(Win98; I)\r\nX-Accept-Language: en\r\nMIME-Version: 1.0\r\nTo: " + mail.to +
          "\r\nSubject: " + mail.subject +
          "\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
          "Content-Transfer-Encoding: 8bit\r\n\r\n" +
          mail.body + "\r\n";
  return {text, flags, kind, "From - " + mail.separator_date + "\r\n"};
}

const char* const kAnna = "Anna Lindqvist <anna@example.com>";
const char* const kReader = "Pat Reader <reader@example.net>";
const char* const kBruno = "=?iso-8859-1?Q?Bruno_Dupr=E9?= <bruno@example.org>";

}  // namespace

NsMailDirectory NsSampleStore() {
  NsMailDirectory store;
  int n = 0;
  NsFolder inbox("Inbox");
  inbox.messages = {
      Stored({kAnna, kReader, "Minutes of Tuesday's meeting", "Tue, 3 Aug 1999 09:12:44 +0200",
              "Hi Pat,\r\n\r\nthe minutes are below. Next meeting is on the 10th.\r\n\r\n"
              ">From the floor: nobody objected to the new schedule.\r\n\r\nAnna\r\n",
              "Tue Aug 03 09:15:02 1999"},
             ++n, kNsFlagRead, kNsKindIncoming),
      Stored({kBruno, kReader,
              "=?iso-8859-1?Q?Re=3A_caf=E9_on_Friday=3F?=", "Wed, 4 Aug 1999 17:40:02 +0200",
              "Bonjour Pat,\r\n\r\nFriday at the caf\xE9 near the station suits me.\r\n\r\n"
              "Bruno\r\n",
              "Wed Aug 04 17:41:30 1999", "0000"},
             ++n, 0, kNsKindIncoming),
  };
  NsFolder projects("Projects");
  projects.messages = {Stored({kAnna, kReader, "Project plan v2", "Fri, 16 Jul 1999 14:30:00 +0200",
                               "The second version of the plan:\r\n1. Collect requirements\r\n"
                               "2. Review\r\n3. Ship\r\n",
                               "Fri Jul 16 14:31:00 1999", "0000"},
                              ++n, 0, kNsKindIncoming)};
  NsFolder archive("1998");
  archive.messages = {
      Stored({kBruno, kReader, "Year-end figures", "Wed, 30 Dec 1998 10:15:00 +0100",
              "The figures for 1998 are final.\r\n", "Wed Dec 30 10:16:00 1998"},
             ++n, kNsFlagRead, kNsKindIncoming)};
  projects.subfolders.push_back(archive);
  inbox.subfolders.push_back(projects);
  store.folders.push_back(inbox);

  NsFolder sent("Sent");
  sent.messages = {Stored({kReader, kBruno, "Friday", "Wed, 4 Aug 1999 18:02:10 +0200",
                           "Bruno,\r\n\r\nsee you on Friday.\r\n\r\nPat\r\n",
                           "Wed Aug 04 18:02:10 1999", "0001", false},
                          ++n, kNsFlagRead, kNsKindOutgoing)};
  store.folders.push_back(sent);
  NsFolder drafts("Drafts");
  drafts.messages = {
      Stored({kReader, kAnna, "Unfinished reply", "Sat, 7 Aug 1999 09:00:00 +0200",
              "Anna, about the plan: \r\n", "Sat Aug 07 09:00:00 1999", "0001", false},
             ++n, kNsFlagRead, kNsKindOutgoing)};
  store.folders.push_back(drafts);
  store.folders.push_back(NsFolder("Trash"));
  NsFolder private_folder("Priv\xE9");
  private_folder.messages = {
      Stored({kBruno, kReader, "Photos from the trip", "Sun, 8 Aug 1999 20:45:00 +0200",
              "The photos are on their way by post.\r\n", "Sun Aug 08 20:46:00 1999", "0000"},
             ++n, 0, kNsKindIncoming)};
  store.folders.push_back(private_folder);
  return store;
}

std::vector<std::pair<std::string, std::string>> NsFuzzSeeds() {
  std::vector<SnmMessage> messages;
  for (std::uint32_t n = 0; n < 7; ++n) {
    messages.push_back({n * 100, 100, n % 2, static_cast<std::uint16_t>(n == 3 ? 33 : 0), n});
  }
  auto summary = [&messages](std::size_t fanout, std::uint8_t tail, bool extra) {
    SnmSummary built;
    built.folder_name = "Drafts";
    built.messages = messages;
    built.node_fanout = fanout;
    built.class_tail_units = tail;
    built.extra_classes = extra;
    return built;
  };
  SnmSummary split_keys = summary(2, 0, false);
  split_keys.key_blocks = {{0, 1, 1}, {3}, {}, {4, 5, 6, 99}};
  SnmSummary unnamed = summary(0, 1, false);
  unnamed.folder_name = std::nullopt;
  SnmSummary empty = summary(0, 0, false);
  empty.counts = std::make_pair(0u, 0u);
  return {
      {"root-leaf", SnmFile(summary(0, 0, false))},
      {"two-levels", SnmFile(summary(2, 2, true))},
      {"three-levels", SnmFile(summary(1, 0, false))},
      {"split-keys", SnmFile(split_keys)},
      {"unnamed", SnmFile(unnamed)},
      {"counts-zero", SnmFile(empty)},
  };
}

namespace {

constexpr int kBenchTopFolders = 8;
constexpr int kBenchSubfoldersPerTop = 2;

// Mostly small messages, some larger, a few up to 1 MiB; CR LF lines as the client keeps them on
// Windows, and now and then a body line starting with "From " (quoted, as the client writes it).
std::string BenchText(BenchRandom& random, int number) {
  const std::uint32_t roll = random.Between(0, 99);
  const std::size_t size = roll < 70   ? random.Between(1024, 8192)
                           : roll < 95 ? random.Between(8192, 65536)
                                       : random.Between(65536, 1 << 20);
  const std::string who = std::to_string(number % 97);
  std::string text =
      "X-Mozilla-Status: 0001\r\nX-Mozilla-Status2: 00000000\r\nFrom: Sender " + who + " <sender" +
      who + "@example.org>\r\nTo: reader@example.net\r\n" + "Subject: Message " +
      std::to_string(number) + "\r\nDate: Tue, " + std::to_string(1 + number % 28) + " Aug 1999 " +
      std::to_string(10 + number % 12) + ":" + std::to_string(10 + number % 50) +
      ":00 +0200\r\nMessage-ID: <" + std::to_string(number) + "@bench.example>\r\n\r\n";
  static constexpr std::string_view kWords = "lorem ipsum dolor sit amet consectetur adipiscing";
  while (text.size() < size) {
    if (random.Between(0, 49) == 0) text += ">From the archive: ";
    const std::size_t start = random.Between(0, static_cast<std::uint32_t>(kWords.size() - 20));
    text += kWords.substr(start, 20);
    text += kWords.substr(0, random.Between(20, 50));
    text += "\r\n";
  }
  return text;
}

// By message number modulo 10: unread, outgoing (unsent in Drafts, sent elsewhere), then read.
NsMessage BenchMessage(BenchRandom& random, int number) {
  const int kind = number % 10;
  return {BenchText(random, number), kind == 0 ? 0u : kNsFlagRead,
          kind == 1 ? kNsKindOutgoing : kNsKindIncoming};
}

void WriteBenchFile(const std::filesystem::path& path, const std::string& bytes,
                    NsStoreTotals& totals) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
  totals.file_bytes += bytes.size();
}

}  // namespace

NsStoreTotals WriteNsBenchStore(const std::filesystem::path& dir, std::uint64_t message_bytes) {
  constexpr int kFolderCount = kBenchTopFolders * (1 + kBenchSubfoldersPerTop);
  const std::uint64_t per_folder = message_bytes / kFolderCount + 1;
  BenchRandom random(0x2545F4914F6CDD1DULL);
  NsStoreTotals totals;
  int number = 0;
  for (int top = 0; top < kBenchTopFolders; ++top) {
    for (int sub = 0; sub <= kBenchSubfoldersPerTop; ++sub) {
      const std::string top_name = top == 0 ? "Drafts" : "Folder " + std::to_string(top);
      const std::filesystem::path folder_dir = sub == 0 ? dir : dir / (top_name + ".sbd");
      const std::string name = sub == 0 ? top_name : "Sub " + std::to_string(sub);
      std::filesystem::create_directories(folder_dir);
      std::vector<NsMessage> messages;
      std::uint64_t bytes = 0;
      while (bytes < per_folder) {
        NsMessage message = BenchMessage(random, ++number);
        bytes += message.text.size();
        messages.push_back(std::move(message));
      }
      auto [mailbox, entries] = NsMailbox(messages);
      for (const NsMessage& message : messages) {
        ++totals.messages;
        totals.separator_bytes += message.separator.size();
        totals.carriage_returns += static_cast<std::uint64_t>(
            std::count(message.text.begin(), message.text.end(), '\r') +
            std::count(message.separator.begin(), message.separator.end(), '\r'));
      }
      totals.message_bytes += mailbox.size();
      SnmSummary summary;
      summary.folder_name = name;
      summary.messages = std::move(entries);
      summary.node_fanout = 64;
      WriteBenchFile(folder_dir / name, mailbox, totals);
      WriteBenchFile(folder_dir / (name + ".snm"), SnmFile(summary), totals);
    }
  }
  return totals;
}

}  // namespace kv::testing
