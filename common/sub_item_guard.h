#pragma once
// The exception handling GetSubItem of the Netscape and both Outlook Express filters share: a
// property's value is built inside a guard, and an exception on the way becomes a message box over
// the host window and a null string, never an exception crossing the dispatch interface.

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/user_interface.h"

namespace kv {

// A file error on the way to a property's value; reported with string 104.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The value `build` returns. When it throws: a FileError shows string 104 ("File I/O Error. Hard
// disk can be full."), any other std::exception (running out of memory among them) string 105
// ("Out of memory"), both with caption 57344 and an OK button over `owner`; an exception of any
// other type is swallowed. Then nullopt (a null string).
std::optional<std::string> GuardSubItem(platform::UserInterface& ui, platform::WindowHandle owner,
                                        const std::function<std::string()>& build);

}  // namespace kv
