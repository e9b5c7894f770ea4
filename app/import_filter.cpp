#include "app/import_filter.h"

#include "app/process_state.h"

namespace kv {

void ServerLock::Lock() { ++g_serverLocks; }
void ServerLock::Unlock() { --g_serverLocks; }
int ServerLock::Count() { return g_serverLocks; }

ImportFilter::ImportFilter() { ServerLock::Lock(); }
ImportFilter::~ImportFilter() { ServerLock::Unlock(); }

}  // namespace kv
