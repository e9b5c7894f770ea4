#pragma once
// One run of the summary fuzzer, shared by the fuzz target and the test that replays its corpus:
// the input is a whole ".snm" summary, opened and stepped through as GoNext does.

#include <cstddef>
#include <string>
#include <string_view>

#include "netscape/summary_reader.h"
#include "platform/diagnostics.h"
#include "platform/fake/memory_file_system.h"

namespace kv::fuzz {

// The number of messages listed, or -1 when the reader broke a promise: a listing that does not
// match its count, more entries than the file has room for, a result that differs on a second
// open, or a reader left open after listing nothing.
inline int RunSummaryFuzz(std::string_view bytes) {
  constexpr const char* kPath = "C:\\Mail\\Inbox.snm";
  platform::MemoryFileSystem files;
  platform::DiagnosticLog diagnostics;
  files.AddFile(kPath, std::string(bytes));
  SummaryReader reader(files, diagnostics);

  const bool opened = reader.Open(kPath, "Netscape Messenger 4.7/Inbox");
  const std::size_t count = reader.MessageCount();
  if (opened != (count > 0) || opened != reader.IsOpen()) return -1;
  // Each listed message has its own 8-byte pair in an index node inside the file.
  if (count > bytes.size() / 8) return -1;
  std::size_t stepped = 0;
  for (bool more = reader.NextMessage(true); more; more = reader.NextMessage(false)) {
    ++stepped;
    (void)reader.IsUnsent();
    (void)reader.IsUnread();
  }
  if (stepped != count) return -1;
  if (opened && reader.Open(kPath)) return -1;  // refused while open
  reader.Close();
  if (reader.Open(kPath) != opened || reader.MessageCount() != count) return -1;
  return static_cast<int>(count);
}

}  // namespace kv::fuzz
