#pragma once
// The registration of the server's classes for the current user: one D-Bus service file,
// "<folder>/org.kvnorvale.Kvfltrs.service", which lets the session bus start the server
// ("kvfltrs -Embedding") when a client first calls its well-known name. Besides what the bus reads
// (the name and the command), the file lists the registered classes, one comment line each, so
// that each class is registered and removed on its own; the file goes when its last class goes.
// Nothing else in the folder is ever touched.

#include <optional>
#include <string>
#include <vector>

#include "app/filter_classes.h"

namespace kv::bus {

class ServiceFileRegistration {
 public:
  // `services_folder`: where the session bus looks for service files of this user; `server_path`:
  // the absolute path of the server program the bus is to start.
  ServiceFileRegistration(std::string services_folder, std::string server_path);

  // $XDG_DATA_HOME/dbus-1/services when XDG_DATA_HOME is an absolute path, otherwise
  // $HOME/.local/share/dbus-1/services (HOME from the password database when unset). Empty when
  // no home folder is known.
  static std::string DefaultServicesFolder();
  // The path of the running program (/proc/self/exe); empty when it cannot be read.
  static std::string RunningProgram();

  const std::string& file_path() const { return file_path_; }

  // Adds the class and (re)writes the file with the current program; creates the folder as
  // needed. The file is replaced atomically: a reader never sees half of it.
  bool Add(const FilterClass& filter_class);
  // Removes the class; removes the file when no class is left in it. True when the class is no
  // longer registered afterwards (also when it never was).
  bool Remove(const FilterClass& filter_class);

  // The ProgIDs the file lists now, in the order of the class table; empty without a file.
  std::vector<std::string> RegisteredProgIds() const;

  // The file's text for `prog_ids` (classes of the class table, by ProgID).
  std::string FileText(const std::vector<std::string>& prog_ids) const;

 private:
  bool Write(const std::vector<std::string>& prog_ids);

  std::string folder_;
  std::string server_path_;
  std::string file_path_;
};

// `word` as one word of a service file's Exec line, quoted when the bus's shell-like reading of
// the line would otherwise split or change it.
std::string ExecWord(const std::string& word);

}  // namespace kv::bus
