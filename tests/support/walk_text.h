#pragma once
// A filter's walk and reports as text, one line each, for golden files (support/golden.h): what a
// host learns of every item, and what the filter said it left out. Any filter's tests can use it.
//
//   Inbox/Old | status 0 | state 6 | 612 bytes 1f0c9a53b2de7744 "Message 3"
//   Trash | status 1 | state 0 | empty-folder marker
//   ! Inbox: Inbox.idx at offset 72: index record cut off; lost: the rest of the folder

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "support/filter_fixture.h"

namespace kv::testing {

// "<size> bytes <FNV-1a 64 of the bytes> "<its Subject value>"": the digest tells any two
// different texts apart; the subject says which test message it is.
inline std::string DescribeBytes(const std::string& bytes) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  char digest[17];
  std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(hash));
  std::string text = std::to_string(bytes.size()) + " bytes " + digest;
  const std::size_t subject = bytes.find("Subject: ");
  if (subject != std::string::npos) {
    const std::size_t from = subject + 9;
    text += " \"" + bytes.substr(from, bytes.find_first_of("\r\n", from) - from) + "\"";
  }
  return text;
}

// One line per item: its folder, status, state, and what its file holds (the message, the
// empty-folder marker, no file named, or a named file that is not there).
inline std::string WalkText(const std::vector<WalkedItem>& items) {
  std::string text;
  for (const WalkedItem& item : items) {
    text += item.folder + " | status " + std::to_string(item.status) + " | state " +
            std::to_string(item.state) + " | ";
    if (!item.file) {
      text += "no file";
    } else if (*item.file == kEmptyFolderMarker) {
      text += "empty-folder marker";
    } else {
      text += item.message ? DescribeBytes(*item.message) : "file missing";
    }
    text += "\n";
  }
  return text;
}

// One line per report, "! " and the report as a person reads it; an output failure says so.
inline std::string DiagnosticsText(const std::vector<platform::Diagnostic>& entries) {
  std::string text;
  for (const platform::Diagnostic& entry : entries) {
    text += "! ";
    if (entry.kind == platform::DiagnosticKind::kOutputFailure) text += "output failure: ";
    text += platform::FormatDiagnostic(entry) + "\n";
  }
  return text;
}

}  // namespace kv::testing
