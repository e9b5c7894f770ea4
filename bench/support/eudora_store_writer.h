#pragma once
// Writes Eudora stores for tests, samples, fuzz seeds and benchmarks: folder maps, mailboxes,
// summaries and the settings file.
//
// Written from the file layout the mail client uses, independently of the reader:
// - "descmap.pce" in every folder: one line "name,file,type,flag" with CR LF per mailbox (type S,
//   file NAME.mbx) or subfolder (type F, a directory NAME.fol).
// - ".mbx": per message a separator line "From ???@??? <date>", the message's header block, an
//   empty line and its body, every line ended by CR LF.
// - ".toc": a 104-byte header (version "1", the mailbox name at 8, its kind at 40, the message
//   count at 102), then per message a 218-byte record: offset and length of the message in the
//   mailbox (32-bit little-endian at 0 and 4), a time at 8, the state at 12, the encoding byte at
//   14, the MIME byte at 15, the priority at 16, and date, sender and subject texts at 18, 50, 114.
// - "eudora.ini": a "[Settings]" section of key=value lines.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kv::platform {
class MemoryFileSystem;
}

namespace kv::testing {

inline constexpr std::size_t kEudoraTocHeaderSize = 104;
inline constexpr std::size_t kEudoraTocRecordSize = 218;

// Summary states.
enum EudoraState : std::uint8_t {
  kEudoraUnread = 0,
  kEudoraRead = 1,
  kEudoraReplied = 2,
  kEudoraForwarded = 3,
  kEudoraRedirected = 4,
  kEudoraUnsendable = 5,
  kEudoraSendable = 6,
  kEudoraQueued = 7,
  kEudoraSent = 8,
  kEudoraUnsent = 9,
};

// Summary priorities, 1 highest to 5 lowest.
inline constexpr std::uint8_t kEudoraNormalPriority = 3;

struct EudoraMessage {
  EudoraMessage() = default;
  EudoraMessage(std::string message_text, std::uint8_t summary_state = kEudoraRead)
      : text(std::move(message_text)), state(summary_state) {}

  // Header block, empty line and body, with CR LF line ends; without the separator line. A text
  // that does not end in a line end gets CR LF in the mailbox.
  std::string text;
  std::uint8_t state = kEudoraRead;
  std::uint8_t priority = kEudoraNormalPriority;
  std::uint8_t encoding = 0;  // summary byte 14: "=" when quoted-printable was asked for
  std::uint8_t mime = 0;      // summary byte 15
  std::string separator_date = "Mon Dec 13 18:45:29 2010";
};

// The separator line of a message, without its line end.
std::string EudoraSeparatorLine(const EudoraMessage& message);
// The bytes of a mailbox file.
std::string EudoraMailboxFile(const std::vector<EudoraMessage>& messages);
// The bytes of a summary file for those messages in that mailbox (`kind`: 0 In, 1 Out, 2 Junk,
// 3 Trash, 4 any other mailbox).
std::string EudoraTocFile(const std::string& mailbox_name, std::uint16_t kind,
                          const std::vector<EudoraMessage>& messages);

struct EudoraMapEntry {
  std::string name;
  std::string file;
  std::string type;  // "S" mailbox, "F" folder
  std::string flag = "N";
};
std::string EudoraFolderMap(const std::vector<EudoraMapEntry>& entries);

// A whole store, as relative path ("/"-separated) -> bytes.
class EudoraStore {
 public:
  // Adds a mailbox NAME.mbx (and NAME.toc, unless `with_toc` is false) to the folder with display
  // path `folder` ("" for the store's root, "Projects/Old" below it).
  void AddMailbox(const std::string& folder, const std::string& name,
                  std::vector<EudoraMessage> messages = {}, bool with_toc = true);
  // Adds a subfolder NAME (directory NAME.fol with its own folder map).
  void AddFolder(const std::string& folder, const std::string& name);
  // Adds a line to the folder map of `folder` as it stands, after the entries added so far.
  void AddMapLine(const std::string& folder, const std::string& line);
  // A value in the settings file's "[Settings]" section.
  void SetSetting(const std::string& key, const std::string& value);
  // Any other file, such as an attachment: `relative` uses "/" between folders.
  void AddFile(const std::string& relative, std::string bytes);
  // The settings file's name ("eudora.ini"; the real stores also spell it "Eudora.ini").
  void SetSettingsFileName(std::string name) { settings_file_ = std::move(name); }

  std::map<std::string, std::string> Files() const;
  void WriteTo(const std::filesystem::path& dir) const;
  // Adds the files below `dir` ("C:\Eudora") of a memory file system.
  void AddTo(platform::MemoryFileSystem& files, const std::string& dir) const;

  // The relative directory of a folder's display path ("Projects/Old" -> "Projects.fol/Old.fol").
  std::string DirectoryOf(const std::string& folder) const;

 private:
  struct Line {
    std::string folder;
    std::string text;          // the map line without its line end
    std::string mailbox_name;  // mailboxes only
    std::vector<EudoraMessage> messages;
    bool mailbox = false;
    bool with_toc = true;
  };
  std::vector<Line> lines_;
  std::map<std::string, std::string> folder_dirs_{{"", ""}};
  std::vector<std::pair<std::string, std::string>> settings_;
  std::map<std::string, std::string> extra_files_;
  std::string settings_file_ = "eudora.ini";
};

// A plain message for tests: From, To, Subject "Message n" and Date headers, `extra_headers`
// (each line ending in CR LF), an empty line and `body` (by default a line naming n).
std::string EudoraTestMessage(int n, const std::string& extra_headers = "",
                              const std::string& body = "");

}  // namespace kv::testing
