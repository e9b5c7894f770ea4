#include "support/oe4_generated_stores.h"

#include <fstream>
#include <stdexcept>

#include "fuzz/oe4_fuzz_input.h"

namespace kv::testing {
namespace {

struct Mail {
  Mail(std::string from_, std::string to_, std::string subject_, std::string date_,
       std::string body_, std::string extra_headers_ = "", bool received_ = true)
      : from(std::move(from_)),
        to(std::move(to_)),
        subject(std::move(subject_)),
        date(std::move(date_)),
        body(std::move(body_)),
        extra_headers(std::move(extra_headers_)),
        received(received_) {}

  std::string from;
  std::string to;
  std::string subject;
  std::string date;
  std::string body;
  std::string extra_headers;
  bool received;
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
                  "From the floor: nobody objected to the new schedule.\r\n\r\nAnna\r\n"},
                 ++n, 0x10),
          Stored({kBruno, kReader,
                  "=?iso-8859-1?Q?Re=3A_caf=E9_on_Friday=3F?=", "Wed, 4 Aug 1999 17:40:02 +0200",
                  "Bonjour Pat,\r\n\r\nFriday at the caf\xE9 near the station suits me.\r\n\r\n"
                  "Bruno\r\n"},
                 ++n, 0x12),
          Stored({kAnna, kReader, "Old draft notes (deleted)", "Mon, 2 Aug 1999 08:00:00 +0200",
                  "This message was deleted and must not be imported.\r\n"},
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
                               "1. Collect requirements\r\n2. Review\r\n3. Ship\r\n"},
                              ++n, 0x12)},
                      "Projects");
  store.AddFolder("Archive 1998", projects,
                  {Stored({kBruno, kReader, "Year-end figures", "Wed, 30 Dec 1998 10:15:00 +0100",
                           "The figures for 1998 are final.\r\n"},
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
               "The photos are on their way by post.\r\n"},
              ++n, 0x12)},
      "Prive");
  return store;
}

std::vector<std::pair<std::string, std::string>> Oe4FuzzSeeds() {
  using fuzz::EncodeOe4FuzzInput;
  using fuzz::Oe4FuzzInput;
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
      {"flat", EncodeOe4FuzzInput({0, Oe4FoldersFile(flat, Oe4Layout::kFirst), idx, mbx})},
      {"nested-second-layout",
       EncodeOe4FuzzInput(
           {fuzz::kKeepEmptyFolders, Oe4FoldersFile(nested, Oe4Layout::kSecond), idx, mbx})},
      {"sticky-layout", EncodeOe4FuzzInput({fuzz::kSecondLayoutSticky,
                                            Oe4FoldersFile(nested, Oe4Layout::kFirst), idx, mbx})},
      {"listing", EncodeOe4FuzzInput({fuzz::kNoFoldersFile, "", idx, mbx})},
      {"empty-folder",
       EncodeOe4FuzzInput({fuzz::kKeepEmptyFolders, Oe4FoldersFile(flat, Oe4Layout::kFirst),
                           Oe4IndexFile({}), Oe4MailboxFile({})})},
      {"zero-index-length", EncodeOe4FuzzInput({0, Oe4FoldersFile(flat, Oe4Layout::kFirst),
                                                Oe4IndexFile(zero_length), mbx})},
  };
}

std::uint64_t WriteOe4BenchStore(const std::filesystem::path& dir, std::uint64_t message_bytes) {
  constexpr std::uint64_t kFolderBytes = 24 * 1024 * 1024;
  std::filesystem::create_directories(dir);
  // A fixed linear congruential sequence: the same store on every run.
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  const std::string words[] = {"import", "mailbox", "folder", "message", "status", "header",
                               "store",  "index",   "record", "quarter", "budget", "meeting"};

  Oe4Store store;
  std::uint64_t written = 0;
  std::uint64_t total = 0;
  int message_number = 0;
  for (int folder = 1; written < message_bytes; ++folder) {
    std::vector<Oe4Message> messages;
    std::uint64_t folder_bytes = 0;
    while (folder_bytes < kFolderBytes && written + folder_bytes < message_bytes) {
      std::string body;
      const std::size_t body_size = 1024 + next() % (48 * 1024);
      while (body.size() < body_size) {
        for (int w = 0; w < 12; ++w) body += words[next() % std::size(words)] + " ";
        body += "\r\n";
      }
      static const std::uint8_t kFlags[] = {0x10, 0x12, 0x00, 0x08, 0x10, 0x10, 0x01};
      Oe4Message message{Oe4TestMessage(++message_number) + body,
                         kFlags[next() % std::size(kFlags)], std::nullopt};
      folder_bytes += message.text.size();
      messages.push_back(std::move(message));
    }
    written += folder_bytes;
    const std::string name = "Folder " + std::to_string(folder);
    const std::string base = "folder" + std::to_string(folder);
    store.folders.push_back({static_cast<std::uint32_t>(folder), name, base, 0});
    for (const auto& [suffix, bytes] :
         {std::pair<std::string, std::string>{".mbx", Oe4MailboxFile(messages)},
          std::pair<std::string, std::string>{".idx", Oe4IndexFile(messages)}}) {
      std::ofstream out(dir / (base + suffix), std::ios::binary);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out) throw std::runtime_error("cannot write " + (dir / (base + suffix)).string());
      total += bytes.size();
    }
  }
  const std::string nch = Oe4FoldersFile(store.folders, Oe4Layout::kFirst);
  std::ofstream out(dir / "folders.nch", std::ios::binary);
  out.write(nch.data(), static_cast<std::streamsize>(nch.size()));
  if (!out) throw std::runtime_error("cannot write folders.nch");
  return total + nch.size();
}

}  // namespace kv::testing
