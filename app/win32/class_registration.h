#pragma once
// The registry entries that let COM find the server's classes, as an automation server of
// dispatch objects writes them: the ProgID names its class ID, and the class ID names its ProgID
// and the server program. They go under HKEY_LOCAL_MACHINE\Software\Classes when the user may
// write there, else under HKEY_CURRENT_USER\Software\Classes; both appear in HKEY_CLASSES_ROOT.
//
//   <ProgID>                        (default) <ProgID>
//   <ProgID>\CLSID                  (default) {class ID}
//   CLSID\{class ID}                (default) <ProgID>
//   CLSID\{class ID}\ProgID         (default) <ProgID>
//   CLSID\{class ID}\LocalServer32  (default) the server's path, quoted when it holds a blank

#include <string>

#include "app/filter_classes.h"

namespace kv::com {

// The command line COM starts the server with (before it adds the embedding switch).
std::string ServerCommand(const std::string& program_path);

// Writes the class's entries for the machine, or for the user when the machine's classes may not
// be written. True when every value was written.
bool RegisterServerClass(const FilterClass& filter_class, const std::string& program_path);

// Removes the class's ProgID and class ID keys with everything below them, for the machine and
// for the user. True when no entry is left.
bool UnregisterServerClass(const FilterClass& filter_class);

}  // namespace kv::com
