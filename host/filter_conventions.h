#pragma once
// What the host adapts, filter by filter, in what a filter hands over before it writes it out:
//  - Netscape and Outlook Express 5 name every folder below the root item of their folder dialog
//    ("Netscape Messenger 4.7/Inbox", "Local Folders/Inbox"); the output leaves that root out, so
//    that folders are named as the dialog tree shows them below the root, as --start and --inbox
//    name them.
//  - Netscape hands each message over with the mailbox separator line ("From - <date>") it had in
//    its mailbox; Maildir and mbox leave that line out (mbox writes its own From_ line), .eml keeps
//    the bytes as handed over.
//  - Outlook Express 4 pads messages with NUL bytes up to its record size; only its messages lose
//    trailing NULs.
//  - Eudora calls its inbox "In"; the others "Inbox". That folder becomes the Maildir's INBOX
//    unless --inbox names another.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv::host {

struct FilterConventions {
  bool folders_below_root = false;    // folder paths start with the folder dialog's root label
  bool separator_line = false;        // a message may start with a mailbox separator line
  bool trailing_nul_padding = false;  // messages may end in NUL padding
  std::string_view inbox = "Inbox";   // the store's folder for incoming mail
};

// The conventions of a filter by its short name ("oe4"); none for an unknown one.
FilterConventions ConventionsFor(std::string_view filter);

// Maps the folder paths a filter hands over to the paths the output uses.
class OutputFolders {
 public:
  // `root`: the folder dialog's root label, when known; otherwise the first level of the first
  // folder seen is taken as the root. Only used when `below_root`.
  OutputFolders(bool below_root, std::optional<std::string> root);

  // The path without its root level ("Netscape Messenger 4.7/Inbox" becomes "Inbox"); a path that
  // is the root alone, or does not start with it, stays as it is.
  std::string Map(const std::string& folder);

 private:
  bool below_root_;
  std::optional<std::string> root_;
};

// The length of the mailbox separator line ("From " up to and with its line end) a message starts
// with, from its first bytes `head`, within its `length` bytes; 0 when it starts with none.
std::uint64_t SeparatorLineLength(std::string_view head, std::uint64_t length);

}  // namespace kv::host
