#pragma once
// The two writers that lay folders out as a directory tree:
//  - mbox: folder A/B is the mboxrd file ROOT/A/B.mbox (a folder's subfolders live in the directory
//    of its name beside its .mbox file). Each message starts with a From_ line (sender and date
//    from its headers, the date in UTC); lines matching ">*From " gain a ">"; the message's bytes
//    are otherwise kept (CR LF stays CR LF); a line feed ends an unfinished last line, and an empty
//    line follows every message. A file that existed before the run is refused unless appending.
//  - eml: folder A/B is the directory ROOT/A/B holding 000001.eml, 000002.eml, ... in walk order,
//    each the message's bytes as handed over; an existing name is never replaced, the next free
//    number is taken instead. The file time is the message's date.
// Levels are made safe as file names with SafeFileName.

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "host/message_sink.h"

namespace kv::host {

class MboxWriter final : public MessageSink {
 public:
  MboxWriter(std::string root, bool append);
  ~MboxWriter() override;

  // The mbox file of a folder.
  std::string MboxPath(const std::string& display_path) const;

  WriteOutcome Start() override;
  WriteOutcome CreateFolder(const std::string& display_path) override;
  WriteOutcome AddMessage(const std::string& display_path,
                          const HandedOverMessage& message) override;
  WriteOutcome Finish() override;

 private:
  // Makes `path` the current file: created, or (once per run) accepted for appending.
  WriteOutcome Open(const std::string& path);
  WriteOutcome CloseCurrent();
  WriteOutcome WriteMessage(const HandedOverMessage& message);

  std::string root_;
  bool append_;
  std::set<std::string> accepted_;
  std::string current_path_;
  std::FILE* current_ = nullptr;
};

class EmlWriter final : public MessageSink {
 public:
  explicit EmlWriter(std::string root);

  std::string FolderPath(const std::string& display_path) const;

  WriteOutcome Start() override;
  WriteOutcome CreateFolder(const std::string& display_path) override;
  WriteOutcome AddMessage(const std::string& display_path,
                          const HandedOverMessage& message) override;

 private:
  std::string root_;
  std::set<std::string> ready_;
  std::map<std::string, unsigned> next_number_;
};

}  // namespace kv::host
