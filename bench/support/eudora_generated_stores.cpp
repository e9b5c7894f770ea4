#include "support/eudora_generated_stores.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "fuzz/fuzz_input.h"
#include "support/bench_random.h"

namespace kv::testing {
namespace {

constexpr std::uint64_t kHashModulus = 2147483629;  // 2^31 - 19
constexpr const char* kAttachDir = "C:\\Program Files\\Eudora\\Attach\\";

std::string AttachmentLine(const std::string& name) {
  return "Attachment Converted: \"" + std::string(kAttachDir) + name + "\"\r\n";
}

std::string EmbeddedLine(const std::string& name, const std::string& content_id) {
  return "Embedded Content: " + name + ": 00000001," + EudoraContentIdHash(content_id) +
         ",00000000,00000000\r\n";
}

// A one-pixel GIF image in the given shade of red: enough for a mail reader to show it.
std::string SmallGif(std::uint8_t red) {
  static constexpr unsigned char kHeader[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0};
  static constexpr unsigned char kRest[] = {0, 0, 0xFF, 0xFF, 0xFF, 0x21, 0xF9, 0x04, 0x01, 0,
                                            0, 0, 0,    0x2C, 0,    0,    0,    0,    1,    0,
                                            1, 0, 0,    0x02, 0x02, 0x44, 0x01, 0,    0x3B};
  std::string gif(reinterpret_cast<const char*>(kHeader), sizeof kHeader);
  gif += static_cast<char>(red);
  gif.append(reinterpret_cast<const char*>(kRest), sizeof kRest);
  return gif;
}

EudoraMessage Message(std::string text, std::uint8_t state, std::string date) {
  EudoraMessage message(std::move(text), state);
  message.separator_date = std::move(date);
  return message;
}

}  // namespace

std::string EudoraContentIdHash(std::string_view content_id) {
  std::uint64_t value = 0;
  for (char c : content_id) value = (value * 256 + static_cast<unsigned char>(c)) % kHashModulus;
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(value + 1));
  return hex;
}

EudoraStore EudoraSampleStore() {
  EudoraStore store;
  store.SetSettingsFileName("Eudora.ini");
  store.SetSetting("POPAccount", "ada@mail.example.org");
  store.SetSetting("RealName", "Ada Reader");
  store.SetSetting("ReturnAddress", "ada@example.org");
  store.SetSetting("UseQuotedPrintable", "1");
  store.SetSetting("SendMIME", "1");

  const std::string received =
      "Received: from mail.example.org by pop.example.org; Tue, 3 Aug 1999 09:12:40 +0200\r\n";
  store.AddMailbox(
      "", "In",
      {Message(
           "Return-Path: <zoe@example.com>\r\n" + received +
               "From: Zo\xEB Mart\xEDn <zoe@example.com>\r\nTo: Ada Reader <ada@example.org>\r\n"
               "Subject: Caf\xE9 on Friday\r\nDate: Tue, 3 Aug 1999 09:12:31 +0200\r\n"
               "Message-ID: <19990803091231.1@example.com>\r\n\r\n"
               "Hello Ada,\r\n\r\nshall we meet at the caf\xE9 on Friday at ten?\r\n\r\n"
               "Zo\xEB\r\n",
           kEudoraRead, "Tue Aug 03 09:12:40 1999"),
       Message("Return-Path: <news@example.net>\r\n" + received +
                   "From: Example News <news@example.net>\r\nTo: ada@example.org\r\n"
                   "Subject: August newsletter\r\nDate: Wed, 4 Aug 1999 07:00:00 -0400\r\n"
                   "MIME-Version: 1.0\r\n\r\n<x-html>\r\n<html><body>\r\n"
                   "<p><img src=\"cid:logo.0804@example.net\" alt=\"Example News\"></p>\r\n"
                   "<h1>August</h1>\r\n<p>Our <b>summer</b> issue.</p>\r\n</body></html>\r\n"
                   "</x-html>\r\n\r\n" +
                   EmbeddedLine("logo.gif", "logo.0804@example.net"),
               kEudoraUnread, "Wed Aug 04 13:05:10 1999"),
       Message("Return-Path: <ben@example.com>\r\n" + received +
                   "From: Ben Carter <ben@example.com>\r\nTo: Ada Reader <ada@example.org>\r\n"
                   "Cc: Team <team@example.com>\r\nSubject: Quarterly report and photo\r\n"
                   "Date: Thu, 5 Aug 1999 16:45:02 +0200\r\nX-KVNorvale-StatusMsg: 1\r\n"
                   "\r\nHere are the report and the photo from the meeting.\r\n\r\nBen\r\n\r\n" +
                   AttachmentLine("report.txt") + AttachmentLine("meeting photo.gif"),
               kEudoraReplied, "Thu Aug 05 16:50:00 1999")});

  store.AddMailbox(
      "", "Out",
      {Message("From: Ada Reader <ada@example.org>\r\nTo: Ben Carter <ben@example.com>\r\n"
               "Bcc: ada@example.org\r\nSubject: Re: Quarterly report and photo\r\n"
               "Date: Fri, 6 Aug 1999 10:02:11 +0200\r\n"
               "X-Attachments: " +
                   std::string(kAttachDir) +
                   "budget.csv;\r\n\r\n"
                   "Thanks, Ben. The budget is attached.\r\n\r\nAda\r\n",
               kEudoraSent, "Fri Aug 06 10:02:11 1999"),
       Message("From: Ada Reader <ada@example.org>\r\nTo: Zo\xEB Mart\xEDn <zoe@example.com>\r\n"
               "Subject: Re: Caf\xE9 on Friday\r\n\r\nFriday at ten is fine.\r\n",
               kEudoraQueued, "Fri Aug 06 10:05:00 1999")});
  store.AddMailbox("", "Trash");
  store.AddFolder("", "Projects");
  store.AddMailbox(
      "Projects", "Kvimport",
      {Message("Return-Path: <ben@example.com>\r\n" + received +
                   "From: Ben Carter <ben@example.com>\r\nTo: ada@example.org\r\n"
                   "Subject: Styled notes\r\nDate: Mon, 9 Aug 1999 11:00:00 +0200\r\n\r\n"
                   "<x-rich>These notes are <bold>styled</bold>.</x-rich>\r\n",
               kEudoraRead, "Mon Aug 09 11:00:00 1999"),
       Message("Return-Path: <mei@example.jp>\r\n" + received +
                   "From: Mei <mei@example.jp>\r\nTo: ada@example.org\r\n"
                   "Subject: Greetings\r\nDate: Tue, 10 Aug 1999 08:30:00 +0900\r\n"
                   "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n"
                   "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF, Ada!\r\n",
               kEudoraUnread, "Tue Aug 10 01:30:00 1999")});
  store.AddMapLine("", "Priv\xE9,Private.mbx,S,N");
  store.AddFile(
      "Private.mbx",
      EudoraMailboxFile({Message(EudoraTestMessage(7), kEudoraRead, "Wed Aug 11 12:00:00 1999")}));
  store.AddFile(
      "Private.toc",
      EudoraTocFile("Private", 4,
                    {Message(EudoraTestMessage(7), kEudoraRead, "Wed Aug 11 12:00:00 1999")}));

  store.AddFile("attach/report.txt", "Quarterly report\r\n\r\nSales: up 4%\r\nCosts: flat\r\n");
  store.AddFile("attach/meeting photo.gif", SmallGif(0x20));
  store.AddFile("attach/budget.csv", "item,amount\nrent,1200\ntravel,300\n");
  store.AddFile("Embedded/logo.gif", SmallGif(0xC0));
  return store;
}

std::vector<std::pair<std::string, std::string>> EudoraFuzzSeeds() {
  using fuzz::EncodeFuzzInput;
  const std::vector<EudoraMessage> plain = {
      {EudoraTestMessage(1), kEudoraUnread},
      {EudoraTestMessage(2, "Cc: c@example.com\r\n Folded: x\r\n"), kEudoraSent},
      {EudoraTestMessage(3, "X-KVNorvale-StatusMsg: 1\r\n"), kEudoraQueued}};
  const std::vector<EudoraMessage> parts = {
      {EudoraTestMessage(4, "X-Attachments: C:\\a.doc; C:\\b.xls;\r\n",
                         "<x-html><p>x</p></x-html>\r\n"),
       kEudoraSent},
      {EudoraTestMessage(5, "Received: from x\r\n",
                         "Text\r\nAttachment Converted: \"C:\\Attach\\a b.txt\"\r\n"
                         "Attachment Converted: C:\\Attach\\c.txt\r\n"),
       kEudoraRead},
      {EudoraTestMessage(6, "", "<x-rich>rich</x-rich>\r\n<html>open"), kEudoraRead}};
  std::string mid_line = EudoraMailboxFile(plain);
  mid_line.insert(mid_line.find("From ???@???", 10), "tail ");
  return {
      {"plain",
       EncodeFuzzInput(0, {"", EudoraTocFile("Mail", 4, plain), EudoraMailboxFile(plain)})},
      {"parts",
       EncodeFuzzInput(0, {"", EudoraTocFile("Mail", 4, parts), EudoraMailboxFile(parts)})},
      {"separator-mid-line",
       EncodeFuzzInput(0, {"", EudoraTocFile("Mail", 4, plain), "junk\r\n" + mid_line})},
      {"no-summary-keep-empty",
       EncodeFuzzInput(fuzz::kEudoraNoSummary | fuzz::kEudoraKeepEmptyFolders,
                       {"Mail,Mail.mbx,S,N\r\nSub,Sub.fol,F,N\r\nX,x.mbx,M,N\r\n", "",
                        EudoraMailboxFile(parts)})},
  };
}

namespace {

constexpr int kBenchTopFolders = 6;
constexpr int kBenchSubfoldersPerTop = 2;

std::string Filler(BenchRandom& random, std::size_t size) {
  static constexpr std::string_view kWords =
      "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor";
  std::string text;
  text.reserve(size + 100);
  while (text.size() < size) {
    if (random.Between(0, 49) == 0) text += "From the archive: ";
    const std::size_t start = random.Between(0, static_cast<std::uint32_t>(kWords.size() - 30));
    text += kWords.substr(start, random.Between(20, 30));
    text += "\r\n";
  }
  return text;
}

struct BenchMessage {
  EudoraMessage message;
  std::string attachment;  // file name in attach/, or empty
  std::string attachment_bytes;
};

// Mostly small plain messages, a fifth in HTML, one in twenty with an attachment file of its own,
// a few large ones; every summary state.
BenchMessage MakeBenchMessage(BenchRandom& random, int number) {
  const std::uint32_t roll = random.Between(0, 99);
  const std::size_t size = roll < 70   ? random.Between(1024, 8192)
                           : roll < 97 ? random.Between(8192, 65536)
                                       : random.Between(65536, 1 << 20);
  const std::string n = std::to_string(number);
  std::string headers =
      "Return-Path: <sender" + std::to_string(number % 97) + "@example.org>\r\nFrom: Sender " +
      std::to_string(number % 97) + " <sender" + std::to_string(number % 97) +
      "@example.org>\r\nTo: reader@example.net\r\nSubject: Message " + n + "\r\nDate: Tue, " +
      std::to_string(1 + number % 28) + " Aug 1999 " + std::to_string(10 + number % 12) + ":" +
      std::to_string(10 + number % 50) + ":00 +0200\r\nMessage-ID: <" + n + "@bench.example>\r\n";
  BenchMessage bench;
  std::string body;
  if (number % 5 == 0) {
    body = "<x-html><html><body><p>\r\n" + Filler(random, size) + "</p></body></html></x-html>\r\n";
  } else {
    body = Filler(random, size);
  }
  if (number % 20 == 7) {
    bench.attachment = "file" + n + ".dat";
    bench.attachment_bytes = Filler(random, random.Between(16 * 1024, 256 * 1024));
    body += "\r\nAttachment Converted: \"C:\\Eudora\\Attach\\" + bench.attachment + "\"\r\n";
  }
  static constexpr std::uint8_t kStates[] = {
      kEudoraUnread, kEudoraRead, kEudoraReplied, kEudoraRead,      kEudoraSent,
      kEudoraQueued, kEudoraRead, kEudoraRead,    kEudoraForwarded, kEudoraRead};
  bench.message = EudoraMessage(headers + "\r\n" + body, kStates[number % 10]);
  return bench;
}

void WriteBenchFile(const std::filesystem::path& path, const std::string& bytes,
                    EudoraStoreTotals& totals) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
  totals.file_bytes += bytes.size();
}

}  // namespace

EudoraStoreTotals WriteEudoraBenchStore(const std::filesystem::path& dir, std::uint64_t bytes) {
  constexpr int kMailboxCount = kBenchTopFolders * (1 + kBenchSubfoldersPerTop);
  const std::uint64_t per_mailbox = bytes / kMailboxCount + 1;
  std::filesystem::create_directories(dir / "attach");
  BenchRandom random(0x2545F4914F6CDD1DULL);
  EudoraStoreTotals totals;
  std::vector<EudoraMapEntry> root_map;
  int number = 0;
  for (int top = 0; top < kBenchTopFolders; ++top) {
    const std::string folder = "Folder" + std::to_string(top);
    root_map.push_back({folder, folder + ".fol", "F", "N"});
    std::filesystem::create_directories(dir / (folder + ".fol"));
    std::vector<EudoraMapEntry> folder_map;
    for (int box = 0; box <= kBenchSubfoldersPerTop; ++box) {
      const std::string name = "Box" + std::to_string(box);
      folder_map.push_back({name, name + ".mbx", "S", "N"});
      std::vector<EudoraMessage> messages;
      std::uint64_t written = 0;
      while (written < per_mailbox) {
        BenchMessage bench = MakeBenchMessage(random, ++number);
        written += bench.message.text.size() + bench.attachment_bytes.size();
        if (!bench.attachment.empty()) {
          WriteBenchFile(dir / "attach" / bench.attachment, bench.attachment_bytes, totals);
          ++totals.attachments;
        }
        messages.push_back(std::move(bench.message));
      }
      totals.messages += messages.size();
      const std::filesystem::path base = dir / (folder + ".fol") / name;
      WriteBenchFile(base.string() + ".mbx", EudoraMailboxFile(messages), totals);
      WriteBenchFile(base.string() + ".toc", EudoraTocFile(name, 4, messages), totals);
    }
    WriteBenchFile(dir / (folder + ".fol") / "descmap.pce", EudoraFolderMap(folder_map), totals);
  }
  WriteBenchFile(dir / "descmap.pce", EudoraFolderMap(root_map), totals);
  WriteBenchFile(dir / "eudora.ini", "[Settings]\r\nRealName=Bench Reader\r\n", totals);
  return totals;
}

}  // namespace kv::testing
