#include "app/import_filter.h"

namespace kv {
namespace {
int g_server_locks = 0;
}  // namespace

void ServerLock::Lock() { ++g_server_locks; }
void ServerLock::Unlock() { --g_server_locks; }
int ServerLock::Count() { return g_server_locks; }

ImportFilter::ImportFilter() { ServerLock::Lock(); }
ImportFilter::~ImportFilter() { ServerLock::Unlock(); }

}  // namespace kv
