#pragma once
// The buttons of a message box style (MB_OK, MB_YESNO, ...), as every front needs them: which
// answers a box can give, and the one it gives when it is closed without a choice.

#include <vector>

namespace kv::ui {

// The button codes of `style`'s buttons, in the order the box shows them.
std::vector<int> MessageBoxButtons(unsigned style);

// The answer of a box closed without a choice: Cancel where there is one, No for Yes/No, Abort
// for Abort/Retry/Ignore, OK for a box with only OK.
int ClosedAnswer(unsigned style);

}  // namespace kv::ui
