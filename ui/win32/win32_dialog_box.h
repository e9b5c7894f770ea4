#pragma once
// A dialog controller shown as a real Win32 dialog box: the template of the controller's
// TemplateId() is loaded from the program's resources, window messages become controller events,
// and what the controller asks of its view is done to the controls with the usual messages.

#include "platform/user_interface.h"

namespace kv::ui {

// Runs `dialog` modally over `owner` (0 for none) and returns the value the controller gave to
// EndDialog. When the template cannot be loaded or the dialog box cannot be created, nothing is
// shown and the result is kIdCancel, as if the user had cancelled.
int RunWin32DialogBox(platform::WindowHandle owner, platform::Dialog& dialog);

}  // namespace kv::ui
