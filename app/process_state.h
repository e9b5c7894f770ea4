#pragma once
// Everything the server keeps for the whole process rather than per filter object, in one place.
// One server process serves every filter object the host creates, and these values are shared by
// all of them: what one object leaves behind, the next one finds. Each starts at the value given
// here; ResetProcessState() returns them all to it (tests run many imports in one process).

#include <atomic>

#include "platform/user_interface.h"

namespace kv {

// Filter objects alive: each holds one lock from construction to destruction (see ServerLock), and
// the server process may end when the count returns to zero. Atomic, because a server may create
// and release objects on more than one thread. 0 at start.
extern std::atomic<int> g_serverLocks;

// The host window of the last SetParent on any Outlook Express 4 filter object, the owner of that
// filter's dialogs and message boxes. 0 at start.
extern platform::WindowHandle g_oeHostWindow;

// Set once any "folders.nch" of the second record layout has been read; from then on every later
// one is read with that layout, whatever its own layout field says. false at start.
extern bool g_bFoldersSecondLayout;

// 1 when the last Outlook Express 4 folder dialog was confirmed with "Skip Empty Folders"
// unchecked, 0 when it was checked; Cancel leaves it. With 1 the mailbox reader hands over each
// empty folder as a "!!!Empty" marker. 0 at start.
extern int g_bReportEmptyFolders;

// Every value above but the lock count (which counts objects still alive) back to its start value.
// For tests; the server never calls it.
void ResetProcessState();

}  // namespace kv
